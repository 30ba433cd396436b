// The fake web server: a request block whose callbacks record and answer as scripted.
#include "fake_server.h"

#include <algorithm>
#include <cstring>

#include "winapi.h"

namespace {

std::vector<char> Writable(const char* psz) {
  if (psz == nullptr) return {};
  return std::vector<char>(psz, psz + std::strlen(psz) + 1);
}

char* TextOf(std::vector<char>& text) { return text.empty() ? nullptr : text.data(); }

}  // namespace

CFakeServer::CFakeServer(const char* pszMethod, const char* pszQuery, const std::string& strBody,
                         DWORD cbAvailable, const char* pszPathInfo)
    : m_method(Writable(pszMethod)),
      m_query(Writable(pszQuery)),
      m_pathInfo(Writable(pszPathInfo)),
      m_empty(Writable("")),
      m_strBody(strBody) {
  m_cbDelivered = std::min<size_t>(cbAvailable, strBody.size());
  m_ecb.cbSize = sizeof m_ecb;
  m_ecb.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  m_ecb.ConnID = this;
  m_ecb.lpszMethod = TextOf(m_method);
  m_ecb.lpszQueryString = TextOf(m_query);
  m_ecb.lpszPathInfo = TextOf(m_pathInfo);
  m_ecb.lpszPathTranslated = TextOf(m_empty);
  m_ecb.cbTotalBytes = static_cast<DWORD>(strBody.size());
  m_ecb.cbAvailable = static_cast<DWORD>(m_cbDelivered);
  m_ecb.lpbData = reinterpret_cast<LPBYTE>(m_strBody.data());
  m_ecb.lpszContentType = TextOf(m_empty);
  m_ecb.GetServerVariable = &GetServerVariable;
  m_ecb.WriteClient = &WriteClient;
  m_ecb.ReadClient = &ReadClient;
  m_ecb.ServerSupportFunction = &ServerSupportFunction;
}

void CFakeServer::FailHeader(DWORD dwLastError) {
  m_bFailHeader = true;
  m_dwHeaderError = dwLastError;
}

std::vector<FAKE_CALL> CFakeServer::CallsOf(FAKE_CALL::Kind nKind) const {
  std::vector<FAKE_CALL> calls;
  for (const FAKE_CALL& call : m_calls) {
    if (call.nKind == nKind) calls.push_back(call);
  }
  return calls;
}

WIRE_RESPONSE CFakeServer::Wire() const {
  WIRE_RESPONSE wire;
  std::string strBefore, strAfter, strHeaderText;
  for (const FAKE_CALL& call : m_calls) {
    if (call.nKind == FAKE_CALL::HEADER) {
      if (wire.cHeaderRequests++ == 0) {
        wire.strStatusLine = call.strBytes;
        wire.dwStatus = static_cast<DWORD>(std::strtoul(call.strBytes.c_str(), nullptr, 10));
        strHeaderText = call.strHeaders;
      }
    } else if (call.nKind == FAKE_CALL::WRITE) {
      (wire.cHeaderRequests == 0 ? strBefore : strAfter) += call.strBytes;
    }
  }
  std::string strBlock = strHeaderText + strAfter;
  size_t nEnd = strHeaderText.empty() ? std::string::npos : strBlock.find("\r\n\r\n");
  if (nEnd == std::string::npos) {
    wire.strHeaders = strHeaderText;
    wire.strBody = strBefore + strAfter;
  } else {
    wire.strHeaders = strBlock.substr(0, nEnd + 2);
    wire.strBody = strBefore + strBlock.substr(nEnd + 4);
  }
  return wire;
}

BOOL CFakeServer::WriteClient(HCONN hConn, LPVOID pBuffer, LPDWORD pcb, DWORD dwFlags) {
  auto* pServer = static_cast<CFakeServer*>(hConn);
  FAKE_STEP step{true, FAKE_STEP::kAll};
  if (!pServer->m_writes.empty()) {
    step = pServer->m_writes.front();
    pServer->m_writes.pop_front();
  }
  DWORD cbOffered = *pcb;
  DWORD cbTaken = step.bResult ? std::min(step.cb, cbOffered) : 0;
  pServer->m_calls.push_back({FAKE_CALL::WRITE,
                              step.bResult,
                              std::string(static_cast<const char*>(pBuffer), cbTaken),
                              {},
                              false,
                              cbOffered,
                              cbTaken,
                              dwFlags});
  *pcb = cbTaken;
  return step.bResult;
}

BOOL CFakeServer::ReadClient(HCONN hConn, LPVOID pBuffer, LPDWORD pcb) {
  auto* pServer = static_cast<CFakeServer*>(hConn);
  FAKE_STEP step{true, FAKE_STEP::kAll};
  if (!pServer->m_reads.empty()) {
    step = pServer->m_reads.front();
    pServer->m_reads.pop_front();
  }
  DWORD cbAsked = *pcb;
  size_t cbLeft = pServer->m_strBody.size() - pServer->m_cbDelivered;
  DWORD cbGiven = 0;
  if (step.bResult) {
    cbGiven = static_cast<DWORD>(std::min<size_t>({step.cb, cbAsked, cbLeft}));
    std::memcpy(pBuffer, pServer->m_strBody.data() + pServer->m_cbDelivered, cbGiven);
    pServer->m_cbDelivered += cbGiven;
  }
  pServer->m_calls.push_back({FAKE_CALL::READ, step.bResult, {}, {}, false, cbAsked, cbGiven, 0});
  *pcb = cbGiven;
  return step.bResult;
}

BOOL CFakeServer::ServerSupportFunction(HCONN hConn, DWORD dwRequest, LPVOID pBuffer,
                                        LPDWORD /*pcb*/, LPDWORD pDataType) {
  auto* pServer = static_cast<CFakeServer*>(hConn);
  if (dwRequest != HSE_REQ_SEND_RESPONSE_HEADER) {
    SetLastError(22);
    return false;
  }
  FAKE_CALL call{FAKE_CALL::HEADER, !pServer->m_bFailHeader, {}, {}, pDataType != nullptr, 0, 0, 0};
  if (pBuffer != nullptr) call.strBytes = static_cast<const char*>(pBuffer);
  if (pDataType != nullptr) call.strHeaders = reinterpret_cast<const char*>(pDataType);
  pServer->m_calls.push_back(call);
  if (pServer->m_bFailHeader) {
    SetLastError(pServer->m_dwHeaderError);
    return false;
  }
  return true;
}

BOOL CFakeServer::GetServerVariable(HCONN /*hConn*/, LPSTR /*pszName*/, LPVOID /*pBuffer*/,
                                    LPDWORD /*pcb*/) {
  SetLastError(1413);  // no server variables here
  return false;
}
