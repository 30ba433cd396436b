// libmicrohttpd integration: routing, request mapping, suspend/resume around extension calls,
// the thumbnail page and the access log.
#include "server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace parvix_host {

namespace {

constexpr size_t kQueuedPerWorker = 4;
constexpr size_t kLogFieldLimit = 200;
constexpr char kServerName[] = "parvix-host/1.0";

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool IsImageName(const std::string& name) {
  static const char* const kEndings[] = {".jpg", ".jpeg", ".png", ".gif", ".webp"};
  for (const char* ending : kEndings) {
    size_t n = std::strlen(ending);
    if (name.size() > n && strcasecmp(name.c_str() + name.size() - n, ending) == 0) return true;
  }
  return false;
}

// One line of the log never spans lines and never grows without bound.
std::string LogField(const std::string& text) {
  std::string out = text.substr(0, kLogFieldLimit);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < ' ' || c == 127) c = '?';
  }
  return out;
}

void LogMhdError(void* /*cls*/, const char* format, va_list args) {
  std::fputs("parvix-host: libmicrohttpd: ", stderr);
  std::vfprintf(stderr, format, args);
}

}  // namespace

// One HTTP request, from its request line to the end of its response.
struct HttpServer::Transaction {
  HttpServer* server;
  std::string raw_uri;  // as received: path and query, undecoded
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::string method = "-";
  std::string client = "-";
  bool begun = false;
  const MountedExtension* mount = nullptr;
  ExtensionRequest request;
  bool body_unheld = false;  // declared over kMaxBodyBytes: passed on without its bytes
  bool body_too_large = false;
  bool dispatched = false;
  std::atomic<bool> replied{false};  // the worker has filled `reply`
  ExtensionReply reply;
  unsigned status = 0;
  size_t bytes = 0;
};

// libmicrohttpd's callbacks, with access to the server's insides.
struct Handlers {
  using Transaction = HttpServer::Transaction;

  static void* BeginRequest(void* cls, const char* uri, MHD_Connection* /*connection*/) {
    auto* server = static_cast<HttpServer*>(cls);
    {
      std::lock_guard<std::mutex> lock(server->live_mutex_);
      ++server->live_;
    }
    auto* t = new Transaction;
    t->server = server;
    t->raw_uri = uri != nullptr ? uri : "";
    return t;
  }

