// Bounded file reading and replace-by-rename saving.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace rasterkit {
namespace {

class FileSource final : public Source {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override { ::close(fd_); }

  size_t Read(uint64_t offset, void* buf, size_t n) noexcept override {
    size_t done = 0;
    while (done < n && offset + done < size_) {
      ssize_t got =
          ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }
  uint64_t Size() const noexcept override { return size_; }

 private:
  int fd_;
  uint64_t size_;
};

// Owns a file descriptor and, until Keep(), the file created under `path`.
class CreatedFile {
 public:
  CreatedFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  CreatedFile(const CreatedFile&) = delete;
  CreatedFile& operator=(const CreatedFile&) = delete;
  ~CreatedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Keep() { kept_ = true; }

 private:
  int fd_;
  std::string path_;
  bool kept_ = false;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

std::unique_ptr<Source> OpenFileSource(const char* path, uint64_t max_bytes) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > max_bytes) {
    ::close(fd);
    return nullptr;
  }
  auto source =
      std::unique_ptr<Source>(new (std::nothrow) FileSource(fd, static_cast<uint64_t>(st.st_size)));
  if (!source) ::close(fd);
  return source;
}

bool WriteFileReplacing(const char* path, const uint8_t* data, size_t size) {
  if (path == nullptr || *path == '\0') return false;
  struct stat st;
  if (::lstat(path, &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
  } else if (errno != ENOENT) {
    return false;
  }
  std::string temp_path = std::string(path) + ".rk-XXXXXX";
  int fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
  if (fd < 0) return false;
  CreatedFile temp(fd, temp_path);
  if (!WriteAll(temp.fd(), data, size) || !temp.Close()) return false;
  // rename replaces a link that appeared meanwhile instead of writing through it.
  if (::rename(temp.path().c_str(), path) != 0) return false;
  temp.Keep();
  return true;
}

}  // namespace rasterkit
