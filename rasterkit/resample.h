// Resampling to an exact size: an integer box pre-shrink for large factors, then Lanczos-3.
#pragma once

#include "codec.h"

namespace rasterkit {

// The buffers one resize works in; a thread keeps its own and reuses them.
struct ResampleBuffers {
  PixelBuffer box;
  PixelBuffer rows;
  PixelBuffer out;
};

// Resamples `in` to exactly width x height into `out` (allocated from buffers->out). Channels
// are treated alike, so four-channel input should be premultiplied. False on allocation failure.
bool Resize(const Pixmap& in, int width, int height, ResampleBuffers* buffers, Pixmap* out);

// Converts RGBA between straight and premultiplied alpha, in place.
void Premultiply(Pixmap* image);
void Unpremultiply(Pixmap* image);

}  // namespace rasterkit
