// The PNG saver: grey at its stored depth, RGB, RGBA, and palette images with tRNS.
#include <vector>

#include "codec.h"
#include "palette.h"
#include "png_common.h"

namespace rasterkit {
namespace {

extern "C" void PngWrite(png_structp png, png_bytep data, size_t length) {
  if (!static_cast<ByteSink*>(png_get_io_ptr(png))->Append(data, length)) {
    png_error(png, "out of memory");
  }
}

extern "C" void PngFlush(png_structp) {}

// Owns the libpng writer.
class PngWriter {
 public:
  PngWriter() {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter() { png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr); }
  bool ok() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() { return png_; }
  png_infop info() { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

struct PngLayout {
  int width, height, bit_depth, color_type;
  const uint8_t* rows;
  size_t stride;
  const png_color* palette;
  int palette_size;
  const png_byte* alpha;  // tRNS entries, or null.
  int alpha_size;
};

// C-only: writes the whole image; rows of one byte per sample are packed to bit_depth.
bool WritePng(png_structp png, png_infop info, ByteSink* sink, const PngLayout* l) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, sink, PngWrite, PngFlush);
  png_set_IHDR(png, info, l->width, l->height, l->bit_depth, l->color_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (l->palette != nullptr) png_set_PLTE(png, info, l->palette, l->palette_size);
  if (l->alpha != nullptr) png_set_tRNS(png, info, l->alpha, l->alpha_size, nullptr);
  png_write_info(png, info);
  if (l->bit_depth < 8) png_set_packing(png);
  for (int y = 0; y < l->height; ++y) {
    png_write_row(png, const_cast<png_bytep>(l->rows + l->stride * y));
  }
  png_write_end(png, nullptr);
  return true;
}

bool Write(PngLayout* layout, ByteSink* out) {
  PngWriter writer;
  return writer.ok() && WritePng(writer.png(), writer.info(), out, layout) && !out->failed();
}

}  // namespace

bool EncodePng(const Pixmap& image, int grey_bits, ByteSink* out) {
  PngLayout layout = {};
  layout.width = image.width;
  layout.height = image.height;
  layout.bit_depth = 8;
  layout.rows = image.data;
  layout.stride = image.stride;
  switch (image.channels) {
    case 1:
      layout.color_type = PNG_COLOR_TYPE_GRAY;
      break;
    case 3:
      layout.color_type = PNG_COLOR_TYPE_RGB;
      break;
    case 4:
      layout.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
      break;
    default:
      return false;
  }
  std::vector<uint8_t> levels;
  if (image.channels == 1 && (grey_bits == 1 || grey_bits == 2 || grey_bits == 4)) {
    // Rounds each grey to the nearest of the stored depth's levels.
    const int top = (1 << grey_bits) - 1;
    levels.resize(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
      const uint8_t* src = image.Row(y);
      for (int x = 0; x < image.width; ++x) {
        levels[static_cast<size_t>(y) * image.width + x] =
            static_cast<uint8_t>((src[x] * top + 127) / 255);
      }
    }
    layout.bit_depth = grey_bits;
    layout.rows = levels.data();
    layout.stride = image.width;
  }
  return Write(&layout, out);
}

bool EncodePalettePng(const IndexedImage& image, ByteSink* out) {
  const int entries = static_cast<int>(image.palette.size());
  if (entries < 1 || entries > 256 || image.width <= 0 || image.height <= 0 ||
      image.indices.size() != static_cast<size_t>(image.width) * image.height) {
    return false;
  }
  std::vector<png_color> palette(entries);
  for (int i = 0; i < entries; ++i) {
    palette[i] = {image.palette[i].r, image.palette[i].g, image.palette[i].b};
  }
  std::vector<png_byte> alpha;
  if (image.transparent_index >= 0 && image.transparent_index < entries) {
    alpha.assign(image.transparent_index + 1, 255);
    alpha[image.transparent_index] = 0;
  }
  PngLayout layout = {};
  layout.width = image.width;
  layout.height = image.height;
  layout.bit_depth = entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8;
  layout.color_type = PNG_COLOR_TYPE_PALETTE;
  layout.rows = image.indices.data();
  layout.stride = image.width;
  layout.palette = palette.data();
  layout.palette_size = entries;
  layout.alpha = alpha.empty() ? nullptr : alpha.data();
  layout.alpha_size = static_cast<int>(alpha.size());
  return Write(&layout, out);
}

}  // namespace rasterkit
