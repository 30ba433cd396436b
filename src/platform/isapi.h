// The web server's extension interface, as the host and the extension share it.
#pragma once

#include <cstdint>

extern "C" {

using DWORD = uint32_t;
using BOOL = int32_t;
using HCONN = void*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = unsigned char*;

constexpr DWORD HSE_STATUS_SUCCESS = 1;
constexpr DWORD HSE_STATUS_ERROR = 4;
constexpr DWORD HSE_REQ_SEND_RESPONSE_HEADER = 3;
constexpr DWORD HSE_MAX_EXT_DLL_NAME_LEN = 256;
constexpr DWORD HSE_LOG_BUFFER_LEN = 80;

// The interface version the extension reports: major in the high 16 bits, minor in the low.
constexpr DWORD HSE_VERSION_MAJOR = 2;
constexpr DWORD HSE_VERSION_MINOR = 0;

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

// One request, filled in by the server. The callbacks are the server's; every one takes the
// request's ConnID first.
struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;

  BOOL (*GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                            LPDWORD lpdwSize);
  BOOL (*WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL (*ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL (*ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer,
                                LPDWORD lpdwSize, LPDWORD lpdwDataType);
};

// The two entry points an extension library exports.
BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer);
DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);

using PFN_GETEXTENSIONVERSION = BOOL (*)(HSE_VERSION_INFO*);
using PFN_HTTPEXTENSIONPROC = DWORD (*)(EXTENSION_CONTROL_BLOCK*);

}  // extern "C"

// The last-error code a server reports when the client reset the connection.
constexpr DWORD WSAECONNRESET = 10054;
