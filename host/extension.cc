// Loading extension libraries and serving one request block: the host's side of the
// extension interface (ReadClient, WriteClient, ServerSupportFunction, GetServerVariable).
#include "extension.h"

#include <dlfcn.h>
#include <poll.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

namespace parvix_host {
namespace {

// The extension reads its last error from errno, which every module of the process shares per
// thread (GetLastError in the extension's platform layer).
void SetLastError(DWORD error) { errno = static_cast<int>(error); }

constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorInvalidIndex = 1413;
constexpr DWORD kErrorNotEnoughMemory = 8;

// Headers the host sets itself; the extension's versions are dropped.
bool IsHostHeader(const std::string& name) {
  static const char* const kHostHeaders[] = {
      "Content-Length", "Transfer-Encoding", "Connection", "Keep-Alive", "Date", "Server"};
  for (const char* host : kHostHeaders) {
    if (strcasecmp(name.c_str(), host) == 0) return true;
  }
  return false;
}

bool IsToken(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c) != nullptr) return false;
  }
  return true;
}

// The state of one call: the request block and everything its callbacks reach through ConnID.
class Exchange {
 public:
  explicit Exchange(const ExtensionRequest& request) : request_(request) {
    method_ = request.method;
    query_ = request.query;
    path_info_ = request.path_info;
    content_type_ = request.content_type;
    std::memset(&block_, 0, sizeof block_);
    block_.cbSize = sizeof block_;
    block_.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
    block_.ConnID = this;
    block_.lpszMethod = method_.data();
    block_.lpszQueryString = query_.data();
    block_.lpszPathInfo = path_info_.data();
    block_.lpszPathTranslated = path_translated_;
    block_.cbTotalBytes = static_cast<DWORD>(request.declared_bytes);
    preload_.assign(request.body, 0, std::min<size_t>(request.body.size(), kPreloadBytes));
    read_offset_ = preload_.size();
    block_.cbAvailable = static_cast<DWORD>(preload_.size());
    block_.lpbData = reinterpret_cast<LPBYTE>(preload_.data());
    block_.lpszContentType = content_type_.data();
    block_.GetServerVariable = &Exchange::GetServerVariable;
    block_.WriteClient = &Exchange::WriteClient;
    block_.ReadClient = &Exchange::ReadClient;
    block_.ServerSupportFunction = &Exchange::ServerSupportFunction;
  }

  EXTENSION_CONTROL_BLOCK* block() { return &block_; }

  // Completes the reply once HttpExtensionProc has returned `result`.
  ExtensionReply Finish(DWORD result) {
    if (state_ == State::kHeaderLines) EndHeaderLines();
    if (!header_sent_) {
      // No header request: the status the extension left in the block, else 200 or 500.
      DWORD code = block_.dwHttpStatusCode;
      reply_.status =
          (code >= 100 && code <= 599) ? code : (result == HSE_STATUS_ERROR ? 500 : 200);
    }
    if (result == HSE_STATUS_ERROR) reply_.close = true;
    bool has_type = std::any_of(reply_.headers.begin(), reply_.headers.end(), [](const auto& h) {
      return strcasecmp(h.first.c_str(), "Content-Type") == 0;
    });
    if (!has_type && !reply_.body.empty()) {
      reply_.headers.emplace_back("Content-Type", SniffContentType(reply_.body));
    }
    return std::move(reply_);
  }

 private:
  enum class State { kBeforeHeader, kHeaderLines, kBody };

  static Exchange* From(HCONN conn) { return static_cast<Exchange*>(conn); }

  // True while the client is still connected; a closed or reset socket sets last error 10054.
  bool ClientThere() {
    if (gone_) return false;
    if (request_.socket_fd >= 0) {
      pollfd fd{request_.socket_fd, POLLRDHUP, 0};
      if (poll(&fd, 1, 0) > 0 && (fd.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        gone_ = true;
      }
    }
    if (gone_) SetLastError(WSAECONNRESET);
    return !gone_;
  }

  static BOOL WriteClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD /*reserved*/) {
    Exchange* self = From(conn);
    if (bytes == nullptr || (buffer == nullptr && *bytes != 0)) {
      SetLastError(kErrorInvalidParameter);
      return 0;
    }
    if (!self->ClientThere()) return 0;
    if (self->reply_.body.size() + self->header_lines_.size() + *bytes > kMaxReplyBytes) {
      SetLastError(kErrorNotEnoughMemory);
      return 0;
    }
    self->Take(static_cast<const char*>(buffer), *bytes);
    return 1;
  }

