// Test helpers: a parvix-host child process on an ephemeral loopback port, and a small libcurl
// client for it.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>

namespace host_test {

// Starts parvix-host with `args` (plus --listen 127.0.0.1:0) and waits for its start line.
// The destructor stops it with SIGTERM and waits for it.
class HostProcess {
 public:
  explicit HostProcess(std::vector<std::string> args);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return port_ != 0; }
  int port() const { return port_; }
  std::string Url(const std::string& path_and_query) const;
  const std::string& temp_dir() const { return temp_dir_; }
  const std::string& start_line() const { return start_line_; }
  // Everything the host wrote on stderr so far.
  std::string Log();
  // Sends SIGTERM and returns the exit status (as from waitpid), or -1.
  int Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string temp_dir_;
  std::string start_line_;
  std::thread reader_;
  std::mutex log_mutex_;
  std::string log_;
};

// Runs parvix-host with `args` to its end (for the flag and loading errors); returns the exit
// code and fills *output with its stderr.
int RunHostToEnd(const std::vector<std::string>& args, std::string* output);

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::multimap<std::string, std::string> headers;  // names in lower case
  std::string raw_headers;  // the header lines as received, each ending in "\r\n"
  std::string body;
  long new_connections = 0;  // connections libcurl opened for this request

  std::string Header(const std::string& lower_name) const;
};

struct Request {
  std::string method = "GET";  // GET, HEAD or POST
  std::string body;            // sent with POST
  std::string content_type;
  long timeout_ms = 20000;
};

Request Post(std::string body, std::string content_type = "");
Request Head();

// One client; its connection is kept alive between calls.
class Client {
 public:
  Client();
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  Reply Fetch(const std::string& url, const Request& request = {});

 private:
  CURL* curl_;
};

// Names of the entries of `dir` (empty when it is empty or missing).
std::vector<std::string> ListDir(const std::string& dir);

}  // namespace host_test
