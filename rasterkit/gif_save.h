// The GIF writer: encodes a palette image as a GIF89a in memory.
#pragma once

#include <cstdint>
#include <vector>

#include "palette.h"

namespace rasterkit {

// Encodes `image` as a single-frame GIF89a into *out (replacing its contents): the palette
// padded to a power of two (at least 2 entries), and a graphics control extension naming the
// transparent entry when transparent_index >= 0. Returns false, *out unspecified, when the image
// is inconsistent (sizes, palette of 0 or more than 256 entries, an index outside the palette)
// or encoding fails; never throws. Reentrant.
bool EncodeGif(const IndexedImage& image, std::vector<uint8_t>* out);

}  // namespace rasterkit
