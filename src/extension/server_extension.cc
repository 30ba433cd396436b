// CServerExtension: registration, one request from entry to response, and the body read.
#include "server_extension.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "frame_util.h"

namespace {

std::atomic<CServerExtension*> g_pExtension{nullptr};

// Writes all `cb` bytes through WriteClient. False when a call fails, takes nothing or claims
// more than it was given: the client would otherwise get a cut page.
bool WriteAll(EXTENSION_CONTROL_BLOCK* pECB, const char* pBytes, DWORD cb) {
  if (pECB->WriteClient == nullptr) return false;
  while (cb != 0) {
    DWORD cbTaken = cb;
    if (!pECB->WriteClient(pECB->ConnID, const_cast<char*>(pBytes), &cbTaken, 0) || cbTaken == 0 ||
        cbTaken > cb) {
      return false;
    }
    pBytes += cbTaken;
    cb -= cbTaken;
  }
  return true;
}

DWORD StatusOf(DispatchResult nResult) {
  switch (nResult) {
    case DISPATCH_DONE:
      return 200;
    case DISPATCH_ARG_COUNT:
      return 400;
    case DISPATCH_NO_COMMAND:
      return 501;
    case DISPATCH_NO_STREAM:
      return 204;
    case DISPATCH_FAULT:
      break;
  }
  return 500;
}

}  // namespace

const COMMAND_MAP CServerExtension::s_commandMap = {[]() -> size_t { return 0; }, nullptr, nullptr};

CServerExtension* GetServerExtension() { return g_pExtension.load(std::memory_order_acquire); }

CServerExtension::CServerExtension(char chParamSeparator) : m_chParamSeparator(chParamSeparator) {
  g_pExtension.store(this, std::memory_order_release);
}

CServerExtension::~CServerExtension() { g_pExtension.store(nullptr, std::memory_order_release); }

BOOL CServerExtension::GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  pVer->lpszExtensionDesc[0] = '\0';
  return true;
}

std::unique_ptr<COutputStream> CServerExtension::CreateOutputStream() {
  return std::unique_ptr<COutputStream>(new (std::nothrow) COutputStream(4096));
}

BOOL CServerExtension::BeginRequest(CRequestContext* /*pCtxt*/) { return true; }

const COMMAND_MAP* CServerExtension::GetCommandMap() { return nullptr; }

char* CServerExtension::ReadRequestBody(CRequestContext* pCtxt, char* pBuffer) {
  EXTENSION_CONTROL_BLOCK* pECB = pCtxt->m_pRequestBlock;
  const DWORD cbTotal = pECB->cbTotalBytes;
  DWORD cbRead = std::min(pECB->cbAvailable, cbTotal);
  if (cbRead != 0) {
    if (pECB->lpbData == nullptr) return nullptr;
    std::memcpy(pBuffer, pECB->lpbData, cbRead);
  }
  while (cbRead < cbTotal) {
    DWORD cbAsked = cbTotal - cbRead;
    DWORD cbGot = cbAsked;
    // A read that fails, delivers nothing while bytes are due, or claims more than it was
    // asked for ends the read: the body cannot be had whole.
    if (pECB->ReadClient == nullptr || !pECB->ReadClient(pECB->ConnID, pBuffer + cbRead, &cbGot) ||
        cbGot == 0 || cbGot > cbAsked) {
      FRAME_TRACE("Error: only %d of %d bytes read!\n", static_cast<int>(cbRead),
                  static_cast<int>(cbTotal));
      return nullptr;
    }
    cbRead += cbGot;
  }
  pBuffer[cbTotal] = '\0';
  return pBuffer;
}

