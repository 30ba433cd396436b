// parvix-host: serves extension libraries over HTTP/1.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "extension.h"
#include "options.h"
#include "sandbox.h"
#include "server.h"

#ifndef PARVIX_DEFAULT_EXTENSION
#define PARVIX_DEFAULT_EXTENSION ""
#endif

namespace parvix_host {
namespace {

// The built libparvix.so: where the build put it, else beside or near this executable.
std::string DefaultLibrary() {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string built = PARVIX_DEFAULT_EXTENSION;
  if (!built.empty() && fs::exists(built, ec)) return built;
  fs::path exe_dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  if (!ec) {
    for (const char* relative :
         {"libparvix.so", "../lib/libparvix.so", "../src/thumbnail/libparvix.so",
          "../src/extension/libparvix.so"}) {
      fs::path candidate = exe_dir / relative;
      if (fs::exists(candidate, ec)) return fs::weakly_canonical(candidate, ec).string();
    }
  }
  return built;
}

// Owns the listening socket.
class Listener {
 public:
  ~Listener() {
    if (fd_ >= 0) close(fd_);
  }
  bool Bind(const std::string& address, int port, std::string* error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(static_cast<uint16_t>(port));
      length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(static_cast<uint16_t>(port));
      length = sizeof *v6;
    } else {
      *error = "bad listen address '" + address + "': expected a numeric IPv4 or IPv6 address";
      return false;
    }
    fd_ = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd_, 256) != 0) {
      *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " +
               std::strerror(errno) + (errno == EADDRINUSE ? " (the port is in use)" : "");
      return false;
    }
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) == 0) {
      port_ = ntohs(storage.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    }
    return true;
  }
  int fd() const { return fd_; }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

int Run(int argc, char** argv) {
  Options options;
  int exit_code = 0;
  if (!ParseOptions(argc, argv, DefaultLibrary(), &options, &exit_code)) return exit_code;
  auto fail = [](const std::string& message) {
    std::fprintf(stderr, "parvix-host: %s\n", message.c_str());
    return 1;
  };

  // Signals are taken by sigwait on this thread; every thread started later inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  std::string images_dir;
  if (!options.images_dir.empty()) {
    std::error_code ec;
    images_dir = std::filesystem::canonical(options.images_dir, ec).string();
    if (ec || !std::filesystem::is_directory(images_dir, ec)) {
      return fail("--images " + options.images_dir + " is not a folder");
    }
  }
  // The extension's temporary folder is in place before any library code runs.
  PrivateTempDir temp_dir;
  if (!temp_dir.Create(&error)) return fail(error);

  // Libraries are loaded before the confinement, which would keep them from being read.
  std::vector<std::unique_ptr<ExtensionLibrary>> libraries;
  std::vector<MountedExtension> mounts;
  std::vector<std::string> library_files;
  for (const Mount& mount : options.mounts) {
    auto library = std::make_unique<ExtensionLibrary>();
    if (!library->Load(mount.library, &error)) return fail(error);
    std::error_code ec;
    library_files.push_back(std::filesystem::canonical(mount.library, ec).string());
    mounts.push_back({mount.path, library.get()});
    libraries.push_back(std::move(library));
  }

  Listener listener;
  if (!listener.Bind(options.listen_address, options.listen_port, &error)) return fail(error);

  tzset();  // read the zone files while they can still be read
  std::string confinement = "off (no --images)";
  if (!images_dir.empty()) {
    std::vector<std::string> read_dirs = {images_dir};
    // Sanitizer runtimes read /proc/self/maps; nothing there leads out of the confinement.
    if (std::filesystem::is_directory("/proc")) read_dirs.push_back("/proc");
    std::string status;
    bool active = ConfineReads(read_dirs, library_files, {temp_dir.path()}, &status);
    confinement = active ? "active (" + status + "): reads confined to " + images_dir
                         : "inactive: " + status + "; running unconfined";
  }

  HttpServer server(options, mounts, images_dir);
  if (!server.Start(listener.fd(), &error)) return fail(error);

  std::string mounted;
  for (size_t i = 0; i < mounts.size(); ++i) {
    mounted += (i ? ", " : "") + mounts[i].path + "=" + mounts[i].library->path() + " (" +
               mounts[i].library->description() + ")";
  }
  std::string host = options.listen_address.find(':') == std::string::npos
                         ? options.listen_address
                         : "[" + options.listen_address + "]";
  std::fprintf(stderr,
               "parvix-host: listening on http://%s:%d/ ; mounted %s ; %u workers ; temp %s ; "
               "images %s ; landlock %s\n",
               host.c_str(), listener.port(), mounted.c_str(), options.threads,
               temp_dir.path().c_str(), images_dir.empty() ? "-" : images_dir.c_str(),
               confinement.c_str());
  std::fflush(stderr);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  std::fprintf(stderr, "parvix-host: %s: finishing requests in flight\n",
               signal_number == SIGINT ? "SIGINT" : "SIGTERM");
  server.Shutdown(options.timeout_seconds);
  std::fprintf(stderr, "parvix-host: stopped\n");
  return 0;
}

}  // namespace
}  // namespace parvix_host

int main(int argc, char** argv) { return parvix_host::Run(argc, argv); }