  static void Completed(void* cls, MHD_Connection* /*connection*/, void** con_cls,
                        MHD_RequestTerminationCode /*code*/) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* t = static_cast<Transaction*>(*con_cls);
    if (t == nullptr) return;
    *con_cls = nullptr;
    if (!server->options_.quiet) server->LogRequest(*t);
    delete t;
    {
      std::lock_guard<std::mutex> lock(server->live_mutex_);
      --server->live_;
    }
    server->live_changed_.notify_all();
  }

  static MHD_Result Queue(Transaction* t, MHD_Connection* connection, unsigned status,
                          const std::string& body,
                          const std::vector<std::pair<std::string, std::string>>& headers,
                          bool close) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    for (const auto& [name, value] : headers) {
      MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_SERVER, kServerName);
    if (close || t->server->stopping_) {
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    t->status = status;
    t->bytes = t->method == "HEAD" ? 0 : body.size();
    return result;
  }

  static MHD_Result QueuePage(Transaction* t, MHD_Connection* connection, unsigned status,
                              const std::string& type, const std::string& body,
                              bool close = false) {
    return Queue(t, connection, status, body, {{"Content-Type", type}}, close);
  }

  static MHD_Result QueueError(Transaction* t, MHD_Connection* connection, unsigned status,
                               const char* text, bool close) {
    std::string page = "<html><head><title>" + std::to_string(status) + " " + text +
                       "</title></head><body><h1>" + text + "</h1></body></html>\n";
    return QueuePage(t, connection, status, "text/html", page, close);
  }

  // Hands the request to a worker and suspends the connection until the reply is ready; when
  // every worker is busy and the queue is full, answers 503 at once.
  static MHD_Result Dispatch(Transaction* t, MHD_Connection* connection) {
    HttpServer* server = t->server;
    bool queued = server->pool_->TrySubmit(
        [t, connection] {
          t->reply = t->mount->library->Call(t->request);
          t->replied.store(true, std::memory_order_release);
          MHD_resume_connection(connection);
        },
        [connection] { MHD_suspend_connection(connection); });
    if (!queued) return QueueError(t, connection, 503, "Service Unavailable", false);
    t->dispatched = true;
    return MHD_YES;
  }

  // Fills in the parts of the request block known from the request line and headers.
  static void Begin(Transaction* t, MHD_Connection* connection, const char* url,
                    const char* method) {
    t->begun = true;
    t->method = method;
    if (const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
      char text[INET6_ADDRSTRLEN] = "-";
      const sockaddr* addr = info->client_addr;
      if (addr->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text,
                  sizeof text);
      } else if (addr->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr, text,
                  sizeof text);
      }
      t->client = text;
    }
    std::string path = url;
    for (const MountedExtension& mount : t->server->mounts_) {
      if (path == mount.path ||
          (path.size() > mount.path.size() && path.compare(0, mount.path.size(), mount.path) == 0 &&
           path[mount.path.size()] == '/')) {
        t->mount = &mount;
        t->request.path_info = path.substr(mount.path.size());
        break;
      }
    }
    if (t->mount == nullptr) return;
    ExtensionRequest& r = t->request;
    r.method = t->method == "HEAD" ? "GET" : t->method;  // HEAD is GET without the body
    size_t question = t->raw_uri.find('?');
    r.query = question == std::string::npos ? "" : t->raw_uri.substr(question + 1);
    if (const char* type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                       MHD_HTTP_HEADER_CONTENT_TYPE)) {
      r.content_type = type;
    }
    if (const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH)) {
      r.declared_bytes = std::strtoull(length, nullptr, 10);
    }
    r.client = t->client;
    if (const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
      r.socket_fd = info->connect_fd;
    }
  }

  static MHD_Result Handle(void* /*cls*/, MHD_Connection* connection, const char* url,
                           const char* method, const char* /*version*/, const char* upload_data,
                           size_t* upload_data_size, void** con_cls) {
    auto* t = static_cast<Transaction*>(*con_cls);
    if (t == nullptr) return MHD_NO;
    HttpServer* server = t->server;
    if (!t->begun) {
      Begin(t, connection, url, method);
      if (t->mount == nullptr) {
        std::string path = url;
        if (path == "/healthz") return QueuePage(t, connection, 200, "text/plain", "ok\n");
        if (path == "/" && (t->method == "GET" || t->method == "HEAD")) {
          return QueuePage(t, connection, 200, "text/html; charset=utf-8", server->IndexPage());
        }
        return QueueError(t, connection, 404, "Not Found", false);
      }
      if (t->request.declared_bytes > UINT32_MAX) {
        return QueueError(t, connection, 413, "Payload Too Large", true);
      }
      if (t->request.declared_bytes > kMaxBodyBytes) {
        // Not held: the extension sees the declared size and refuses the body itself.
        t->body_unheld = true;
        return Dispatch(t, connection);
      }
      return MHD_YES;
    }
    if (t->mount == nullptr) {  // a host page already answered: drop the body
      *upload_data_size = 0;
      return MHD_YES;
    }
    if (t->dispatched) {
      if (t->replied.load(std::memory_order_acquire)) {
        ExtensionReply& reply = t->reply;
        // A body left unread on the connection cannot be followed by another request.
        bool close = reply.close || t->body_unheld;
        return Queue(t, connection, reply.status, reply.body, reply.headers, close);
      }
      *upload_data_size = 0;
      return MHD_YES;
    }
    if (*upload_data_size != 0) {
      if (t->request.body.size() + *upload_data_size > kMaxBodyBytes) {
        t->body_too_large = true;
        t->request.body.clear();
        t->request.body.shrink_to_fit();
      } else if (!t->body_too_large) {
        t->request.body.append(upload_data, *upload_data_size);
      }
      *upload_data_size = 0;
      return MHD_YES;
    }
    if (t->body_too_large) return QueueError(t, connection, 413, "Payload Too Large", true);
    t->request.declared_bytes = t->request.body.size();
    return Dispatch(t, connection);
  }
};