DWORD CServerExtension::HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  DWORD dwResult = HSE_STATUS_SUCCESS;
  pECB->dwHttpStatusCode = 0;
  CRequestContext ctxt(pECB);
  std::unique_ptr<char[]> pBody;
  std::unique_ptr<char[]> pOutput;
  DWORD cbOutput = 0;
  char szNoCommand[1] = "";

  // A request that cannot be dispatched at all (a method other than GET or POST, a body that
  // cannot be read whole) is refused with its status and page, never answered as served.
  auto Refuse = [&](DWORD dwStatus) {
    dwResult = HSE_STATUS_ERROR;
    pECB->dwHttpStatusCode = dwStatus;
    try {
      ctxt.m_pOutput = CreateOutputStream();
      if (ReportParseError(&ctxt, dwStatus == 400 ? DISPATCH_ARG_COUNT : DISPATCH_NO_COMMAND)) {
        cbOutput = ctxt.m_pOutput->GetSize();
        pOutput = ctxt.m_pOutput->TakeBytes();
      }
    } catch (...) {
      pOutput.reset();
    }
  };

  bool bDispatch = false;
  char* pszRequest = nullptr;
  char* pszCommand = nullptr;
  const char* pszMethod = pECB->lpszMethod != nullptr ? pECB->lpszMethod : "";
  if (frame_util::EqualsNoCase(pszMethod, "GET")) {
    pszRequest = pECB->lpszQueryString;
    bDispatch = true;
  } else if (frame_util::EqualsNoCase(pszMethod, "POST")) {
    pszCommand = pECB->lpszQueryString != nullptr ? pECB->lpszQueryString : szNoCommand;
    if (pECB->cbTotalBytes <= kMaxBodyBytes) {
      pBody.reset(new (std::nothrow) char[pECB->cbTotalBytes + 1]);
      if (pBody != nullptr) pszRequest = ReadRequestBody(&ctxt, pBody.get());
    }
    bDispatch = pszRequest != nullptr;
    if (!bDispatch) Refuse(400);
  } else {
    Refuse(501);
  }

  if (bDispatch && pszRequest != nullptr) {
    // Trim line ends and spaces from the end; the first character always stays.
    size_t cch = std::strlen(pszRequest);
    while (cch > 1 && (pszRequest[cch - 1] == ' ' || pszRequest[cch - 1] == '\n' ||
                       pszRequest[cch - 1] == '\r')) {
      pszRequest[--cch] = '\0';
    }
  }
  if (bDispatch && !BeginRequest(&ctxt)) {
    dwResult = HSE_STATUS_ERROR;
    bDispatch = false;
  }

  if (bDispatch) {
    pECB->dwHttpStatusCode = 200;
    DispatchResult nResult;
    try {
      nResult = DispatchCommand(&ctxt, pszRequest, pszCommand);
    } catch (...) {
      nResult = DISPATCH_FAULT;
    }
    bool bTake = true;
    if (nResult != DISPATCH_DONE) {
      if (pECB->dwHttpStatusCode == 200) {
        dwResult = HSE_STATUS_ERROR;
        pECB->dwHttpStatusCode = StatusOf(nResult);
      }
      try {
        bTake = ReportParseError(&ctxt, nResult);
      } catch (...) {
        bTake = false;
      }
    }
    if (bTake && ctxt.m_pOutput != nullptr) {
      cbOutput = ctxt.m_pOutput->GetSize();
      pOutput = ctxt.m_pOutput->TakeBytes();
    }
  }

  // Complete the response: exactly one header request, then the page, if there is one.
  char szStatus[64];
  BuildStatusLine(pECB->dwHttpStatusCode, szStatus);
  std::string strHeaders;
  DWORD cbHeaders = 0;
  if (pOutput != nullptr) {
    cbHeaders = std::min(ctxt.m_cbHeaders, cbOutput);
    try {
      strHeaders.assign(pOutput.get(), cbHeaders);
    } catch (...) {
      pOutput.reset();
    }
  }
  BOOL bSent = pECB->ServerSupportFunction != nullptr &&
               pECB->ServerSupportFunction(
                   pECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, szStatus, nullptr,
                   pOutput != nullptr ? reinterpret_cast<LPDWORD>(strHeaders.data()) : nullptr);
  if (!bSent && GetLastError() != WSAECONNRESET) {
    pECB->dwHttpStatusCode = 500;
    dwResult = HSE_STATUS_ERROR;
  } else if (pOutput != nullptr) {
    if (!WriteAll(pECB, "\r\n", 2) ||
        !WriteAll(pECB, pOutput.get() + cbHeaders, cbOutput - cbHeaders)) {
      FRAME_TRACE("Error: Unable to write content body!\n");
      pECB->dwHttpStatusCode = 500;
      dwResult = HSE_STATUS_ERROR;
    }
  } else if (bDispatch) {
    FRAME_TRACE("Error: No body content!\n");
  }
  // A served request reads 200 here already, unless its command set another status itself (a
  // 404 page, say), which it keeps: the server's log must not call that request a success.
  return dwResult;
}