  // Routes written bytes: held body bytes before the header, header lines after a header
  // request whose text did not end the header, body bytes after that.
  void Take(const char* data, size_t size) {
    if (state_ != State::kHeaderLines) {
      reply_.body.append(data, size);
      return;
    }
    header_lines_.append(data, size);
    // The header ends at an empty line; text that is not a header line ends it too and is body.
    size_t start = 0;
    while (true) {
      size_t end = header_lines_.find('\n', start);
      if (end == std::string::npos) break;
      std::string line = header_lines_.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || !AddHeaderLine(line)) {
        state_ = State::kBody;
        reply_.body.append(header_lines_, line.empty() ? end + 1 : start, std::string::npos);
        header_lines_.clear();
        return;
      }
      start = end + 1;
    }
    header_lines_.erase(0, start);
  }

  // Ends header lines that never met their empty line.
  void EndHeaderLines() {
    std::string rest = std::move(header_lines_);
    header_lines_.clear();
    if (!rest.empty() && !AddHeaderLine(rest)) reply_.body.append(rest);
    state_ = State::kBody;
  }

  // Adds "Name: value"; returns false when the line is not a header line.
  bool AddHeaderLine(const std::string& line) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    std::string name = line.substr(0, colon);
    if (!IsToken(name)) return false;
    size_t value_start = line.find_first_not_of(" \t", colon + 1);
    std::string value = value_start == std::string::npos ? "" : line.substr(value_start);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    for (unsigned char c : value) {
      if (c < ' ' && c != '\t') return false;
    }
    if (strcasecmp(name.c_str(), "Connection") == 0 && strcasecmp(value.c_str(), "close") == 0) {
      reply_.close = true;
    }
    if (!IsHostHeader(name)) reply_.headers.emplace_back(name, value);
    return true;
  }

  void SendHeader(const char* status_line, const char* header_text) {
    header_sent_ = true;
    reply_.status = 200;
    if (status_line != nullptr && *status_line != '\0') {
      const char* p = status_line;
      if (strncasecmp(p, "HTTP/", 5) == 0) {
        p = std::strchr(p, ' ');
        p = p == nullptr ? status_line : p + 1;
      }
      char* end = nullptr;
      long code = std::strtol(p, &end, 10);
      if (end != p && code >= 100 && code <= 599) reply_.status = static_cast<unsigned>(code);
    }
    state_ = State::kBody;
    if (header_text == nullptr || *header_text == '\0') return;
    // Header lines, possibly continued by the next writes up to the empty line.
    state_ = State::kHeaderLines;
    std::string held = std::move(reply_.body);
    reply_.body.clear();
    Take(header_text, std::strlen(header_text));
    // Bytes written before the header request start the body, ahead of anything after it.
    reply_.body.insert(0, held);
  }

  static BOOL ServerSupportFunction(HCONN conn, DWORD request, LPVOID buffer, LPDWORD /*size*/,
                                    LPDWORD data_type) {
    Exchange* self = From(conn);
    if (request != HSE_REQ_SEND_RESPONSE_HEADER) {
      SetLastError(kErrorInvalidParameter);
      return 0;
    }
    if (!self->ClientThere()) return 0;
    if (self->header_sent_) return 1;  // one header per response; a second is ignored
    self->SendHeader(static_cast<const char*>(buffer), reinterpret_cast<const char*>(data_type));
    return 1;
  }

  static BOOL ReadClient(HCONN conn, LPVOID buffer, LPDWORD size) {
    Exchange* self = From(conn);
    if (size == nullptr || buffer == nullptr) {
      SetLastError(kErrorInvalidParameter);
      return 0;
    }
    const std::string& body = self->request_.body;
    if (self->read_offset_ >= body.size()) {
      if (body.size() < self->request_.declared_bytes) {
        // The host did not hold this body (too large): there is nothing more to read.
        *size = 0;
        SetLastError(kErrorInsufficientBuffer);
        return 0;
      }
      *size = 0;  // the whole body was delivered
      return 1;
    }
    size_t n = std::min<size_t>(*size, body.size() - self->read_offset_);
    std::memcpy(buffer, body.data() + self->read_offset_, n);
    self->read_offset_ += n;
    *size = static_cast<DWORD>(n);
    return 1;
  }

  static BOOL GetServerVariable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size) {
    Exchange* self = From(conn);
    if (name == nullptr || size == nullptr) {
      SetLastError(kErrorInvalidParameter);
      return 0;
    }
    std::string value;
    const ExtensionRequest& r = self->request_;
    if (std::strcmp(name, "REQUEST_METHOD") == 0) {
      value = r.method;
    } else if (std::strcmp(name, "QUERY_STRING") == 0) {
      value = r.query;
    } else if (std::strcmp(name, "PATH_INFO") == 0) {
      value = r.path_info;
    } else if (std::strcmp(name, "CONTENT_TYPE") == 0) {
      value = r.content_type;
    } else if (std::strcmp(name, "CONTENT_LENGTH") == 0) {
      value = std::to_string(r.declared_bytes);
    } else if (std::strcmp(name, "REMOTE_ADDR") == 0 || std::strcmp(name, "REMOTE_HOST") == 0) {
      value = r.client;
    } else if (std::strcmp(name, "SERVER_PROTOCOL") == 0) {
      value = "HTTP/1.1";
    } else if (std::strcmp(name, "SERVER_SOFTWARE") == 0) {
      value = "parvix-host/1.0";
    } else {
      SetLastError(kErrorInvalidIndex);
      return 0;
    }
    if (buffer == nullptr || *size < value.size() + 1) {
      *size = static_cast<DWORD>(value.size() + 1);
      SetLastError(kErrorInsufficientBuffer);
      return 0;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *size = static_cast<DWORD>(value.size() + 1);
    return 1;
  }

  const ExtensionRequest& request_;
  EXTENSION_CONTROL_BLOCK block_;
  std::string method_, query_, path_info_, content_type_, preload_;
  char path_translated_[1] = {0};
  size_t read_offset_ = 0;
  State state_ = State::kBeforeHeader;
  bool header_sent_ = false;
  bool gone_ = false;
  std::string header_lines_;  // header text not yet ended by a line end
  ExtensionReply reply_;
};

}  // namespace

