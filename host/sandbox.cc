// Private temporary folder and Landlock confinement.
#include "sandbox.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

namespace parvix_host {
namespace {

// Owns a file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr uint64_t kReadDir = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

bool AddRule(int ruleset, const std::string& path, uint64_t access, std::string* status) {
  Fd fd(open(path.c_str(), O_PATH | O_CLOEXEC));
  if (fd.get() < 0) {
    *status = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  landlock_path_beneath_attr rule{};
  rule.allowed_access = access;
  rule.parent_fd = fd.get();
  if (syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0) {
    *status = "landlock_add_rule(" + path + "): " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

PrivateTempDir::~PrivateTempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  if (watcher_fd_ >= 0) {
    close(watcher_fd_);
    waitpid(watcher_pid_, nullptr, 0);
  }
}

bool PrivateTempDir::Create(std::string* error) {
  const char* base = std::getenv("TMPDIR");
  std::string parent =
      (base != nullptr && *base != '\0' && std::filesystem::is_directory(base)) ? base : "/tmp";
  std::string pattern = parent + "/parvix-host.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {  // mkdtemp makes it 0700
    *error = "cannot make a temporary folder in " + parent + ": " + std::strerror(errno);
    return false;
  }
  path_ = pattern;
  setenv("TMPDIR", path_.c_str(), 1);
  // Once confined, the process may not remove the folder itself from its parent; a watcher
  // forked now, before any thread or confinement, removes it when the host's end of the pipe
  // closes, at exit or at a crash alike.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) == 0) {
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[1]);
      char byte;
      while (read(fds[0], &byte, 1) != 0 && errno == EINTR) {
      }
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
      _exit(0);
    }
    close(fds[0]);
    if (pid > 0) {
      watcher_fd_ = fds[1];
      watcher_pid_ = pid;
    } else {
      close(fds[1]);
    }
  }
  return true;
}

bool ConfineReads(const std::vector<std::string>& read_dirs,
                  const std::vector<std::string>& read_files,
                  const std::vector<std::string>& write_dirs, std::string* status) {
  long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 0) {
    *status =
        errno == EOPNOTSUPP ? "Landlock is disabled in this kernel" : "this kernel has no Landlock";
    return false;
  }
  uint64_t handled =
      LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
      LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
      LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
      LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
      LANDLOCK_ACCESS_FS_MAKE_SYM;
  if (abi >= 2) handled |= LANDLOCK_ACCESS_FS_REFER;
  if (abi >= 3) handled |= LANDLOCK_ACCESS_FS_TRUNCATE;  // else a read-only file could be cut
  uint64_t write = handled & ~(LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                               LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SOCK |
                               LANDLOCK_ACCESS_FS_MAKE_FIFO);
  landlock_ruleset_attr attr{};
  attr.handled_access_fs = handled;
  Fd ruleset(static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0)));
  if (ruleset.get() < 0) {
    *status = std::string("landlock_create_ruleset: ") + std::strerror(errno);
    return false;
  }
  for (const std::string& dir : read_dirs) {
    if (!AddRule(ruleset.get(), dir, kReadDir, status)) return false;
  }
  for (const std::string& file : read_files) {
    if (!AddRule(ruleset.get(), file, kReadFile, status)) return false;
  }
  for (const std::string& dir : write_dirs) {
    if (!AddRule(ruleset.get(), dir, write, status)) return false;
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    *status = std::string("prctl(PR_SET_NO_NEW_PRIVS): ") + std::strerror(errno);
    return false;
  }
  if (syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) {
    *status = std::string("landlock_restrict_self: ") + std::strerror(errno);
    return false;
  }
  *status = "ABI " + std::to_string(abi);
  return true;
}

}  // namespace parvix_host
