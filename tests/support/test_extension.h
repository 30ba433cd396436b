// A test extension object: the frame with a command table whose handlers record their calls.
#pragma once

#include <string>
#include <vector>

#include "server_extension.h"

// One handler call as the handler received it.
struct HANDLER_CALL {
  std::string strCommand;
  std::vector<std::string> args;  // each argument as text (numbers as printed by %g / %d)
};

// The calling thread's handler calls since the last ClearHandlerCalls.
const std::vector<HANDLER_CALL>& HandlerCalls();
void ClearHandlerCalls();

// Commands: Default (one text, also the default command, as in the library's own table), Echo
// (writes its text to the client), Numbers (short, int32, float, double), Nothing (no
// parameters), Throw (writes "partial" and throws: memory, file, bad_alloc or anything else
// as an int), Status (sets the status to its number and writes that status's page).
class CTestExtension : public CServerExtension {
 public:
  CTestExtension() : CServerExtension('&') {}
  const COMMAND_MAP* GetCommandMap() override;

  void Default(CRequestContext* pCtxt, char* pszParam);
  void Echo(CRequestContext* pCtxt, char* pszParam);
  void Numbers(CRequestContext* pCtxt, int16_t nShort, int32_t nLong, float fFloat, double dDouble);
  void Nothing(CRequestContext* pCtxt);
  void Throw(CRequestContext* pCtxt, char* pszWhat);
  void Status(CRequestContext* pCtxt, char* pszStatus);
};

// The process's extension object, registered at load; call it to link it in.
CTestExtension& TestExtension();
