// The host's HTTP behaviour, through real HTTP on loopback, with the scriptable test extension.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "host_process.h"

namespace host_test {
namespace {

class HostBehaviour : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = new HostProcess({"--mount", std::string("/t=") + TEST_EXTENSION, "--threads", "2"});
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(host_->started()) << host_->Log(); }

  static HostProcess* host_;
  Client client_;
};
HostProcess* HostBehaviour::host_ = nullptr;

TEST_F(HostBehaviour, RequestBlockCarriesMethodUndecodedQueryPathInfoAndType) {
  Reply reply = client_.Fetch(host_->Url("/t/sub/dir?echo:a%20b+c"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body,
            "method=GET query=echo:a%20b+c path=/sub/dir type= total=0 avail=0 read=ok\n");
}

TEST_F(HostBehaviour, SmallBodyArrivesWholeInThePreloadedPart) {
  Request post = Post("MfcISAPICommand=Default&x", "text/x");
  Reply reply = client_.Fetch(host_->Url("/t?echo"), post);
  EXPECT_EQ(reply.body,
            "method=POST query=echo path= type=text/x total=25 avail=25 read=ok\n" + post.body);
}

TEST_F(HostBehaviour, LargeBodyArrivesPartlyPreloadedAndTheRestThroughReadClient) {
  std::string body(1 << 20, 'b');  // the most the host holds
  for (size_t i = 0; i < body.size(); i += 997) body[i] = static_cast<char>('a' + i % 26);
  Reply reply = client_.Fetch(host_->Url("/t?echo"), Post(body));
  std::string expected_line =
      "method=POST query=echo path= type=application/x-www-form-urlencoded"
      " total=1048576 avail=49152 read=ok\n";
  ASSERT_EQ(reply.body.substr(0, expected_line.size()), expected_line);
  EXPECT_TRUE(reply.body.substr(expected_line.size()) == body);
}

TEST_F(HostBehaviour, BodyDeclaredOverTheLimitReachesTheExtensionUnheldAndCloses) {
  Reply reply = client_.Fetch(host_->Url("/t?echo"), Post(std::string(2 << 20, 'x')));
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find("total=2097152 avail=0 read=failed"), std::string::npos)
      << reply.body.substr(0, 200);
  EXPECT_EQ(reply.Header("connection"), "close");
}

TEST_F(HostBehaviour, ChunkedBodyOverTheLimitIsRefusedWith413) {
  CURL* curl = curl_easy_init();
  std::string sent(3 << 20, 'c');
  size_t offset = 0;
  auto read = +[](char* buffer, size_t size, size_t count, void* user) -> size_t {
    auto* state = static_cast<std::pair<std::string*, size_t*>*>(user);
    size_t n = std::min(size * count, state->first->size() - *state->second);
    std::memcpy(buffer, state->first->data() + *state->second, n);
    *state->second += n;
    return n;
  };
  std::pair<std::string*, size_t*> state{&sent, &offset};
  curl_slist* headers = curl_slist_append(nullptr, "Transfer-Encoding: chunked");
  curl_easy_setopt(curl, CURLOPT_URL, host_->Url("/t?echo").c_str());
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, read);
  curl_easy_setopt(curl, CURLOPT_READDATA, &state);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  EXPECT_EQ(status, 413);
}

// How the host turns what the extension wrote into the response.
struct ShapeCase {
  const char* query;
  long status;
  const char* header;  // "name: value" expected, or ""
  const char* absent;  // header name that must not appear, or ""
  const char* body;
};

