// Command-line parsing for parvix-host.
#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace parvix_host {
namespace {

constexpr char kUsage[] =
    "usage: parvix-host [flags]\n"
    "  --listen ADDR:PORT     address to serve on (default 127.0.0.1:8080; port 0 picks one)\n"
    "  --images DIR           folder shown on / ; reads are confined to it where Landlock works\n"
    "  --threads N            extension workers (default: the core count)\n"
    "  --max-connections N    open connections at most (default 256)\n"
    "  --max-per-client N     open connections per client address at most (default 64)\n"
    "  --timeout SECONDS      idle connection timeout (default 30)\n"
    "  --mount PATH=LIB       serve extension library LIB under URL path PATH (repeatable;\n"
    "                         default /parvix=the built libparvix.so)\n"
    "  --quiet                no access log\n"
    "  --help                 this text\n";

bool ParseUnsigned(const char* text, unsigned min, unsigned max, unsigned* out) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return false;
  *out = static_cast<unsigned>(value);
  return true;
}

bool ParseListen(const std::string& text, Options* options) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string address = text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  unsigned port = 0;
  if (address.empty() || !ParseUnsigned(text.c_str() + colon + 1, 0, 65535, &port)) return false;
  options->listen_address = address;
  options->listen_port = static_cast<int>(port);
  return true;
}

bool ParseMount(const std::string& text, Mount* mount) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) return false;
  std::string path = text.substr(0, equals);
  if (path.front() != '/') return false;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/" || path == "/healthz") return false;  // the host's own pages
  mount->path = path;
  mount->library = text.substr(equals + 1);
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, const std::string& default_library, Options* options,
                  int* exit_code) {
  auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "parvix-host: %s\n(run parvix-host --help for the flags)\n",
                 message.c_str());
    *exit_code = 2;
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    std::string value;
    bool has_value = false;
    if (size_t equals = flag.find('=');
        flag.rfind("--", 0) == 0 && equals != std::string::npos && flag.rfind("--mount", 0) != 0) {
      value = flag.substr(equals + 1);
      flag = flag.substr(0, equals);
      has_value = true;
    } else if (flag.rfind("--mount=", 0) == 0) {
      value = flag.substr(8);
      flag = "--mount";
      has_value = true;
    }
    auto take = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      *exit_code = 0;
      return false;
    } else if (flag == "--quiet") {
      options->quiet = true;
    } else if (flag == "--listen") {
      if (!take()) return fail("--listen needs ADDR:PORT");
      if (!ParseListen(value, options)) {
        return fail("bad --listen '" + value + "': expected ADDR:PORT, e.g. 127.0.0.1:8080");
      }
    } else if (flag == "--images") {
      if (!take() || value.empty()) return fail("--images needs a folder");
      options->images_dir = value;
    } else if (flag == "--threads") {
      if (!take() || !ParseUnsigned(value.c_str(), 1, 1024, &options->threads)) {
        return fail("bad --threads '" + value + "': expected a number from 1 to 1024");
      }
    } else if (flag == "--max-connections") {
      if (!take() || !ParseUnsigned(value.c_str(), 1, 65536, &options->max_connections)) {
        return fail("bad --max-connections '" + value + "': expected a number from 1 to 65536");
      }
    } else if (flag == "--max-per-client") {
      if (!take() || !ParseUnsigned(value.c_str(), 1, 65536, &options->max_per_client)) {
        return fail("bad --max-per-client '" + value + "': expected a number from 1 to 65536");
      }
    } else if (flag == "--timeout") {
      if (!take() || !ParseUnsigned(value.c_str(), 1, 86400, &options->timeout_seconds)) {
        return fail("bad --timeout '" + value + "': expected seconds from 1 to 86400");
      }
    } else if (flag == "--mount") {
      Mount mount;
      if (!take() || !ParseMount(value, &mount)) {
        return fail("bad --mount '" + value + "': expected /PATH=LIBRARY (not / or /healthz)");
      }
      for (const Mount& other : options->mounts) {
        if (other.path == mount.path) return fail("--mount " + mount.path + " given twice");
      }
      options->mounts.push_back(mount);
    } else {
      return fail("unknown flag '" + std::string(argv[i]) + "'");
    }
  }
  if (options->threads == 0) {
    options->threads = std::max(1u, std::thread::hardware_concurrency());
  }
  if (options->mounts.empty()) {
    if (default_library.empty()) return fail("no libparvix.so found; give --mount PATH=LIB");
    options->mounts.push_back({"/parvix", default_library});
  }
  return true;
}

}  // namespace parvix_host
