// The GIF writer over giflib's streaming encoder, writing through a memory callback.
#include "gif_save.h"

#include <gif_lib.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace rasterkit {
namespace {

// giflib calls this with each piece of the file; no exception may leave it.
int AppendOutput(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  try {
    out->insert(out->end(), data, data + length);
  } catch (...) {
    return 0;
  }
  return length;
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};
using GifWriter = std::unique_ptr<GifFileType, GifCloser>;

struct ColorMapFree {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColorMap = std::unique_ptr<ColorMapObject, ColorMapFree>;

bool Consistent(const IndexedImage& image) {
  const size_t colours = image.palette.size();
  if (image.width < 1 || image.height < 1 || image.width > 65535 || image.height > 65535 ||
      colours == 0 || colours > 256) {
    return false;
  }
  if (image.indices.size() !=
      static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    return false;
  }
  if (image.transparent_index >= static_cast<int>(colours)) return false;
  for (uint8_t index : image.indices) {
    if (index >= colours) return false;
  }
  return true;
}

}  // namespace

bool EncodeGif(const IndexedImage& image, std::vector<uint8_t>* out) {
  if (out == nullptr || !Consistent(image)) return false;
  try {
    out->clear();
    int bits = 1;
    while ((size_t{1} << bits) < image.palette.size()) ++bits;
    ColorMap map(GifMakeMapObject(1 << bits, nullptr));
    if (!map) return false;
    std::memset(map->Colors, 0, sizeof(GifColorType) * (size_t{1} << bits));
    for (size_t i = 0; i < image.palette.size(); ++i) {
      map->Colors[i] = GifColorType{image.palette[i].r, image.palette[i].g, image.palette[i].b};
    }
    // giflib masks the pixels it is given in place, so it gets a copy.
    std::vector<GifPixelType> pixels(image.indices.begin(), image.indices.end());

    int error = 0;
    GifWriter gif(EGifOpen(out, AppendOutput, &error));
    if (!gif) return false;
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), image.width, image.height, 8, 0, map.get()) == GIF_ERROR) {
      return false;
    }
    if (image.transparent_index >= 0) {
      GraphicsControlBlock control{};
      control.DisposalMode = DISPOSAL_UNSPECIFIED;
      control.UserInputFlag = false;
      control.DelayTime = 0;
      control.TransparentColor = image.transparent_index;
      GifByteType extension[4];
      const size_t length = EGifGCBToExtension(&control, extension);
      if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                           extension) == GIF_ERROR) {
        return false;
      }
    }
    if (EGifPutImageDesc(gif.get(), 0, 0, image.width, image.height, false, nullptr) == GIF_ERROR) {
      return false;
    }
    if (pixels.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return false;
    if (EGifPutLine(gif.get(), pixels.data(), static_cast<int>(pixels.size())) == GIF_ERROR) {
      return false;
    }
    // Closing writes the trailer but does not report a failed write of it: look for it.
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR) return false;
    return !out->empty() && out->back() == ';';
  } catch (...) {
    return false;
  }
}

}  // namespace rasterkit
