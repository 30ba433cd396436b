// Fuzzes the frame: any method, query text and body, and a server that fails or short-changes
// its callbacks, through the exported HttpExtensionProc and the recording test table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_server.h"
#include "test_extension.h"

namespace {

// Input: three control bytes, then method "\n" query "\n" body.
//   byte 0: bit 0 header fails, bit 1 with 10054 (else 32), bits 2-3 write script, bit 4
//           declare a larger body than sent, bit 5 declare over 1 MiB;
//   byte 1: how much of the body is read ahead; byte 2: the read script.
std::vector<FAKE_STEP> Steps(uint8_t nKind, uint8_t nSeed) {
  switch (nKind & 3) {
    case 1:
      return {{true, static_cast<DWORD>(nSeed % 7)}, {true, 1}, {true, 3}};
    case 2:
      return {{true, FAKE_STEP::kAll}, {false, 0}};
    case 3:
      return {{true, 0}};
    default:
      return {};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
  if (cb < 3 || GetServerExtension() != &TestExtension()) return 0;
  const uint8_t nFlags = pData[0], nAhead = pData[1], nReads = pData[2];
  std::string strRest(reinterpret_cast<const char*>(pData) + 3, cb - 3);
  size_t nFirst = strRest.find('\n');
  size_t nSecond = nFirst == std::string::npos ? nFirst : strRest.find('\n', nFirst + 1);
  std::string strMethod = strRest.substr(0, nFirst);
  std::string strQuery =
      nFirst == std::string::npos ? "" : strRest.substr(nFirst + 1, nSecond - nFirst - 1);
  std::string strBody = nSecond == std::string::npos ? "" : strRest.substr(nSecond + 1);

  ClearHandlerCalls();
  CFakeServer server(strMethod.c_str(), strQuery.c_str(), strBody,
                     static_cast<DWORD>(strBody.size() * nAhead / 255));
  if (nFlags & 1) server.FailHeader(nFlags & 2 ? 10054 : 32);
  server.ScriptWrites(Steps(nFlags >> 2, nAhead));
  server.ScriptReads(Steps(nReads, nReads >> 2));
  if (nFlags & 16) server.DeclareBodySize(static_cast<DWORD>(strBody.size() + nReads));
  if (nFlags & 32) server.DeclareBodySize((1u << 20) + nReads);

  DWORD dwResult = HttpExtensionProc(server.Ecb());
  WIRE_RESPONSE wire = server.Wire();
  const DWORD dwStatus = server.Ecb()->dwHttpStatusCode;
  // Every request makes exactly one header request, is answered, and runs at most one handler.
  if (wire.cHeaderRequests != 1) std::abort();
  if (dwResult != HSE_STATUS_SUCCESS && dwResult != HSE_STATUS_ERROR) std::abort();
  if (HandlerCalls().size() > 1) std::abort();
  if (dwResult == HSE_STATUS_SUCCESS && HandlerCalls().empty()) std::abort();
  if (dwResult == HSE_STATUS_ERROR && dwStatus == 200) std::abort();
  // The frame's pages never show request text unescaped (Echo writes its text as it is).
  if (HandlerCalls().empty() && wire.strBody.find("<script") != std::string::npos) std::abort();
  return 0;
}
