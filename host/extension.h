// Extension libraries: loading one by path, and carrying out one call of it on a request block.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/isapi.h"

namespace parvix_host {

// The request as the HTTP side received it, in the form the request block takes.
struct ExtensionRequest {
  std::string method;           // as the extension sees it: HEAD arrives here as GET
  std::string query;            // the URL query text, undecoded, without '?'
  std::string path_info;        // the URL path after the mount point
  std::string content_type;     // empty when the client sent none
  std::string client;           // the client's address, for REMOTE_ADDR
  uint64_t declared_bytes = 0;  // the body's declared (or, for chunked bodies, received) size
  std::string body;             // the body bytes the host holds (all of them, or none when the
                                // declared size is over kMaxBodyBytes)
  int socket_fd = -1;           // the client's socket, polled to see whether it is still there
};

// What the extension made of the request, ready for the HTTP side.
struct ExtensionReply {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // the extension's own, filtered
  std::string body;
  bool close = false;  // the extension returned HSE_STATUS_ERROR (or asked to close)
};

// The most body bytes the host holds for one request; a larger declared body reaches the
// extension with none of its bytes (it refuses it), a larger chunked body is refused with 413.
inline constexpr uint64_t kMaxBodyBytes = 1 << 20;
// The part of a held body put in lpbData; the rest is read through ReadClient.
inline constexpr uint32_t kPreloadBytes = 48 * 1024;
// The most bytes of response the host holds for one request; writes past it fail.
inline constexpr size_t kMaxReplyBytes = 64 << 20;

// One loaded extension library. Load() opens it, finds both exports and calls
// GetExtensionVersion once; the library stays loaded for the life of the object.
class ExtensionLibrary {
 public:
  ExtensionLibrary() = default;
  ~ExtensionLibrary();
  ExtensionLibrary(const ExtensionLibrary&) = delete;
  ExtensionLibrary& operator=(const ExtensionLibrary&) = delete;

  // Returns false with *error set to a sentence saying what went wrong.
  bool Load(const std::string& path, std::string* error);

  const std::string& description() const { return description_; }
  const std::string& path() const { return path_; }

  // Runs HttpExtensionProc for `request` on the calling thread and returns the reply.
  // Thread-safe: the extension is called concurrently from every worker.
  ExtensionReply Call(const ExtensionRequest& request) const;

 private:
  void* handle_ = nullptr;
  PFN_HTTPEXTENSIONPROC proc_ = nullptr;
  std::string description_;
  std::string path_;
};

// Finds the response's content type from its first bytes: JPEG, GIF, PNG, else
// application/octet-stream.
const char* SniffContentType(const std::string& body);

}  // namespace parvix_host
