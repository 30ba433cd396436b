// CServerExtension: the server-extension frame, its command maps and its dispatch results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include "isapi.h"
#include "output_stream.h"
#include "request_context.h"
#include "winapi.h"

class CServerExtension;

// The result of dispatching one request; the frame maps each to an HTTP status.
enum DispatchResult {
  DISPATCH_DONE = 0,    // the handler was called and returned (status stays 200)
  DISPATCH_ARG_COUNT,   // too many or too few parameters for the command (400)
  DISPATCH_NO_COMMAND,  // no request text, or a command the maps lack (501)
  DISPATCH_NO_STREAM,   // no output stream could be made (204)
  DISPATCH_FAULT,       // an exception left the dispatch or the handler (500)
};

// Argument type codes of a command-map row, one byte per parameter.
constexpr char ARG_SHORT = 1;   // 16-bit integer
constexpr char ARG_LONG = 2;    // 32-bit integer
constexpr char ARG_FLOAT = 3;   // single-precision number
constexpr char ARG_DOUBLE = 4;  // double-precision number
constexpr char ARG_STRING = 5;  // text, URL-decoded in place
constexpr char ARG_END = 6;     // no parameters; ends the list

// The most parameters one command can take.
constexpr size_t COMMAND_MAX_ARGS = 16;

// One converted parameter, as the type code of its position says.
union COMMAND_ARG {
  int16_t nShort;
  int32_t nLong;
  float fFloat;
  double dDouble;
  char* pszString;
};

// Calls one command on the extension object with the request's context and its converted
// parameters, in the order of the row's type string.
using COMMAND_HANDLER = void (*)(CServerExtension* pExtension, CRequestContext* pCtxt,
                                 const COMMAND_ARG* pArgs);

// One row of a command table. A row without handler is the parameter-names row of the row
// before it; a row with a handler but without argument types is the default-command row.
struct COMMAND_MAP_ENTRY {
  const char* pszName;
  COMMAND_HANDLER pfnHandler;
  const char* pszArgTypes;
  const char* pszParamNames;
};

// The command table of one class: its rows and the map searched after it.
struct COMMAND_MAP {
  size_t (*pfnGetEntryCount)();
  const COMMAND_MAP* pBaseMap;
  const COMMAND_MAP_ENTRY* pEntries;
};

namespace command_detail {

template <class A>
constexpr char ArgCode() {
  if constexpr (std::is_same_v<A, int16_t>)
    return ARG_SHORT;
  else if constexpr (std::is_same_v<A, int32_t>)
    return ARG_LONG;
  else if constexpr (std::is_same_v<A, float>)
    return ARG_FLOAT;
  else if constexpr (std::is_same_v<A, double>)
    return ARG_DOUBLE;
  else if constexpr (std::is_same_v<A, char*>)
    return ARG_STRING;
  else
    static_assert(sizeof(A) == 0, "a command parameter is short, int32, float, double or char*");
}

template <class A>
A ArgValue(const COMMAND_ARG& arg) {
  if constexpr (std::is_same_v<A, int16_t>)
    return arg.nShort;
  else if constexpr (std::is_same_v<A, int32_t>)
    return arg.nLong;
  else if constexpr (std::is_same_v<A, float>)
    return arg.fFloat;
  else if constexpr (std::is_same_v<A, double>)
    return arg.dDouble;
  else
    return arg.pszString;
}

template <class F>
struct CCommandTraits;

template <class R, class T, class... A>
struct CCommandTraits<R (T::*)(CRequestContext*, A...)> {
  static_assert(sizeof...(A) <= COMMAND_MAX_ARGS, "too many command parameters");
  using Class = T;
  // The row's type string: one code per parameter, or ARG_END for none.
  static constexpr char szArgTypes[] = {ArgCode<A>()..., sizeof...(A) == 0 ? ARG_END : '\0', '\0'};

  template <R (T::*pfn)(CRequestContext*, A...), size_t... I>
  static void Call(T* pObject, CRequestContext* pCtxt, const COMMAND_ARG* pArgs,
                   std::index_sequence<I...>) {
    (pObject->*pfn)(pCtxt, ArgValue<A>(pArgs[I])...);
  }
  template <R (T::*pfn)(CRequestContext*, A...)>
  static void Invoke(CServerExtension* pExtension, CRequestContext* pCtxt,
                     const COMMAND_ARG* pArgs) {
    Call<pfn>(static_cast<T*>(pExtension), pCtxt, pArgs, std::index_sequence_for<A...>{});
  }
};

}  // namespace command_detail

