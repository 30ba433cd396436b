// The shared pieces of the codecs: limits, memory sources, buffers and sinks.
#include "codec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace rasterkit {
namespace {

// Memory kept by a thread's buffers between images; anything larger is given back.
constexpr size_t kKeepBytes = 64u << 20;

uint64_t EnvironmentNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text < '0' || *text > '9') return fallback;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0) return fallback;
  return value;
}

}  // namespace

Limits Limits::FromEnvironment() {
  Limits limits;
  limits.max_pixels = EnvironmentNumber("RASTERKIT_MAX_PIXELS", limits.max_pixels);
  limits.max_file_bytes = EnvironmentNumber("RASTERKIT_MAX_FILE_BYTES", limits.max_file_bytes);
  return limits;
}

size_t MemorySource::Read(uint64_t offset, void* buf, size_t n) noexcept {
  if (offset >= size_) return 0;
  size_t count = std::min<uint64_t>(n, size_ - offset);
  std::memcpy(buf, data_ + offset, count);
  return count;
}

bool ReadAll(Source& source, uint64_t max_bytes, std::vector<uint8_t>* out) {
  uint64_t size = source.Size();
  if (size == 0 || size > max_bytes) return false;
  out->resize(size);
  return source.Read(0, out->data(), size) == size;
}

uint8_t* PixelBuffer::Reserve(size_t size) noexcept {
  if (size > capacity_) {
    data_.reset();
    capacity_ = 0;
    data_.reset(new (std::nothrow) uint8_t[size]);
    if (!data_) return nullptr;
    capacity_ = size;
  }
  return data_.get();
}

void PixelBuffer::Trim() noexcept {
  if (capacity_ > kKeepBytes) {
    data_.reset();
    capacity_ = 0;
  }
}

bool Pixmap::Allocate(PixelBuffer* buffer, int w, int h, int c) noexcept {
  if (w <= 0 || h <= 0) return false;
  size_t row = static_cast<size_t>(w) * c;
  data = buffer->Reserve(row * h);
  if (data == nullptr) return false;
  width = w;
  height = h;
  channels = c;
  stride = row;
  return true;
}

bool ByteSink::Append(const void* bytes, size_t n) noexcept {
  if (failed_) return false;
  if (n > capacity_ - size_) {
    size_t wanted = std::max(size_ + n, capacity_ * 2 + 4096);
    void* grown = std::realloc(data_, wanted);
    if (grown == nullptr) {
      failed_ = true;
      return false;
    }
    data_ = static_cast<uint8_t*>(grown);
    capacity_ = wanted;
  }
  std::memcpy(data_ + size_, bytes, n);
  size_ += n;
  return true;
}

}  // namespace rasterkit