HttpServer::HttpServer(const Options& options, std::vector<MountedExtension> mounts,
                       std::string images_dir)
    : options_(options), mounts_(std::move(mounts)), images_dir_(std::move(images_dir)) {}

HttpServer::~HttpServer() { Shutdown(0); }

bool HttpServer::Start(int listen_fd, std::string* error) {
  pool_ = std::make_unique<WorkerPool>(options_.threads, kQueuedPerWorker * options_.threads);
  daemon_ = MHD_start_daemon(
      MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, 0, nullptr,
      nullptr, &Handlers::Handle, this, MHD_OPTION_EXTERNAL_LOGGER, &LogMhdError, nullptr,
      MHD_OPTION_LISTEN_SOCKET, listen_fd, MHD_OPTION_CONNECTION_LIMIT,
      static_cast<unsigned>(options_.max_connections), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      static_cast<unsigned>(options_.max_per_client), MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(options_.timeout_seconds), MHD_OPTION_URI_LOG_CALLBACK,
      &Handlers::BeginRequest, this, MHD_OPTION_NOTIFY_COMPLETED, &Handlers::Completed, this,
      MHD_OPTION_END);
  if (daemon_ == nullptr) {
    *error = "libmicrohttpd would not start";
    pool_.reset();
    return false;
  }
  return true;
}

void HttpServer::Shutdown(unsigned grace_seconds) {
  if (daemon_ == nullptr) return;
  stopping_ = true;
  MHD_quiesce_daemon(daemon_);
  {
    std::unique_lock<std::mutex> lock(live_mutex_);
    live_changed_.wait_for(lock, std::chrono::seconds(grace_seconds),
                           [this] { return live_ == 0; });
  }
  // Calls still running finish and resume their connections before the loop stops.
  pool_.reset();
  {
    std::unique_lock<std::mutex> lock(live_mutex_);
    live_changed_.wait_for(lock, std::chrono::seconds(1), [this] { return live_ == 0; });
  }
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

void HttpServer::LogRequest(const Transaction& t) const {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  t.start)
                .count();
  std::string status = t.status == 0 ? "-" : std::to_string(t.status);
  std::fprintf(stderr, "%s %s %s %s %s %zu %lldms\n", when, t.client.c_str(),
               LogField(t.method).c_str(), LogField(t.raw_uri).c_str(), status.c_str(), t.bytes,
               static_cast<long long>(ms));
}

std::string HttpServer::IndexPage() const {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>parvix</title>\n"
      "<style>body{font-family:sans-serif}img{margin:4px;border:1px solid #ccc}</style>"
      "</head><body>\n<h1>parvix thumbnails</h1>\n";
  if (images_dir_.empty() || mounts_.empty()) {
    page += "<p>No images folder: start parvix-host with --images DIR.</p>\n";
  } else {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(images_dir_, ec)) {
      std::string name = entry.path().filename().string();
      if (entry.is_regular_file(ec) && IsImageName(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    page += "<p>" + HtmlEscape(images_dir_) + "</p>\n";
    for (const std::string& name : names) {
      std::string src =
          mounts_.front().path + "?120:90;JPG:75;" + UrlEncode(images_dir_ + "/" + name) + ";";
      page += "<img src=\"" + HtmlEscape(src) + "\" alt=\"" + HtmlEscape(name) + "\" title=\"" +
              HtmlEscape(name) + "\">\n";
    }
  }
  page += "</body></html>\n";
  return page;
}

}  // namespace parvix_host
