// The frame's pages: status lines, error pages and the page pieces.
#include <cstdio>
#include <cstring>

#include "server_extension.h"

namespace {

struct STATUS_TEXT {
  DWORD dwStatus;
  const char* pszText;
};

// Searched in this order; the first row with the code wins.
constexpr STATUS_TEXT kStatusTexts[] = {
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {204, "No Content"},
    {302, "Moved Temporarily"},
    {301, "Moved Permanently"},
    {304, "Not Modified"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
};

// What an error page's message takes in place of its "%s" or "%d".
enum PageInsert { INSERT_NOTHING, INSERT_QUERY, INSERT_QUERY_OR_PATH, INSERT_STATUS };

struct ERROR_PAGE {
  DWORD dwStatus;
  UINT nMessageID;
  PageInsert nInsert;
};

constexpr UINT kTitleID = 62161;
constexpr ERROR_PAGE kOtherPage = {0, 62162, INSERT_STATUS};
constexpr ERROR_PAGE kErrorPages[] = {
    {400, 62163, INSERT_QUERY_OR_PATH}, {401, 62164, INSERT_NOTHING}, {403, 62165, INSERT_NOTHING},
    {404, 62166, INSERT_NOTHING},       {500, 62167, INSERT_NOTHING}, {501, 62168, INSERT_QUERY},
};

// Room for the longest page text, with its terminator.
constexpr int kMaxPageText = 256;

// Writes `pszText` with HTML's special characters (& < > " ') written as entities, so that
// request text shown on a page is shown, never run.
void WriteEscaped(COutputStream& out, const char* pszText) {
  const char* pRun = pszText;
  for (const char* p = pszText;; ++p) {
    const char* pszEntity = nullptr;
    switch (*p) {
      case '&':
        pszEntity = "&amp;";
        break;
      case '<':
        pszEntity = "&lt;";
        break;
      case '>':
        pszEntity = "&gt;";
        break;
      case '"':
        pszEntity = "&quot;";
        break;
      case '\'':
        pszEntity = "&#39;";
        break;
      case '\0':
        out.Write(pRun, static_cast<UINT>(p - pRun));
        return;
      default:
        continue;
    }
    out.Write(pRun, static_cast<UINT>(p - pRun));
    out.WriteText(pszEntity);
    pRun = p + 1;
  }
}

// Writes `pszFormat` with `pszValue` in place of its first "%s" or "%d" (HTML-escaped when
// `bEscape`), or the format unchanged when `pszValue` is null.
void WriteFormatted(COutputStream& out, const char* pszFormat, const char* pszValue, bool bEscape) {
  const char* pSpec = pszFormat;
  while ((pSpec = std::strchr(pSpec, '%')) != nullptr && pSpec[1] != 's' && pSpec[1] != 'd') {
    ++pSpec;
  }
  if (pszValue == nullptr || pSpec == nullptr) {
    out.WriteText(pszFormat);
    return;
  }
  out.Write(pszFormat, static_cast<UINT>(pSpec - pszFormat));
  if (bEscape) {
    WriteEscaped(out, pszValue);
  } else {
    out.WriteText(pszValue);
  }
  out.WriteText(pSpec + 2);
}

}  // namespace

void CServerExtension::BuildStatusLine(DWORD dwStatus, char (&pszLine)[64]) {
  const STATUS_TEXT* pFound = &kStatusTexts[0];
  for (const STATUS_TEXT& row : kStatusTexts) {
    if (row.dwStatus == dwStatus) {
      pFound = &row;
      break;
    }
  }
  std::snprintf(pszLine, sizeof pszLine, "%d %s", static_cast<int>(pFound->dwStatus),
                pFound->pszText);
}

BOOL CServerExtension::ReportParseError(CRequestContext* pCtxt, DispatchResult /*nResult*/) {
  if (pCtxt->m_pOutput == nullptr) return false;
  const EXTENSION_CONTROL_BLOCK* pECB = pCtxt->m_pRequestBlock;
  const DWORD dwStatus = pECB->dwHttpStatusCode;

  const ERROR_PAGE* pPage = &kOtherPage;
  for (const ERROR_PAGE& row : kErrorPages) {
    if (row.dwStatus == dwStatus) pPage = &row;
  }
  char szMessage[kMaxPageText];
  if (LoadStringA(AfxGetResourceHandle(), pPage->nMessageID, szMessage, sizeof szMessage) == 0) {
    return false;
  }
  char szStatus[16];
  std::snprintf(szStatus, sizeof szStatus, "%d", static_cast<int>(dwStatus));
  const char* pszInsert = nullptr;
  switch (pPage->nInsert) {
    case INSERT_NOTHING:
      break;
    case INSERT_QUERY:
      pszInsert = pECB->lpszQueryString;
      break;
    case INSERT_QUERY_OR_PATH:
      pszInsert = pECB->lpszQueryString != nullptr ? pECB->lpszQueryString : pECB->lpszPathInfo;
      break;
    case INSERT_STATUS:
      pszInsert = szStatus;
      break;
  }

  pCtxt->Clear();
  WriteContentType(pCtxt);
  COutputStream& out = *pCtxt->m_pOutput;
  char szTitle[kMaxPageText];
  if (LoadStringA(AfxGetResourceHandle(), kTitleID, szTitle, sizeof szTitle) != 0) {
    WriteFormatted(out, szTitle, szStatus, false);
  }
  WriteFormatted(out, szMessage, pszInsert, pPage->nInsert != INSERT_STATUS);
  WritePageEnd(pCtxt);
  return true;
}

void CServerExtension::AddHeaderLine(CRequestContext* pCtxt, const char* pszText) {
  pCtxt->m_pOutput->WriteText(pszText);
  pCtxt->m_cbHeaders = pCtxt->m_pOutput->GetSize();
}

void CServerExtension::WriteContentType(CRequestContext* pCtxt) {
  if (pCtxt->m_pOutput != nullptr) AddHeaderLine(pCtxt, "Content-Type: text/html\r\n");
}

void CServerExtension::WritePageEnd(CRequestContext* pCtxt) {
  if (pCtxt->m_pOutput != nullptr) pCtxt->m_pOutput->WriteText("</body></html>");
}

void CServerExtension::WritePageHead(CRequestContext* pCtxt) {
  if (pCtxt->m_pOutput == nullptr) return;
  pCtxt->m_pOutput->WriteText("<html><head><title>");
  if (const char* pszTitle = GetPageTitle()) pCtxt->m_pOutput->WriteText(pszTitle);
  pCtxt->m_pOutput->WriteText("</title></head><body>");
}

const char* CServerExtension::GetPageTitle() { return "Default MFC Web Server Extension"; }
