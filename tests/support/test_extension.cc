// The test extension object and its recording command table.
#include "test_extension.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "afx.h"

namespace {

thread_local std::vector<HANDLER_CALL> t_calls;

constexpr COMMAND_MAP_ENTRY kCommands[] = {
    COMMAND_ENTRY("Default", &CTestExtension::Default),
    DEFAULT_COMMAND_ENTRY("Default", &CTestExtension::Default),
    COMMAND_ENTRY("Echo", &CTestExtension::Echo),
    COMMAND_ENTRY("Numbers", &CTestExtension::Numbers),
    COMMAND_ENTRY("Nothing", &CTestExtension::Nothing),
    COMMAND_ENTRY("Throw", &CTestExtension::Throw),
    COMMAND_ENTRY("Status", &CTestExtension::Status),
};

size_t GetCommandCount() { return sizeof kCommands / sizeof kCommands[0]; }

const COMMAND_MAP kCommandMap = {&GetCommandCount, nullptr, kCommands};

CTestExtension g_extension;

void Write(CRequestContext* pCtxt, const char* pBytes, DWORD cb) {
  EXTENSION_CONTROL_BLOCK* pECB = pCtxt->m_pRequestBlock;
  pECB->WriteClient(pECB->ConnID, const_cast<char*>(pBytes), &cb, 0);
}

}  // namespace

const std::vector<HANDLER_CALL>& HandlerCalls() { return t_calls; }
void ClearHandlerCalls() { t_calls.clear(); }
CTestExtension& TestExtension() { return g_extension; }

const COMMAND_MAP* CTestExtension::GetCommandMap() { return &kCommandMap; }

void CTestExtension::Default(CRequestContext* /*pCtxt*/, char* pszParam) {
  t_calls.push_back({"Default", {pszParam}});
}

void CTestExtension::Echo(CRequestContext* pCtxt, char* pszParam) {
  t_calls.push_back({"Echo", {pszParam}});
  Write(pCtxt, pszParam, static_cast<DWORD>(std::strlen(pszParam)));
}

void CTestExtension::Numbers(CRequestContext* /*pCtxt*/, int16_t nShort, int32_t nLong,
                             float fFloat, double dDouble) {
  t_calls.push_back({"Numbers",
                     {std::to_string(nShort), std::to_string(nLong), std::to_string(fFloat),
                      std::to_string(dDouble)}});
}

void CTestExtension::Nothing(CRequestContext* /*pCtxt*/) { t_calls.push_back({"Nothing", {}}); }

void CTestExtension::Throw(CRequestContext* pCtxt, char* pszWhat) {
  t_calls.push_back({"Throw", {pszWhat}});
  Write(pCtxt, "partial", 7);
  if (std::strcmp(pszWhat, "memory") == 0) AfxThrowMemoryException();
  if (std::strcmp(pszWhat, "file") == 0) {
    AfxThrowFileException(CFileException::endOfFile, 0, "thumb.jpg");
  }
  if (std::strcmp(pszWhat, "bad_alloc") == 0) throw std::bad_alloc();
  throw 7;
}

void CTestExtension::Status(CRequestContext* pCtxt, char* pszStatus) {
  t_calls.push_back({"Status", {pszStatus}});
  pCtxt->m_pRequestBlock->dwHttpStatusCode = static_cast<DWORD>(std::atoi(pszStatus));
  ReportParseError(pCtxt, DISPATCH_DONE);
}
