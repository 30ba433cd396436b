// Many threads calling HttpExtensionProc at once, each with its own requests and answers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "test_extension.h"

namespace {

TEST(Concurrency, EveryRequestGetsExactlyItsOwnAnswer) {
  ASSERT_EQ(GetServerExtension(), &TestExtension());
  constexpr int kThreads = 8;
  constexpr int kRequests = 300;
  std::atomic<int> cWrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &cWrong] {
      for (int i = 0; i < kRequests; ++i) {
        std::string strTag = "t" + std::to_string(t) + "r" + std::to_string(i);
        bool bServed = (i + t) % 2 == 0;
        // Served: the handler echoes the tag. Refused: two tokens, the page shows the first.
        // Every third request is a POST that names the command in its body.
        bool bPost = i % 3 == 0;
        std::string strText = bServed ? "Echo&" + strTag + "%2B" : strTag + "&x&y";
        if (bPost && bServed) strText = "MfcISAPICommand=" + strText;
        CFakeServer server(bPost ? "POST" : "GET", bPost ? "" : strText.c_str(),
                           bPost ? strText : std::string());
        DWORD dwResult = HttpExtensionProc(server.Ecb());
        WIRE_RESPONSE wire = server.Wire();
        bool bRight =
            bServed
                ? dwResult == HSE_STATUS_SUCCESS && wire.strStatusLine == "200 OK" &&
                      wire.strBody == strTag + "+"
                : dwResult == HSE_STATUS_ERROR && wire.strStatusLine == "400 Bad Request" &&
                      wire.strBody.find("Request: " + (bPost ? std::string() : strTag) + "\r\n") !=
                          std::string::npos;
        if (!bRight || wire.cHeaderRequests != 1) ++cWrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(cWrong.load(), 0);
}

}  // namespace
