// Tests of the frame through the exported HttpExtensionProc, with the recording test table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_server.h"
#include "request_cases.h"
#include "server_extension.h"
#include "test_extension.h"

namespace {

using Args = std::vector<std::string>;

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetServerExtension(), &TestExtension());
    ClearHandlerCalls();
  }
};

// The one call the handler got, or a failure when it got none or several.
HANDLER_CALL OnlyCall() {
  EXPECT_EQ(HandlerCalls().size(), 1u);
  return HandlerCalls().empty() ? HANDLER_CALL{} : HandlerCalls()[0];
}

// Checks that `pszCommand` (null: no handler) was called once, with `args`.
void ExpectHandlerCall(const char* pszCommand, const Args& args) {
  if (pszCommand == nullptr) {
    EXPECT_TRUE(HandlerCalls().empty());
    return;
  }
  HANDLER_CALL call = OnlyCall();
  EXPECT_EQ(call.strCommand, pszCommand);
  EXPECT_EQ(call.args, args);
}

struct DISPATCH_CASE {
  const char* pszQuery;
  const char* pszCommand;  // the handler expected, or null for none
  Args args;
  DWORD dwStatus;
  const char* pszShown;  // for a 400: the request text the page shows
};

TEST_F(FrameTest, GetQueryTextsReachTheirCommandOrGetA400) {
  const DISPATCH_CASE cases[] = {
      {"120:90;JPG:75;D:%5Cimages%5Cmy+photo.jpg;",
       "Default",
       {"120:90;JPG:75;D:\\images\\my photo.jpg;"},
       200,
       nullptr},
      {"Default&P", "Default", {"P"}, 200, nullptr},
      {"DEFAULT?P", "Default", {"P"}, 200, nullptr},
      {"mfcisapicommand=Default&P", "Default", {"P"}, 200, nullptr},
      {"&P", "Default", {"P"}, 200, nullptr},
      {"P&", "Default", {"P"}, 200, nullptr},
      {"P?", "Default", {"P"}, 200, nullptr},
      {"p=x", "Default", {"p=x"}, 200, nullptr},
      {"Thumb", "Default", {"Thumb"}, 200, nullptr},
      {"Thumb&P", nullptr, {}, 400, "Thumb"},
      {"Echo&hi", "Echo", {"hi"}, 200, nullptr},
      {"Numbers&70000&-5&2.5&1e3",
       "Numbers",
       {"4464", "-5", "2.500000", "1000.000000"},
       200,
       nullptr},
      {"Nothing", "Nothing", {}, 200, nullptr},
      {"Nothing&x", nullptr, {}, 400, "Nothing"},
      {"P&&", nullptr, {}, 400, "P"},
      {"P&P", nullptr, {}, 400, "P"},
      {"", nullptr, {}, 400, ""},
      {"?", nullptr, {}, 400, ""},
      {"Default", nullptr, {}, 400, "Default"},
      {"a&b", nullptr, {}, 400, "a"},
      {"a=1&b", nullptr, {}, 400, "a=1"},
      {"&&", nullptr, {}, 400, "&amp;&amp;"},
      {"%41+b&c", nullptr, {}, 400, "A b"},  // the first token stands decoded
  };
  for (const DISPATCH_CASE& c : cases) {
    SCOPED_TRACE(c.pszQuery);
    ClearHandlerCalls();
    CFakeServer server("GET", c.pszQuery);
    DWORD dwResult = HttpExtensionProc(server.Ecb());
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, c.dwStatus);
    EXPECT_EQ(dwResult, c.dwStatus == 200 ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR);
    ExpectHandlerCall(c.pszCommand, c.args);
    if (c.pszShown != nullptr) {
      EXPECT_NE(server.Wire().strBody.find(std::string("Request: ") + c.pszShown + "\r\n"),
                std::string::npos)
          << server.Wire().strBody;
    }
  }
}

