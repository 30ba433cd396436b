// What the loaders, the savers and the pipeline share: byte sources, pixel maps, image facts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace rasterkit {

enum class Format { kJpeg, kPng, kGif, kWebp };

// The limits that keep hostile input bounded, read from the environment at each call
// (RASTERKIT_MAX_PIXELS, RASTERKIT_MAX_FILE_BYTES; defaults 100 megapixels and 256 MiB).
struct Limits {
  uint64_t max_pixels = 100'000'000;
  uint64_t max_file_bytes = 256ull << 20;
  static Limits FromEnvironment();
  bool AllowsSize(int64_t width, int64_t height) const {
    return width > 0 && height > 0 && width <= 0x7fffffff && height <= 0x7fffffff &&
           static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= max_pixels;
  }
};

// Random-access bytes of one encoded image. Never throws.
class Source {
 public:
  virtual ~Source() = default;
  // Copies up to `n` bytes at `offset` into `buf`; returns how many (0 at the end or on error).
  virtual size_t Read(uint64_t offset, void* buf, size_t n) noexcept = 0;
  virtual uint64_t Size() const noexcept = 0;
};

// A source over bytes in memory; the caller keeps them alive while the source lives.
class MemorySource final : public Source {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(uint64_t offset, void* buf, size_t n) noexcept override;
  uint64_t Size() const noexcept override { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Reads a source front to back (the codecs' stream callbacks use it).
struct Cursor {
  Source* source = nullptr;
  uint64_t position = 0;
  size_t Read(void* buf, size_t n) noexcept {
    size_t got = source->Read(position, buf, n);
    position += got;
    return got;
  }
};

// Reads the whole source into *out; false when it is larger than `max_bytes` or unreadable.
bool ReadAll(Source& source, uint64_t max_bytes, std::vector<uint8_t>* out);

// What a loader finds in the header, before any pixel is decoded.
struct ImageInfo {
  Format format = Format::kPng;
  int width = 0;  // As stored, before orientation.
  int height = 0;
  int orientation = 1;     // EXIF orientation 1..8.
  int bits = 24;           // 1, 4, 8 (palette or grey as stored), 24 or 32.
  bool grey = false;       // Decodes to one channel.
  bool has_alpha = false;  // Decodes to four channels (alpha, tRNS or a transparent entry).
};

// A growable byte buffer that keeps its memory across uses; never zero-fills.
class PixelBuffer {
 public:
  // Returns at least `size` bytes, or null when they cannot be had.
  uint8_t* Reserve(size_t size) noexcept;
  // Gives memory back when it has grown past what is worth keeping for the next image.
  void Trim() noexcept;

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t capacity_ = 0;
};

// Interleaved 8-bit pixels: 1 channel (grey), 3 (RGB) or 4 (RGBA); rows `stride` bytes apart.
struct Pixmap {
  int width = 0;
  int height = 0;
  int channels = 0;
  size_t stride = 0;
  uint8_t* data = nullptr;
  uint8_t* Row(int y) const { return data + static_cast<size_t>(y) * stride; }
  // Points the map at `buffer`, sized for width x height x channels; false on allocation failure.
  bool Allocate(PixelBuffer* buffer, int w, int h, int c) noexcept;
};

// A byte sink for the encoders' C callbacks: grows with realloc, never throws.
class ByteSink {
 public:
  ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;
  ~ByteSink() { std::free(data_); }
  bool Append(const void* bytes, size_t n) noexcept;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool failed() const { return failed_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

// The decode request: the size, in stored orientation, the caller will resample to (0 x 0 for
// the full image). Loaders that can shrink while decoding use it; the result may be larger.
struct DecodeTarget {
  int width = 0;
  int height = 0;
};

// The JPEG DCT scale (1/1, 1/2, 1/4 or 1/8: the denominator) at which an image of width x
// height is decoded for `target`: the smallest that keeps the decoded image at least twice the
// target in both directions.
int JpegScaleDenominator(int width, int height, DecodeTarget target);

// Each loader: ReadInfo parses the header (no pixels) and checks the limits; Decode decodes the
// first image into `buffer`, at least `target` in size where the codec can shrink on load.
bool JpegReadInfo(Source& source, const Limits& limits, ImageInfo* info);
bool JpegDecode(Source& source, const ImageInfo& info, DecodeTarget target, PixelBuffer* buffer,
                Pixmap* out);
bool PngReadInfo(Source& source, const Limits& limits, ImageInfo* info);
bool PngDecode(Source& source, const ImageInfo& info, PixelBuffer* buffer, Pixmap* out);
bool GifReadInfo(Source& source, const Limits& limits, ImageInfo* info);
bool GifDecode(Source& source, const ImageInfo& info, PixelBuffer* buffer, Pixmap* out);
bool WebpReadInfo(Source& source, const Limits& limits, ImageInfo* info);
bool WebpDecode(Source& source, const Limits& limits, const ImageInfo& info, DecodeTarget target,
                PixelBuffer* buffer, Pixmap* out);

// The savers append the encoded image to *out. JPEG takes 1 or 3 channels; PNG takes 1 (at
// `grey_bits` 1, 2, 4 or 8), 3 or 4 channels.
bool EncodeJpeg(const Pixmap& image, int quality, ByteSink* out);
bool EncodePng(const Pixmap& image, int grey_bits, ByteSink* out);
struct IndexedImage;
bool EncodePalettePng(const IndexedImage& image, ByteSink* out);

}  // namespace rasterkit
