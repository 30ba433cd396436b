// Starting parvix-host for a test and talking to it with libcurl.
#include "host_process.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <regex>

namespace host_test {
namespace {

pid_t Spawn(const std::vector<std::string>& args, int* stderr_fd) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 2);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    std::vector<char*> argv;
    static std::string exe = PARVIX_HOST_EXE;
    argv.push_back(exe.data());
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  *stderr_fd = pipe_fds[0];
  return pid;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  auto* headers = &reply->headers;
  std::string line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {  // a new response (after 100 Continue)
    headers->clear();
    reply->raw_headers.clear();
  }
  size_t colon = line.find(':');
  if (colon != std::string::npos) {
    reply->raw_headers += line;
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    headers->emplace(name, value);
  }
  return size * count;
}

}  // namespace

HostProcess::HostProcess(std::vector<std::string> args) {
  args.push_back("--listen");
  args.push_back("127.0.0.1:0");
  int fd = -1;
  pid_ = Spawn(args, &fd);
  if (pid_ < 0) return;
  // Read up to the start line here; the rest of the log is gathered in the background.
  std::string pending;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end = pending.find('\n');
    size_t start = pending.find("parvix-host: listening on ");
    if (start != std::string::npos && pending.find('\n', start) != std::string::npos) {
      end = pending.find('\n', start);
      start_line_ = pending.substr(start, end - start);
      std::smatch m;
      if (std::regex_search(start_line_, m, std::regex(R"(http://127\.0\.0\.1:(\d+)/)"))) {
        port_ = std::stoi(m[1]);
      }
      if (std::regex_search(start_line_, m, std::regex(R"(temp (\S+))"))) temp_dir_ = m[1];
      break;
    }
  }
  log_ = pending;
  reader_ = std::thread([this, fd] {
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
      std::lock_guard<std::mutex> lock(log_mutex_);
      log_.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
  });
}

HostProcess::~HostProcess() { Stop(); }

int HostProcess::Stop() {
  if (pid_ < 0) return -1;
  kill(pid_, SIGTERM);
  int status = -1;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (reader_.joinable()) reader_.join();
  return status;
}

std::string HostProcess::Log() {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return log_;
}

std::string HostProcess::Url(const std::string& path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path_and_query;
}

int RunHostToEnd(const std::vector<std::string>& args, std::string* output) {
  int fd = -1;
  pid_t pid = Spawn(args, &fd);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) output->append(buffer, static_cast<size_t>(n));
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Request Post(std::string body, std::string content_type) {
  Request request;
  request.method = "POST";
  request.body = std::move(body);
  request.content_type = std::move(content_type);
  return request;
}

Request Head() {
  Request request;
  request.method = "HEAD";
  return request;
}

std::string Reply::Header(const std::string& lower_name) const {
  auto it = headers.find(lower_name);
  return it == headers.end() ? "" : it->second;
}

Client::Client() : curl_(curl_easy_init()) {}
Client::~Client() { curl_easy_cleanup(curl_); }

Reply Client::Fetch(const std::string& url, const Request& request) {
  Reply reply;
  curl_easy_reset(curl_);
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, request.timeout_ms);
  curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
  curl_slist* headers = nullptr;
  if (!request.content_type.empty()) {
    headers = curl_slist_append(headers, ("Content-Type: " + request.content_type).c_str());
  }
  headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
  if (request.method == "HEAD") {
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
  } else if (request.method == "POST") {
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  } else if (request.method != "GET") {
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  reply.code = curl_easy_perform(curl_);
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &reply.new_connections);
  curl_slist_free_all(headers);
  return reply;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        names.push_back(entry->d_name);
      }
    }
    closedir(d);
  }
  return names;
}

}  // namespace host_test