TEST_F(FrameTest, DecodingTurnsPlusAndEscapesIntoBytesAndBadEscapesIntoQuestionMarks) {
  const std::pair<const char*, const char*> cases[] = {
      {"%41", "A"},   {"%4a", "J"},           {"%G1", "?1"},   {"%4G", "?"},
      {"x%", "x?"},   {"x%4", "x?"},          {"a%00b", "a"},  {"a+b", "a b"},
      {"%26x", "&x"}, {"%c3%a9", "\xc3\xa9"}, {"%%41", "?41"}, {"%4", "?"},
  };
  for (const auto& [pszIn, pszOut] : cases) {
    ClearHandlerCalls();
    CFakeServer server("GET", pszIn);
    HttpExtensionProc(server.Ecb());
    EXPECT_EQ(OnlyCall().args, Args{pszOut}) << pszIn;
  }
}

struct POST_CASE {
  const char* pszQuery;
  std::string strBody;
  const char* pszCommand;
  Args args;
  DWORD dwStatus;
};

TEST_F(FrameTest, PostBodiesAreTheRequestTextAndTheQueryNamesTheCommand) {
  const POST_CASE cases[] = {
      {"Default", "P\r\n", "Default", {"P"}, 200},
      {"", "P", "Default", {"P"}, 200},
      {"default", "a+b", "Default", {"a b"}, 200},
      {"Thumb", "MfcISAPICommand=Default&P", "Default", {"P"}, 200},
      {"", "MfcISAPICommand=Echo&hi", "Echo", {"hi"}, 200},
      {"", "MfcISAPICommand=Nothing&x", nullptr, {}, 400},
      {"", " \r\n \n", "Default", {" "}, 200},
      {"Thumb", "P", nullptr, {}, 501},
      {"Default", "", nullptr, {}, 400},
  };
  for (const POST_CASE& c : cases) {
    SCOPED_TRACE(std::string(c.pszQuery) + " / " + c.strBody);
    ClearHandlerCalls();
    CFakeServer server("POST", c.pszQuery, c.strBody);
    HttpExtensionProc(server.Ecb());
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, c.dwStatus);
    ExpectHandlerCall(c.pszCommand, c.args);
  }
}

TEST_F(FrameTest, PostOfAnUnknownCommandShowsItUnchangedOnThe501Page) {
  CFakeServer server("POST", "Th<u>mb", "P");
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
  WIRE_RESPONSE wire = server.Wire();
  EXPECT_EQ(wire.strStatusLine, "501 Not Implemented");
  EXPECT_NE(wire.strBody.find("the method <b>Th&lt;u&gt;mb</b> at this time."), std::string::npos)
      << wire.strBody;
}

TEST_F(FrameTest, MethodsOtherThanGetAndPostGetThe501PageAndNoHandler) {
  for (const char* pszMethod : {"HEAD", "PUT", "DELETE", "OPTIONS", "", "get "}) {
    SCOPED_TRACE(pszMethod);
    ClearHandlerCalls();
    CFakeServer server(pszMethod, "Default&P");
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 501u);
    EXPECT_TRUE(HandlerCalls().empty());
    WIRE_RESPONSE wire = server.Wire();
    EXPECT_EQ(wire.cHeaderRequests, 1);
    EXPECT_EQ(wire.strStatusLine, "501 Not Implemented");
    EXPECT_EQ(wire.strHeaders, "Content-Type: text/html\r\n");
    EXPECT_NE(wire.strBody.find("<b>Default&amp;P</b>"), std::string::npos) << wire.strBody;
  }
  // Method names compare without regard to case.
  for (const char* pszMethod : {"get", "Post"}) {
    ClearHandlerCalls();
    std::string strQuery = pszMethod[0] == 'g' ? "P" : "";
    CFakeServer request(pszMethod, strQuery.c_str(), "P");
    HttpExtensionProc(request.Ecb());
    EXPECT_EQ(HandlerCalls().size(), 1u) << pszMethod;
  }
}

TEST_F(FrameTest, TheBodyIsReadOnUntilWholeAskingForWhatIsStillDue) {
  std::string strBody = "MfcISAPICommand=Echo&" + std::string(9, 'x');  // 30 bytes
  ASSERT_EQ(strBody.size(), 30u);
  CFakeServer server("POST", "", strBody, 10);
  server.ScriptReads({{true, 12}});
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_SUCCESS);
  std::vector<FAKE_CALL> reads = server.CallsOf(FAKE_CALL::READ);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].cbOffered, 20u);
  EXPECT_EQ(reads[0].cbDone, 12u);
  EXPECT_EQ(reads[1].cbOffered, 8u);
  EXPECT_EQ(OnlyCall().args, Args{std::string(9, 'x')});
}

