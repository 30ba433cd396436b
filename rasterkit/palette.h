// Palette images and the colour quantiser that turns true-colour pixels into one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterkit {

struct Rgb {
  uint8_t r, g, b;
};

// An image of indices into a palette of at most 256 colours.
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<Rgb> palette;      // At most 256 entries.
  int transparent_index = -1;    // The palette entry that stands for "no pixel", or -1.
  std::vector<uint8_t> indices;  // width * height, row-major.
};

// Quantises interleaved 8-bit pixels (`channels` 3 = RGB, 4 = RGBA; rows `stride` bytes apart)
// to at most 256 colours, diffusing the error (serpentine Floyd-Steinberg). Pixels with alpha
// below 128 map to one transparent entry, which exists only when such pixels do. An image of at
// most 256 distinct colours (255 with transparency) comes out exact, undithered. Replaces *out.
// Returns false on bad arguments or allocation failure; never throws. Reentrant.
bool Quantize(const uint8_t* pixels, int width, int height, int channels, size_t stride,
              IndexedImage* out);

}  // namespace rasterkit