TEST_F(HostBehaviour, ResponseIsShapedFromTheExtensionsWritesAndHeaderRequest) {
  const ShapeCase kCases[] = {
      {"early", 200, "x-mode: early", "", "early-late"},
      {"split", 201, "x-b: 2", "", "body"},
      {"split", 201, "x-a: 1", "", "body"},
      {"twice", 202, "x-first: 1", "x-second", "second-accepted"},
      {"sniff:jpeg", 200, "content-type: image/jpeg", "", "\xFF\xD8\xFF\xE0rest"},
      {"sniff:gif", 200, "content-type: image/gif", "", "GIF89a...."},
      {"sniff:png", 200, "content-type: image/png", "", "\x89PNG\r\n\x1A\n...."},
      {"sniff:other", 200, "content-type: application/octet-stream", "", "plain words"},
      {"status:404", 404, "", "", "status only"},
      {"echo", 200, "content-type: text/plain", "", nullptr},
  };
  for (const ShapeCase& c : kCases) {
    SCOPED_TRACE(c.query);
    Reply reply = client_.Fetch(host_->Url(std::string("/t?") + c.query));
    EXPECT_EQ(reply.status, c.status);
    if (*c.header != '\0') {
      std::string line = c.header;
      size_t colon = line.find(": ");
      EXPECT_EQ(reply.Header(line.substr(0, colon)), line.substr(colon + 2));
    }
    if (*c.absent != '\0') {
      EXPECT_EQ(reply.Header(c.absent), "");
    }
    if (c.body != nullptr) {
      EXPECT_EQ(reply.body, c.body);
    }
    EXPECT_EQ(reply.Header("content-length"), std::to_string(reply.body.size()));
    EXPECT_NE(reply.Header("date"), "");
    EXPECT_EQ(reply.Header("server"), "parvix-host/1.0");
  }
}

TEST_F(HostBehaviour, ErrorResultClosesTheConnectionAfterTheResponse) {
  Reply reply = client_.Fetch(host_->Url("/t?error"));
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, "failed");
  EXPECT_EQ(reply.Header("connection"), "close");
  Reply next = client_.Fetch(host_->Url("/t?echo"));
  EXPECT_EQ(next.status, 200);
  EXPECT_EQ(next.new_connections, 1);  // the closed connection was not reused
}

TEST_F(HostBehaviour, KeepAliveCarriesSeveralRequestsOnOneConnection) {
  long opened = 0;
  for (int i = 0; i < 5; ++i) {
    Reply reply = client_.Fetch(host_->Url("/t?sniff:png"));
    ASSERT_EQ(reply.status, 200);
    opened += reply.new_connections;
  }
  EXPECT_EQ(opened, 1);
}

TEST_F(HostBehaviour, HeadAnswersLikeGetWithoutTheBody) {
  Reply get = client_.Fetch(host_->Url("/t?sniff:gif"));
  Reply head = client_.Fetch(host_->Url("/t?sniff:gif"), Head());
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.body, "");
  EXPECT_EQ(head.Header("content-length"), get.Header("content-length"));
  EXPECT_EQ(head.Header("content-type"), "image/gif");
}

TEST_F(HostBehaviour, ServerVariablesAnswerTheBasics) {
  EXPECT_EQ(client_.Fetch(host_->Url("/t?var:REQUEST_METHOD")).body, "GET");
  EXPECT_EQ(client_.Fetch(host_->Url("/t?var:REMOTE_ADDR")).body, "127.0.0.1");
  EXPECT_EQ(client_.Fetch(host_->Url("/t?var:NO_SUCH")).body, "missing 1413");
}

TEST_F(HostBehaviour, ExtensionGetsAPrivateTemporaryFolder) {
  Reply reply = client_.Fetch(host_->Url("/t?tmpdir"));
  EXPECT_EQ(reply.body, host_->temp_dir() + " 700");
  EXPECT_EQ(host_->temp_dir().find("/parvix-host."), host_->temp_dir().rfind('/'));
}

TEST_F(HostBehaviour, HostPagesAnswer) {
  EXPECT_EQ(client_.Fetch(host_->Url("/healthz")).status, 200);
  EXPECT_EQ(client_.Fetch(host_->Url("/nothing/here")).status, 404);
  Reply index = client_.Fetch(host_->Url("/"));
  EXPECT_EQ(index.status, 200);
  EXPECT_EQ(index.Header("content-type"), "text/html; charset=utf-8");
}