TEST_F(FrameTest, ABodyThatCannotBeReadWholeGetsThe400PageAndNoHandler) {
  struct Case {
    const char* pszWhat;
    std::vector<FAKE_STEP> reads;
    DWORD cbDeclared;  // 0: the body's own size
  } cases[] = {
      {"read fails", {{false, 0}}, 0},
      {"read fails after a short one", {{true, 5}, {false, 0}}, 0},
      {"read succeeds with nothing", {{true, 0}}, 0},
      {"more declared than the server has", {}, 64},
      {"declared over 1 MiB", {}, (1u << 20) + 1},
      {"declared the largest size", {}, ~DWORD{0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    ClearHandlerCalls();
    CFakeServer server("POST", "Default", "P" + std::string(29, 'y'), 10);
    server.ScriptReads(c.reads);
    if (c.cbDeclared != 0) server.DeclareBodySize(c.cbDeclared);
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 400u);
    EXPECT_TRUE(HandlerCalls().empty());
    WIRE_RESPONSE wire = server.Wire();
    EXPECT_EQ(wire.strStatusLine, "400 Bad Request");
    EXPECT_NE(wire.strBody.find("Request: Default\r\n"), std::string::npos) << wire.strBody;
    EXPECT_LE(server.CallsOf(FAKE_CALL::READ).size(), 2u);
  }
}

TEST_F(FrameTest, AnEmptyGetMakesExactlyTheHeaderRequestTheLineEndAndThePage) {
  CFakeServer server("GET", "");
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
  EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 400u);
  const std::vector<FAKE_CALL>& calls = server.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].nKind, FAKE_CALL::HEADER);
  EXPECT_EQ(calls[0].strBytes, "400 Bad Request");
  EXPECT_EQ(calls[0].strHeaders, "Content-Type: text/html\r\n");
  EXPECT_EQ(calls[1].nKind, FAKE_CALL::WRITE);
  EXPECT_EQ(calls[1].strBytes, "\r\n");
  EXPECT_EQ(calls[2].nKind, FAKE_CALL::WRITE);
  EXPECT_EQ(calls[2].strBytes.size(), 162u);
  EXPECT_EQ(calls[2].strBytes, RequestCases()[0].pszBody);
  for (const FAKE_CALL& call : calls) EXPECT_EQ(call.dwFlags, 0u);
}

TEST_F(FrameTest, AServedRequestGetsTheHandlersBytesThenOneHeaderRequestOf200) {
  CFakeServer server("GET", "Echo&thumb+bytes");
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_SUCCESS);
  EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 200u);
  const std::vector<FAKE_CALL>& calls = server.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].strBytes, "thumb bytes");
  EXPECT_EQ(calls[1].nKind, FAKE_CALL::HEADER);
  EXPECT_EQ(calls[1].strBytes, "200 OK");
  EXPECT_FALSE(calls[1].bHeaderText);
}

TEST_F(FrameTest, AHandlerExceptionOfAnyKindGetsThe500PageAfterWhatTheHandlerWrote) {
  const std::string strPage =
      "<HEAD><TITLE>HTTP Error 500</TITLE></HEAD>"
      "<BODY><H1>SERVER ERROR</H1>The server encountered an internal error or misconfiguration "
      "and was unable to complete your request.</BODY>\r\n</body></html>";
  for (const char* pszWhat : {"memory", "file", "bad_alloc", "int"}) {
    SCOPED_TRACE(pszWhat);
    CFakeServer server("GET", (std::string("Throw&") + pszWhat).c_str());
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 500u);
    const std::vector<FAKE_CALL>& calls = server.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].strBytes, "partial");
    EXPECT_EQ(calls[1].strBytes, "500 Internal Server Error");
    EXPECT_EQ(calls[2].strBytes, "\r\n");
    EXPECT_EQ(calls[3].strBytes, strPage);
    EXPECT_EQ(server.Wire().strBody, "partial" + strPage);
  }
}

