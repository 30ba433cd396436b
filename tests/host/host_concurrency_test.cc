// The host under load: more concurrent requests than its workers and queue can take, and a
// stop while requests are in flight.
#include <signal.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "host_process.h"

namespace host_test {
namespace {

struct Answer {
  long status = 0;
  std::string body;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Sends `count` requests for `url` at once, each on its own connection.
std::vector<Answer> FetchAtOnce(const std::string& url, int count) {
  CURLM* multi = curl_multi_init();
  std::vector<Answer> answers(count);
  std::vector<CURL*> handles;
  for (int i = 0; i < count; ++i) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answers[i].body);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_multi_add_handle(multi, easy);
    handles.push_back(easy);
  }
  int running = 0;
  do {
    curl_multi_perform(multi, &running);
    curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  } while (running > 0);
  for (int i = 0; i < count; ++i) {
    curl_easy_getinfo(handles[i], CURLINFO_RESPONSE_CODE, &answers[i].status);
    curl_multi_remove_handle(multi, handles[i]);
    curl_easy_cleanup(handles[i]);
  }
  curl_multi_cleanup(multi);
  return answers;
}

TEST(HostConcurrency, OverflowIsAnswered503AndEveryOtherRequestIsServed) {
  HostProcess host({"--mount", std::string("/t=") + TEST_EXTENSION, "--threads", "2",
                    "--max-connections", "128", "--max-per-client", "128", "--quiet"});
  ASSERT_TRUE(host.started()) << host.Log();
  std::vector<Answer> answers = FetchAtOnce(host.Url("/t?sleep:400"), 64);
  int served = 0, refused = 0;
  for (const Answer& answer : answers) {
    if (answer.status == 200) {
      ++served;
      EXPECT_EQ(answer.body, "slept 400");
    } else {
      EXPECT_EQ(answer.status, 503);
      ++refused;
    }
  }
  // Two workers and a queue of four per worker: ten can be taken at once.
  EXPECT_GE(served, 2);
  EXPECT_LE(served, 10 + 8);  // the first ones may finish before the last ones arrive
  EXPECT_EQ(served + refused, 64);
  EXPECT_GT(refused, 0);
  EXPECT_TRUE(ListDir(host.temp_dir()).empty());
  Client client;
  Reply after = client.Fetch(host.Url("/t?sleep:1"));
  EXPECT_EQ(after.body, "slept 1") << after.code << " " << after.status << host.Log();
}

TEST(HostConcurrency, ASlowCallDoesNotHoldUpAnotherWhileAWorkerIsFree) {
  HostProcess host({"--mount", std::string("/t=") + TEST_EXTENSION, "--threads", "2", "--quiet"});
  ASSERT_TRUE(host.started());
  std::thread slow([&] {
    Client client;
    EXPECT_EQ(client.Fetch(host.Url("/t?sleep:1500")).status, 200);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Client client;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Fetch(host.Url("/t?sleep:1")).status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  slow.join();
}

TEST(HostConcurrency, StopFinishesTheRequestsInFlight) {
  HostProcess host({"--mount", std::string("/t=") + TEST_EXTENSION, "--threads", "2", "--quiet"});
  ASSERT_TRUE(host.started());
  std::vector<Answer> answers;
  std::thread load([&] { answers = FetchAtOnce(host.Url("/t?sleep:600"), 2); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int status = host.Stop();
  load.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const Answer& answer : answers) {
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "slept 600");
  }
}

}  // namespace
}  // namespace host_test
