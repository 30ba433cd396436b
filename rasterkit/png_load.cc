// The PNG loader: every colour type and depth, tRNS, 16-bit, interlacing, eXIf orientation.
#include <memory>

#include "codec.h"
#include "exif.h"
#include "png_common.h"

namespace rasterkit {
namespace {

// Ancillary chunks larger than this (text, profiles) are refused rather than buffered.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

extern "C" void PngRead(png_structp png, png_bytep data, size_t length) {
  auto* cursor = static_cast<Cursor*>(png_get_io_ptr(png));
  if (cursor->Read(data, length) != length) png_error(png, "truncated");
}

// Owns the libpng reader.
class PngReader {
 public:
  explicit PngReader(Source& source) {
    cursor_.source = &source;
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;
  ~PngReader() { png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr); }
  bool ok() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() { return png_; }
  png_infop info() { return info_; }
  Cursor* cursor() { return &cursor_; }

 private:
  Cursor cursor_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

struct PngHeader {
  png_uint_32 width, height;
  int bit_depth, color_type, interlace;
  bool trns;
  int orientation;
};

// C-only: reads the chunks up to the image data.
bool ReadHeader(png_structp png, png_infop info, Cursor* cursor, uint32_t max_side, PngHeader* h) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, cursor, PngRead);
  png_set_user_limits(png, max_side, max_side);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_chunk_cache_max(png, 1000);
  png_read_info(png, info);
  png_get_IHDR(png, info, &h->width, &h->height, &h->bit_depth, &h->color_type, &h->interlace,
               nullptr, nullptr);
  h->trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  h->orientation = 1;
  png_uint_32 exif_length = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exif_length, &exif) != 0 && exif != nullptr) {
    h->orientation = ExifOrientation(exif, exif_length);
  }
  return true;
}

// C-only: sets the transforms to 8-bit grey, RGB or RGBA and returns the channel count.
int SetTransforms(png_structp png, png_infop info, const PngHeader& h, bool grey) {
  if (setjmp(png_jmpbuf(png))) return 0;
  png_set_expand(png);
  png_set_scale_16(png);
  if (!grey) png_set_gray_to_rgb(png);
  if (h.trns || (h.color_type & PNG_COLOR_MASK_ALPHA) != 0) {
    if (grey) return 0;
  } else if (!grey) {
    png_set_strip_alpha(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_channels(png, info);
}

// C-only: reads every pass of every row into `data`.
bool ReadImage(png_structp png, uint8_t* data, size_t stride, png_uint_32 height, int passes) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, data + stride * y, nullptr);
  }
  return true;
}

int StoredBits(int depth) { return depth <= 1 ? 1 : depth <= 4 ? 4 : 8; }

}  // namespace

bool PngReadInfo(Source& source, const Limits& limits, ImageInfo* info) {
  PngReader reader(source);
  PngHeader h;
  if (!reader.ok() || !ReadHeader(reader.png(), reader.info(), reader.cursor(), 0x7fffffff, &h)) {
    return false;
  }
  if (!limits.AllowsSize(h.width, h.height)) return false;
  const bool alpha = h.trns || (h.color_type & PNG_COLOR_MASK_ALPHA) != 0;
  info->format = Format::kPng;
  info->width = static_cast<int>(h.width);
  info->height = static_cast<int>(h.height);
  info->orientation = h.orientation;
  info->has_alpha = alpha;
  info->grey = !alpha && (h.color_type == PNG_COLOR_TYPE_GRAY);
  if (h.color_type == PNG_COLOR_TYPE_PALETTE || info->grey) {
    info->bits = StoredBits(h.bit_depth);
  } else {
    info->bits = alpha ? 32 : 24;
  }
  return true;
}

bool PngDecode(Source& source, const ImageInfo& info, PixelBuffer* buffer, Pixmap* out) {
  PngReader reader(source);
  PngHeader h;
  if (!reader.ok() || !ReadHeader(reader.png(), reader.info(), reader.cursor(), 0x7fffffff, &h)) {
    return false;
  }
  if (static_cast<int>(h.width) != info.width || static_cast<int>(h.height) != info.height) {
    return false;
  }
  const int channels = SetTransforms(reader.png(), reader.info(), h, info.grey);
  if (channels != (info.grey ? 1 : info.has_alpha ? 4 : 3)) return false;
  if (!out->Allocate(buffer, info.width, info.height, channels)) return false;
  const int passes = h.interlace == PNG_INTERLACE_ADAM7 ? 7 : 1;
  return ReadImage(reader.png(), out->data, out->stride, h.height, passes);
}

}  // namespace rasterkit