TEST_F(FrameTest, AHandlerThatSetsAStatusAndReportsItGetsThatStatusAndPage) {
  struct Case {
    const char* pszStatus;
    const char* pszLine;
    const char* pszPart;
  } cases[] = {
      {"404", "404 Not Found",
       "<BODY><H1>NOT FOUND</H1><P>The requested URL was not found on this server.</BODY>\r\n"
       "</body></html>"},
      {"500", "500 Internal Server Error", "<H1>SERVER ERROR</H1>"},
      {"403", "403 Forbidden", "<H1>FORBIDDEN</H1>"},
      {"401", "401 Unauthorized", "<H1>AUTH REQUIRED</H1>"},
      {"502", "502 Bad Gateway", "<BODY><H1>HTTP Error 502: No message available</H1></BODY>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszStatus);
    CFakeServer server("GET", (std::string("Status&") + c.pszStatus).c_str());
    // The request was dispatched: the result stays a success while the client sees the status.
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_SUCCESS);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, static_cast<DWORD>(std::atoi(c.pszStatus)));
    WIRE_RESPONSE wire = server.Wire();
    EXPECT_EQ(wire.cHeaderRequests, 1);
    EXPECT_EQ(wire.strStatusLine, c.pszLine);
    EXPECT_EQ(wire.strHeaders, "Content-Type: text/html\r\n");
    EXPECT_EQ(wire.strBody.rfind(std::string("<HEAD><TITLE>HTTP Error ") + c.pszStatus, 0), 0u);
    EXPECT_NE(wire.strBody.find(c.pszPart), std::string::npos) << wire.strBody;
  }
}

TEST_F(FrameTest, AHeaderRequestResetByThePeerIsIgnoredAnyOtherFailureEndsTheResponse) {
  {
    CFakeServer server("GET", "");
    server.FailHeader(10054);
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 400u);
    ASSERT_EQ(server.CallsOf(FAKE_CALL::WRITE).size(), 2u);
    EXPECT_EQ(server.CallsOf(FAKE_CALL::WRITE)[1].strBytes.size(), 162u);
  }
  for (DWORD dwError : {DWORD{32}, DWORD{0}, DWORD{10053}}) {
    CFakeServer server("GET", "");
    server.FailHeader(dwError);
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 500u) << dwError;
    EXPECT_TRUE(server.CallsOf(FAKE_CALL::WRITE).empty()) << dwError;
  }
  // After a served request too: the result turns into an error.
  CFakeServer server("GET", "Default&P");
  server.FailHeader(32);
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
  EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 500u);
}

TEST_F(FrameTest, PageWritesAreCompletedOrTheRequestFailsWith500) {
  struct Case {
    const char* pszWhat;
    std::vector<FAKE_STEP> writes;
    DWORD dwStatus;
    size_t cbBody;
  } cases[] = {
      {"line end fails", {{false, 0}}, 500, 0},
      {"page fails", {{true, FAKE_STEP::kAll}, {false, 0}}, 500, 0},
      {"page taken in three pieces", {{true, 2}, {true, 100}, {true, 50}}, 400, 162},
      {"page write takes nothing", {{true, 2}, {true, 0}}, 500, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszWhat);
    CFakeServer server("GET", "");
    server.ScriptWrites(c.writes);
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, c.dwStatus);
    EXPECT_EQ(server.Wire().strBody.size(), c.cbBody);
  }
}

TEST(BuildStatusLine, UsesTheStatusTableAndFallsBackTo200) {
  const std::pair<DWORD, const char*> cases[] = {
      {0, "200 OK"},
      {418, "200 OK"},
      {503, "503 Service Unavailable"},
      {204, "204 No Content"},
      {302, "302 Moved Temporarily"},
      {404, "404 Not Found"},
      {501, "501 Not Implemented"},
  };
  for (const auto& [dwStatus, pszLine] : cases) {
    char szLine[64];
    CServerExtension::BuildStatusLine(dwStatus, szLine);
    EXPECT_STREQ(szLine, pszLine) << dwStatus;
  }
}

