// The host's safety measures: the extension's private temporary folder and the Landlock
// confinement of reads to the images folder.
#pragma once

#include <string>
#include <vector>

namespace parvix_host {

// A fresh 0700 folder under $TMPDIR (else /tmp), set as TMPDIR for the whole process;
// removed with its contents when the object goes.
class PrivateTempDir {
 public:
  PrivateTempDir() = default;
  ~PrivateTempDir();
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;

  // Makes the folder and sets TMPDIR to it; call before any thread starts. Returns false with
  // *error set when it cannot.
  bool Create(std::string* error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int watcher_fd_ = -1;  // closing it tells the watcher to remove the folder
  int watcher_pid_ = -1;
};

// Restricts the process (and every thread it starts later) to reading `read_dirs` and
// `read_files`, and to reading and writing `write_dirs`. Returns true when Landlock took
// effect; otherwise false with *status saying why (the process then runs unconfined). On
// success *status names the Landlock ABI.
bool ConfineReads(const std::vector<std::string>& read_dirs,
                  const std::vector<std::string>& read_files,
                  const std::vector<std::string>& write_dirs, std::string* status);

}  // namespace parvix_host
