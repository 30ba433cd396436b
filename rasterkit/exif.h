// EXIF orientation: reading the tag and turning decoded pixels upright.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec.h"

namespace rasterkit {

// The orientation tag (1..8) of an EXIF block (a TIFF header, optionally after "Exif\0\0");
// 1 when it is absent, out of range or the block is malformed.
int ExifOrientation(const uint8_t* data, size_t size);

// True when orientation `o` swaps width and height (5 to 8).
inline bool SwapsAxes(int o) { return o >= 5 && o <= 8; }

// Writes `in`, stored with orientation `o`, upright into `out` (allocated from `buffer`).
bool Orient(const Pixmap& in, int o, PixelBuffer* buffer, Pixmap* out);

}  // namespace rasterkit