TEST_F(FrameTest, LongAndHostileQueryTextsAreShownEscapedWhole) {
  std::string strFirst;
  for (int i = 0; i < 5000; ++i) strFirst += "%3C%22%27%3E%26";
  CFakeServer server("GET", (strFirst + "&x&y").c_str());
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
  std::string strExpected;
  for (int i = 0; i < 5000; ++i) strExpected += "&lt;&quot;&#39;&gt;&amp;";
  EXPECT_NE(server.Wire().strBody.find("Request: " + strExpected + "\r\n</body></html>"),
            std::string::npos);
}

TEST_F(FrameTest, ARequestBlockWithoutQueryTextGetsItsPageUnfilled) {
  CFakeServer server("GET", nullptr);
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_ERROR);
  EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 501u);
  EXPECT_NE(server.Wire().strBody.find("the method <b>%s</b>"), std::string::npos);
  CFakeServer post("POST", nullptr, "P");
  HttpExtensionProc(post.Ecb());
  EXPECT_EQ(post.Ecb()->dwHttpStatusCode, 200u);
}

TEST_F(FrameTest, PageOperationsWriteOnlyWhereThereIsAStream) {
  CFakeServer server("GET", "");
  CRequestContext ctxt(server.Ecb());
  CTestExtension& ext = TestExtension();
  EXPECT_STREQ(ext.GetPageTitle(), "Default MFC Web Server Extension");
  ext.WritePageHead(&ctxt);
  ext.WriteContentType(&ctxt);
  ext.WritePageEnd(&ctxt);
  EXPECT_EQ(ctxt.m_pOutput, nullptr);
  EXPECT_FALSE(ext.ReportParseError(&ctxt, DISPATCH_ARG_COUNT));
  ctxt.m_pOutput = ext.CreateOutputStream();
  ext.WriteContentType(&ctxt);
  ext.WritePageHead(&ctxt);
  ext.WritePageEnd(&ctxt);
  EXPECT_EQ(ctxt.m_cbHeaders, 25u);
  std::unique_ptr<char[]> pBytes = ctxt.m_pOutput->TakeBytes();
  EXPECT_STREQ(pBytes.get(),
               "Content-Type: text/html\r\n<html><head><title>Default MFC Web Server Extension"
               "</title></head><body></body></html>");
}

TEST(GetExtensionVersion, TheBaseReportsInterface2AndNoDescription) {
  HSE_VERSION_INFO info;
  std::memset(&info, 'x', sizeof info);
  EXPECT_TRUE(TestExtension().CServerExtension::GetExtensionVersion(&info));
  EXPECT_EQ(info.dwExtensionVersion, 0x20000u);
  EXPECT_EQ(info.lpszExtensionDesc[0], '\0');
}

TEST(COutputStream, GrowsInWholeStepsLargerThanItsSizeAndHandsItsBytesOver) {
  COutputStream out;
  EXPECT_EQ(out.TakeBytes(), nullptr);
  out.Write("", 0);
  EXPECT_EQ(out.GetCapacity(), 0u);
  std::string strPiece(4095, 'a');
  out.WriteText(strPiece.c_str());
  EXPECT_EQ(out.GetCapacity(), 4096u);
  out.Write("b", 1);  // 4096 bytes need a larger buffer: the terminator must fit
  EXPECT_EQ(out.GetCapacity(), 8192u);
  out.Clear();
  EXPECT_EQ(out.GetSize(), 0u);
  EXPECT_EQ(out.GetCapacity(), 8192u);
  out.WriteText("page");
  std::unique_ptr<char[]> pBytes = out.TakeBytes();
  EXPECT_STREQ(pBytes.get(), "page");
  EXPECT_EQ(out.GetSize(), 0u);
  EXPECT_EQ(out.TakeBytes(), nullptr);
}

TEST_F(FrameTest, TheSharedRequestCasesGetTheirAnswers) {
  for (const REQUEST_CASE& c : RequestCases()) {
    DWORD dwResult = 0;
    WIRE_RESPONSE wire = RunRequestCase(c, &HttpExtensionProc, &dwResult);
    EXPECT_EQ(CheckResponse(c, wire), "") << c.pszName;
    EXPECT_EQ(dwResult, c.dwHseResult) << c.pszName;
    EXPECT_EQ(wire.cHeaderRequests, 1) << c.pszName;
    EXPECT_TRUE(HandlerCalls().empty()) << c.pszName;
  }
}

}  // namespace