// Rows of a command table, built from a member operation `pfn` of the extension class whose
// parameters are (CRequestContext*, then short/int32_t/float/double/char* parameters).
// COMMAND_ENTRY names a command; DEFAULT_COMMAND_ENTRY makes `pfn` the default command.
#define COMMAND_ENTRY(name, pfn)                                                \
  COMMAND_MAP_ENTRY {                                                           \
    name, &command_detail::CCommandTraits<decltype(pfn)>::template Invoke<pfn>, \
        command_detail::CCommandTraits<decltype(pfn)>::szArgTypes, nullptr      \
  }
#define DEFAULT_COMMAND_ENTRY(name, pfn)                                                         \
  COMMAND_MAP_ENTRY {                                                                            \
    name, &command_detail::CCommandTraits<decltype(pfn)>::template Invoke<pfn>, nullptr, nullptr \
  }

// The frame's extension base class. Its constructor registers the object as the process's
// extension object (the two exports reach it through GetServerExtension); its destructor
// clears that registration. Construct exactly one per process.
class CServerExtension {
 public:
  explicit CServerExtension(char chParamSeparator);
  CServerExtension(const CServerExtension&) = delete;
  CServerExtension& operator=(const CServerExtension&) = delete;
  virtual ~CServerExtension();

  // Finds the command that the request text (writable, or null) names, binds its parameters
  // and calls it. `pszCommand` is null for a GET and the URL query text for a POST.
  virtual DispatchResult DispatchCommand(CRequestContext* pCtxt, char* pszRequest,
                                         char* pszCommand);
  // Writes the error page for the request's dwHttpStatusCode into the context's output stream
  // (the page does not depend on `nResult`). False, with nothing written, when the context
  // has no stream or the page's text cannot be had. A command may set dwHttpStatusCode (404,
  // 500, ...) and call this itself; the frame then sends the page after DISPATCH_DONE.
  virtual BOOL ReportParseError(CRequestContext* pCtxt, DispatchResult nResult);
  // Page pieces; each writes only when the context has an output stream.
  virtual void WritePageEnd(CRequestContext* pCtxt);
  virtual void WriteContentType(CRequestContext* pCtxt);
  virtual void WritePageHead(CRequestContext* pCtxt);
  virtual const char* GetPageTitle();
  // Handles one request from start to finish; HSE_STATUS_SUCCESS or HSE_STATUS_ERROR, with
  // the request's status left in dwHttpStatusCode. Throws nothing.
  virtual DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
  // Fills the version record: interface version 2.0 and an empty description.
  virtual BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer);
  // A new, empty output stream with the growth step 4096, or null when none can be made.
  virtual std::unique_ptr<COutputStream> CreateOutputStream();
  // Per-request hook before dispatch; true lets the request proceed.
  virtual BOOL BeginRequest(CRequestContext* pCtxt);
  // The class's command table; the base class has none.
  virtual const COMMAND_MAP* GetCommandMap();

  // Reads a POST body of cbTotalBytes into `pBuffer` (cbTotalBytes + 1 bytes) and terminates
  // it. Returns pBuffer, or null when the body cannot be read whole.
  char* ReadRequestBody(CRequestContext* pCtxt, char* pBuffer);
  // Writes "%d %s" of the code and its status text (code 200 "OK" for an unknown code) into
  // `pszLine`, at most 63 characters and the terminator.
  static void BuildStatusLine(DWORD dwStatus, char (&pszLine)[64]);
  // Finds the row to call for `pszName` (null: the default command) and that row's
  // parameter-names row (or null). False when there is none.
  bool FindCommand(const char* pszName, const COMMAND_MAP_ENTRY** ppEntry,
                   const COMMAND_MAP_ENTRY** ppParamNames);
  // Binds the parameter text (or null) to the row's types and calls its handler.
  DispatchResult CallHandler(CRequestContext* pCtxt, const COMMAND_MAP_ENTRY* pEntry,
                             const COMMAND_MAP_ENTRY* pParamNames, char* pszParams);
  // Splits `pszParams` (or null) into one token per type code, in place, and converts each;
  // at most COMMAND_MAX_ARGS go to `pArgs`. DISPATCH_DONE or DISPATCH_ARG_COUNT.
  DispatchResult BindArguments(const char* pszArgTypes, char* pszParams, COMMAND_ARG* pArgs);
  // Decodes "+" and %XX in place (a bad escape becomes "?"); returns `pszText`.
  static char* DecodeParameter(char* pszText);
  // Appends a header line to the context's stream (which must exist) and marks the end of the
  // header lines there.
  static void AddHeaderLine(CRequestContext* pCtxt, const char* pszText);

  // The largest POST body the frame accepts, in bytes.
  static constexpr DWORD kMaxBodyBytes = 1 << 20;

 protected:
  static const COMMAND_MAP s_commandMap;

 private:
  const char m_chParamSeparator;
};

// The process's extension object, or null before load and after unload.
CServerExtension* GetServerExtension();
