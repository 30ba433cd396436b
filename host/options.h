// The host's command line: what it listens on, what it mounts, and its limits.
#pragma once

#include <string>
#include <vector>

namespace parvix_host {

struct Mount {
  std::string path;     // URL path, "/parvix"; never ends in '/' unless it is "/"
  std::string library;  // file of the extension library
};

struct Options {
  std::string listen_address = "127.0.0.1";
  int listen_port = 8080;  // 0 picks a free port
  std::string images_dir;  // empty: no confinement, no thumbnail page
  unsigned threads = 0;    // extension workers; 0 until parsed (then the core count)
  unsigned max_connections = 256;
  unsigned max_per_client = 64;
  unsigned timeout_seconds = 30;
  std::vector<Mount> mounts;
  bool quiet = false;
};

// Parses argv into *options. Returns true when the host should run; false when it should exit,
// with *exit_code 0 after --help (usage printed on stdout) or 2 after a bad flag (the reason
// and a hint printed on stderr). `default_library` is mounted at /parvix when no --mount is
// given.
bool ParseOptions(int argc, char** argv, const std::string& default_library, Options* options,
                  int* exit_code);

}  // namespace parvix_host
