// The request cases the frame's tests run through the fake server, run through parvix-host.
#include <gtest/gtest.h>

#include "host_process.h"
#include "request_cases.h"

namespace host_test {
namespace {

TEST(HostRequestCases, EveryCaseGetsItsAnswerOverHttp) {
  HostProcess host({"--threads", "2", "--quiet"});
  ASSERT_TRUE(host.started()) << host.Log();
  ASSERT_FALSE(RequestCases().empty());
  for (const REQUEST_CASE& c : RequestCases()) {
    SCOPED_TRACE(c.pszName);
    Client client;
    Request request;
    request.method = c.pszMethod;
    request.body = c.strBody;
    Reply reply = client.Fetch(host.Url(std::string("/parvix?") + c.pszQuery), request);
    WIRE_RESPONSE wire;
    wire.dwStatus = static_cast<DWORD>(reply.status);
    wire.strHeaders = reply.raw_headers;
    wire.strBody = reply.body;
    wire.cHeaderRequests = 1;
    EXPECT_EQ(CheckResponse(c, wire), "");
  }
}

}  // namespace
}  // namespace host_test
