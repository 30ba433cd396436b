// The HTTP side of the host: libmicrohttpd on one event-loop thread, extension calls handed to
// the worker pool, the host's own pages, and the access log.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "extension.h"
#include "options.h"
#include "worker_pool.h"

struct MHD_Daemon;

namespace parvix_host {

struct MountedExtension {
  std::string path;  // URL path, "/parvix"
  const ExtensionLibrary* library;
};

class HttpServer {
 public:
  // `mounts` and the libraries they point to must outlive the server. `images_dir` is an
  // absolute folder or empty.
  HttpServer(const Options& options, std::vector<MountedExtension> mounts, std::string images_dir);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts the workers and the event loop on the bound, listening socket `listen_fd` (which
  // the server does not own). Returns false with *error set when libmicrohttpd cannot start.
  bool Start(int listen_fd, std::string* error);

  // Stops taking connections, lets the requests in flight finish (waiting `grace_seconds` at
  // most for requests still arriving), then stops.
  void Shutdown(unsigned grace_seconds);

 private:
  struct Transaction;
  friend struct Handlers;

  void LogRequest(const Transaction& t) const;
  std::string IndexPage() const;

  Options options_;
  std::vector<MountedExtension> mounts_;
  std::string images_dir_;
  std::unique_ptr<WorkerPool> pool_;
  MHD_Daemon* daemon_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::mutex live_mutex_;
  std::condition_variable live_changed_;
  size_t live_ = 0;  // requests begun and not yet completed
};

}  // namespace parvix_host