TEST_F(HostBehaviour, AccessLogHasOneLinePerRequestWithItsFields) {
  client_.Fetch(host_->Url("/t?status:200&marker=" + std::string(300, 'q')));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::string log = host_->Log();
  size_t at = log.find("127.0.0.1 GET /t?status:200&marker=");
  ASSERT_NE(at, std::string::npos) << log;
  std::string line = log.substr(at, log.find('\n', at) - at);
  // The path and query are cut at 200 characters; status, bytes and milliseconds follow.
  EXPECT_NE(line.find("/t?status:200&marker=" + std::string(179, 'q') + " 200 11 "),
            std::string::npos)
      << line;
  EXPECT_EQ(line.back(), 's');
}

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(HostBehaviour, ResetConnectionFailsTheExtensionsWritesWithLastError10054) {
  std::string outcome_file = host_->temp_dir() + "/../drip-outcome-" + std::to_string(getpid());
  int fd = Connect(host_->port());
  ASSERT_GE(fd, 0);
  std::string request = "GET /t?drip:200:10:" + outcome_file + " HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);  // a reset, mid-request
  std::string outcome;
  for (int i = 0; i < 100 && outcome.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(outcome_file);
    std::getline(in, outcome);
  }
  std::remove(outcome_file.c_str());
  EXPECT_EQ(outcome.rfind("failed 10054 after ", 0), 0u) << outcome;
  EXPECT_EQ(client_.Fetch(host_->Url("/healthz")).status, 200);
}

TEST_F(HostBehaviour, SlowClientHoldsUpNobodyElse) {
  int fd = Connect(host_->port());
  ASSERT_GE(fd, 0);
  std::string request = "GET /t?sniff:png HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  std::thread slow([&] {
    for (char c : request) {
      ASSERT_EQ(write(fd, &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  // While the slow request trickles in, others are answered at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client_.Fetch(host_->Url("/t?sniff:jpeg")).status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  slow.join();
  std::string response;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) response.append(buffer, n);
  close(fd);
  EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << response;
  EXPECT_NE(response.find("Content-Type: image/png"), std::string::npos);
}

// Command-line and loading errors are reported clearly, with a failing exit code.
TEST(HostCommandLine, BadFlagsAndLibrariesAreReportedClearly) {
  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* message;
  } kCases[] = {
      {{"--bogus"}, 2, "unknown flag '--bogus'"},
      {{"--threads", "zero"}, 2, "bad --threads 'zero'"},
      {{"--listen", "nowhere"}, 2, "bad --listen 'nowhere'"},
      {{"--mount", "/x=/no/such/lib.so"}, 1, "cannot load extension library /no/such/lib.so"},
      {{"--mount", "/x=" + std::string(NO_EXPORTS_LIBRARY)}, 1, "lacks the export"},
      {{"--images", "/no/such/folder", "--mount", std::string("/t=") + TEST_EXTENSION},
       1,
       "is not a folder"},
  };
  for (const auto& c : kCases) {
    std::string output;
    EXPECT_EQ(RunHostToEnd(c.args, &output), c.exit_code) << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
  }
}

TEST(HostCommandLine, PortInUseIsReportedClearly) {
  HostProcess first({"--mount", std::string("/t=") + TEST_EXTENSION});
  ASSERT_TRUE(first.started());
  std::string output;
  EXPECT_EQ(RunHostToEnd({"--mount", std::string("/t=") + TEST_EXTENSION, "--listen",
                          "127.0.0.1:" + std::to_string(first.port())},
                         &output),
            1);
  EXPECT_NE(output.find("the port is in use"), std::string::npos) << output;
}

TEST(HostCommandLine, StopsCleanlyOnSigtermAndRemovesItsTemporaryFolder) {
  HostProcess host({"--mount", std::string("/t=") + TEST_EXTENSION});
  ASSERT_TRUE(host.started());
  ASSERT_EQ(access(host.temp_dir().c_str(), F_OK), 0);
  int status = host.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(access(host.temp_dir().c_str(), F_OK), 0);
}

}  // namespace
}  // namespace host_test
