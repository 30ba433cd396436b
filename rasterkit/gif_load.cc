// The GIF loader: the first frame on its logical screen, with its transparent entry.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codec.h"

namespace rasterkit {
namespace {

extern "C" int GifRead(GifFileType* gif, GifByteType* data, int length) {
  if (length <= 0) return 0;
  return static_cast<int>(static_cast<Cursor*>(gif->UserData)->Read(data, length));
}

// Owns the giflib reader.
class GifReader {
 public:
  explicit GifReader(Source& source) {
    cursor_.source = &source;
    int error = 0;
    gif_ = DGifOpen(&cursor_, GifRead, &error);
  }
  GifReader(const GifReader&) = delete;
  GifReader& operator=(const GifReader&) = delete;
  ~GifReader() {
    if (gif_ != nullptr) {
      int error = 0;
      DGifCloseFile(gif_, &error);
    }
  }
  GifFileType* gif() { return gif_; }

 private:
  Cursor cursor_;
  GifFileType* gif_ = nullptr;
};

struct FirstFrame {
  int transparent = -1;
  const ColorMapObject* colours = nullptr;
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int canvas_width = 0, canvas_height = 0;
};

// Reads records up to the first image descriptor, keeping its graphics control extension.
bool FindFirstFrame(GifFileType* gif, const Limits& limits, FirstFrame* frame) {
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) != GIF_OK) return false;
    if (type == TERMINATE_RECORD_TYPE) return false;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] == 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(4, block + 1, &gcb) == GIF_OK) {
          frame->transparent = gcb.TransparentColor;
        }
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) return false;
    const GifImageDesc& d = gif->Image;
    frame->colours = d.ColorMap != nullptr ? d.ColorMap : gif->SColorMap;
    if (frame->colours == nullptr || frame->colours->Colors == nullptr) return false;
    if (frame->transparent >= frame->colours->ColorCount) frame->transparent = -1;
    if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return false;
    frame->left = d.Left;
    frame->top = d.Top;
    frame->width = d.Width;
    frame->height = d.Height;
    frame->interlaced = d.Interlace;
    // A frame that overhangs the logical screen widens it, as browsers do.
    frame->canvas_width = std::max(gif->SWidth, d.Left + d.Width);
    frame->canvas_height = std::max(gif->SHeight, d.Top + d.Height);
    return limits.AllowsSize(frame->canvas_width, frame->canvas_height);
  }
}

bool CoversCanvas(const FirstFrame& f) {
  return f.left == 0 && f.top == 0 && f.width == f.canvas_width && f.height == f.canvas_height;
}

}  // namespace

bool GifReadInfo(Source& source, const Limits& limits, ImageInfo* info) {
  GifReader reader(source);
  FirstFrame frame;
  if (reader.gif() == nullptr || !FindFirstFrame(reader.gif(), limits, &frame)) return false;
  const int depth = frame.colours->BitsPerPixel;
  info->format = Format::kGif;
  info->width = frame.canvas_width;
  info->height = frame.canvas_height;
  info->orientation = 1;
  info->bits = depth <= 1 ? 1 : depth <= 4 ? 4 : 8;
  info->grey = false;
  info->has_alpha = frame.transparent >= 0 || !CoversCanvas(frame);
  return true;
}

bool GifDecode(Source& source, const ImageInfo& info, PixelBuffer* buffer, Pixmap* out) {
  GifReader reader(source);
  FirstFrame frame;
  Limits unlimited;
  unlimited.max_pixels = static_cast<uint64_t>(info.width) * info.height;
  if (reader.gif() == nullptr || !FindFirstFrame(reader.gif(), unlimited, &frame) ||
      frame.canvas_width != info.width || frame.canvas_height != info.height) {
    return false;
  }
  const int channels = info.has_alpha ? 4 : 3;
  if (!out->Allocate(buffer, info.width, info.height, channels)) return false;
  // Uncovered screen and out-of-map indices stay transparent black (black when opaque).
  for (int y = 0; y < out->height; ++y) std::memset(out->Row(y), 0, out->stride);
  std::vector<GifPixelType> line(frame.width);
  const GifColorType* colours = frame.colours->Colors;
  const int count = frame.colours->ColorCount;
  auto put_row = [&](int row) {
    uint8_t* dst = out->Row(frame.top + row) + static_cast<size_t>(frame.left) * channels;
    for (int x = 0; x < frame.width; ++x, dst += channels) {
      int index = line[x];
      if (index == frame.transparent || index >= count) continue;
      dst[0] = colours[index].Red;
      dst[1] = colours[index].Green;
      dst[2] = colours[index].Blue;
      if (channels == 4) dst[3] = 255;
    }
  };
  static constexpr int kStart[] = {0, 4, 2, 1};
  static constexpr int kStep[] = {8, 8, 4, 2};
  const int passes = frame.interlaced ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = frame.interlaced ? kStart[pass] : 0;
    const int step = frame.interlaced ? kStep[pass] : 1;
    for (int row = start; row < frame.height; row += step) {
      if (DGifGetLine(reader.gif(), line.data(), frame.width) != GIF_OK) return false;
      put_row(row);
    }
  }
  return true;
}

}  // namespace rasterkit