const char* SniffContentType(const std::string& body) {
  auto starts = [&](const char* magic, size_t n) {
    return body.size() >= n && std::memcmp(body.data(), magic, n) == 0;
  };
  if (starts("\xFF\xD8\xFF", 3)) return "image/jpeg";
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return "image/gif";
  if (starts("\x89PNG\r\n\x1A\n", 8)) return "image/png";
  return "application/octet-stream";
}

ExtensionLibrary::~ExtensionLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool ExtensionLibrary::Load(const std::string& path, std::string* error) {
  path_ = path;
  // A bare name would make dlopen search the library path; a mount names a file.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    *error = "cannot load extension library " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  auto version = reinterpret_cast<PFN_GETEXTENSIONVERSION>(dlsym(handle_, "GetExtensionVersion"));
  proc_ = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(dlsym(handle_, "HttpExtensionProc"));
  if (version == nullptr || proc_ == nullptr) {
    *error = "extension library " + path + " lacks the export " +
             (version == nullptr ? "GetExtensionVersion" : "HttpExtensionProc");
    return false;
  }
  HSE_VERSION_INFO info{};
  BOOL ok = 0;
  try {
    ok = version(&info);
  } catch (...) {
    ok = 0;
  }
  if (!ok) {
    *error = "extension library " + path + " refused to start (GetExtensionVersion false)";
    return false;
  }
  info.lpszExtensionDesc[sizeof info.lpszExtensionDesc - 1] = '\0';
  description_ = info.lpszExtensionDesc;
  return true;
}

ExtensionReply ExtensionLibrary::Call(const ExtensionRequest& request) const {
  try {
    Exchange exchange(request);
    DWORD result = HSE_STATUS_ERROR;
    try {
      result = proc_(exchange.block());
    } catch (...) {
      result = HSE_STATUS_ERROR;  // an exception must not cross into the host's threads
    }
    return exchange.Finish(result);
  } catch (const std::exception&) {
    ExtensionReply reply;
    reply.status = 500;
    reply.close = true;
    return reply;
  }
}

}  // namespace parvix_host
