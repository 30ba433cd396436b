// The shared request cases, their runner through the fake server, and their check.
#include "request_cases.h"

#include <cctype>

namespace {

constexpr char kEmptyGetPage[] =
    "<HEAD><TITLE>HTTP Error 400</TITLE></HEAD>"
    "<BODY><H1>BAD REQUEST</H1><P>Your client sent a request that this server didn't "
    "understand.<br>Request: \r\n"
    "</body></html>";

std::string Lower(std::string str) {
  for (char& ch : str) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return str;
}

}  // namespace

const std::vector<REQUEST_CASE>& RequestCases() {
  static const std::vector<REQUEST_CASE> s_cases = {
      {"EmptyGetGetsTheExact400Page",
       "GET",
       "",
       {},
       400,
       "text/html",
       kEmptyGetPage,
       nullptr,
       HSE_STATUS_ERROR},
      {"TwoParametersShowTheFirst",
       "GET",
       "a&b",
       {},
       400,
       "text/html",
       nullptr,
       "<br>Request: a\r\n</body></html>",
       HSE_STATUS_ERROR},
      {"NameAndValueFormHoldsTwoTokens",
       "GET",
       "a=1&b",
       {},
       400,
       "text/html",
       nullptr,
       "<br>Request: a=1\r\n",
       HSE_STATUS_ERROR},
      {"CommandAloneHasNoParameter",
       "GET",
       "Default",
       {},
       400,
       "text/html",
       nullptr,
       "<br>Request: Default\r\n",
       HSE_STATUS_ERROR},
      {"SeparatorsAloneHaveNoToken",
       "GET",
       "&&",
       {},
       400,
       "text/html",
       nullptr,
       "<br>Request: &amp;&amp;\r\n",
       HSE_STATUS_ERROR},
      {"PageEscapesTheRequestText",
       "GET",
       "%3Cscript%3E%22%27%26&a&b",
       {},
       400,
       "text/html",
       nullptr,
       "<br>Request: &lt;script&gt;&quot;&#39;&amp;\r\n</body></html>",
       HSE_STATUS_ERROR},
      {"PostOfAnUnknownCommandIsNotImplemented", "POST", "Thumb", "x", 501, "text/html", nullptr,
       "The server is unable to perform the method <b>Thumb</b> at this time.</BODY>\r\n"
       "</body></html>",
       HSE_STATUS_ERROR},
      {"PutIsNotImplemented", "PUT", "x", "body", 501, "text/html", nullptr,
       "<H1>NOT IMPLEMENTED</H1>The server is unable to perform the method <b>x</b>",
       HSE_STATUS_ERROR},
      {"DeleteIsNotImplemented",
       "DELETE",
       "",
       {},
       501,
       "text/html",
       nullptr,
       "<HEAD><TITLE>HTTP Error 501</TITLE></HEAD>",
       HSE_STATUS_ERROR},
      {"PostBodyOverOneMebibyteIsRefused", "POST", "", std::string((1 << 20) + 1, 'a'), 400,
       "text/html", nullptr, "<H1>BAD REQUEST</H1>", HSE_STATUS_ERROR},
  };
  return s_cases;
}

WIRE_RESPONSE RunRequestCase(const REQUEST_CASE& c, PFN_HTTPEXTENSIONPROC pfnProc,
                             DWORD* pdwResult) {
  CFakeServer server(c.pszMethod, c.pszQuery, c.strBody);
  DWORD dwResult = pfnProc(server.Ecb());
  if (pdwResult != nullptr) *pdwResult = dwResult;
  return server.Wire();
}

std::string CheckResponse(const REQUEST_CASE& c, const WIRE_RESPONSE& wire) {
  std::string strWhy;
  if (wire.dwStatus != c.dwStatus) {
    strWhy +=
        "status line \"" + wire.strStatusLine + "\", expected " + std::to_string(c.dwStatus) + "; ";
  }
  if (c.pszContentType != nullptr &&
      Lower(wire.strHeaders).find("content-type: " + Lower(c.pszContentType) + "\r\n") ==
          std::string::npos) {
    strWhy += "headers \"" + wire.strHeaders + "\" lack Content-Type " + c.pszContentType + "; ";
  }
  if (c.pszBody != nullptr && wire.strBody != c.pszBody) {
    strWhy += "body \"" + wire.strBody + "\", expected \"" + c.pszBody + "\"; ";
  }
  if (c.pszBodyPart != nullptr && wire.strBody.find(c.pszBodyPart) == std::string::npos) {
    strWhy += "body \"" + wire.strBody.substr(0, 400) + "\" lacks \"" + c.pszBodyPart + "\"; ";
  }
  return strWhy;
}
