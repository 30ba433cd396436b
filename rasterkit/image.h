// The image behind a handle: header facts at open, a recorded target, decoding deferred to Save.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec.h"

namespace rasterkit {

// What Save writes, chosen from the path's ending.
enum class OutputFormat { kJpeg, kGif, kPng };

// .jpg and .jpeg (any case) give JPEG, .gif GIF, anything else PNG.
OutputFormat OutputFormatForPath(const char* path);

class Image {
 public:
  // Opens the image file at `path` (format by content) or bytes in memory (kept alive by the
  // caller for the image's lifetime). Null when it is not a readable image within the limits.
  static std::unique_ptr<Image> Open(const char* path);
  static std::unique_ptr<Image> FromMemory(const uint8_t* data, size_t size);

  // The upright size: the target after Stretch, else the image's own.
  int width() const { return width_; }
  int height() const { return height_; }
  // 1, 4 or 8 for palette and grey images as stored, 24 colour, 32 colour with alpha; after
  // ChangeFormat(n), n.
  int bits() const { return bits_; }

  // 24: colour, alpha composed over white; 8: a palette made at Save from the final pixels.
  // False for any other depth, the image unchanged.
  bool ChangeFormat(int bits);
  // Quality 1..100 for a JPEG save; 0 or less is 75, above 100 is 100.
  void SetQuality(int quality);
  // Records the exact size to resample to; false (nothing changed) when either is below 1 or
  // the size is over the pixel limit.
  bool Stretch(int width, int height);

  // Decodes, resamples and encodes into *out. False, *out unspecified, on any failure.
  bool Encode(OutputFormat format, std::vector<uint8_t>* out) const;
  // Encodes by the path's ending and replaces the file at `path` (see WriteFileReplacing).
  bool Save(const char* path) const;

 private:
  enum class Depth { kStored, kColour, kPalette };
  explicit Image(std::unique_ptr<Source> source) : source_(std::move(source)) {}
  static std::unique_ptr<Image> FromSource(std::unique_ptr<Source> source, const Limits& limits);

  std::unique_ptr<Source> source_;
  ImageInfo info_;
  Limits limits_;
  int width_ = 0;
  int height_ = 0;
  int bits_ = 24;
  bool stretched_ = false;
  bool alpha_ = false;  // The pixels that Save sees carry alpha.
  Depth depth_ = Depth::kStored;
  int quality_ = 75;
};

}  // namespace rasterkit
