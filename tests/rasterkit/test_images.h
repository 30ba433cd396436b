// Small images made by the codecs' own encoders, for the tests and the fuzzers' seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rktest {

using Bytes = std::vector<uint8_t>;

struct Rgba {
  uint8_t r, g, b, a;
};

// The test pattern: quadrants red (top left), green (top right), blue (bottom left) and white;
// with alpha, the right half is fully transparent.
Rgba Pattern(int x, int y, int width, int height, bool alpha);

enum class JpegKind { kColour, kGrey, kProgressive, kAdobeCmyk };
// A JPEG of the pattern; orientation > 0 adds an EXIF block with that tag.
Bytes MakeJpeg(int width, int height, JpegKind kind, int orientation = 0, int quality = 95);

// A PNG of the pattern in `color_type` (libpng's PNG_COLOR_TYPE_*) at `bit_depth`; grey and
// palette images map the pattern to levels. `trns` adds a tRNS entry (colour types without
// alpha) for the transparent half; orientation > 0 adds an eXIf chunk.
Bytes MakePng(int width, int height, int color_type, int bit_depth, bool trns = false,
              bool interlace = false, int orientation = 0);

// A GIF of the pattern with a colour map of 2^colour_bits entries; `transparent` makes the
// right half transparent.
Bytes MakeGif(int width, int height, int colour_bits, bool transparent);

// A WebP of the pattern; orientation > 0 adds an EXIF chunk.
Bytes MakeWebp(int width, int height, bool lossless, bool alpha, int orientation = 0);

// "Exif\0\0" and a little-endian TIFF block holding only the orientation tag.
Bytes ExifBlock(int orientation);

bool WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

}  // namespace rktest
