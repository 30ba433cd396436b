// Request cases whose answer does not depend on the command doing any work, with the answer
// expected on the wire; run here through the fake server and by the host's tests over HTTP.
#pragma once

#include <string>
#include <vector>

#include "fake_server.h"
#include "isapi.h"

struct REQUEST_CASE {
  const char* pszName;  // what the case shows, letters, digits and '_' only
  const char* pszMethod;
  const char* pszQuery;  // the URL query text, undecoded
  std::string strBody;
  DWORD dwStatus;              // expected status code
  const char* pszContentType;  // expected Content-Type value, or null for no header text
  const char* pszBody;         // the exact body, or null
  const char* pszBodyPart;     // a part the body must hold, or null
  DWORD dwHseResult;           // what HttpExtensionProc returns (fake-server runs only)
};

// The cases: 400 pages (empty GET, two parameters, escaping), 501 for an unknown POST command
// and for methods other than GET and POST, 400 for an over-long POST body.
const std::vector<REQUEST_CASE>& RequestCases();

// Runs `c` through a fresh fake server against `pfnProc` (normally the exported
// HttpExtensionProc); stores its result in `*pdwResult` when given.
WIRE_RESPONSE RunRequestCase(const REQUEST_CASE& c, PFN_HTTPEXTENSIONPROC pfnProc,
                             DWORD* pdwResult = nullptr);

// Empty when `wire` is the answer `c` expects; otherwise says what differs. Header lines are
// looked for by name, so a host may add its own.
std::string CheckResponse(const REQUEST_CASE& c, const WIRE_RESPONSE& wire);
