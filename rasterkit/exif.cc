// EXIF orientation tag parsing and the eight upright transforms.
#include "exif.h"

#include <cstring>

namespace rasterkit {
namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

struct TiffReader {
  const uint8_t* data;
  size_t size;
  bool big_endian;
  bool U16(size_t at, uint16_t* v) const {
    if (at > size || size - at < 2) return false;
    *v = big_endian ? (data[at] << 8 | data[at + 1]) : (data[at + 1] << 8 | data[at]);
    return true;
  }
  bool U32(size_t at, uint32_t* v) const {
    uint16_t a, b;
    if (!U16(at, &a) || !U16(at + 2, &b)) return false;
    *v = big_endian ? (uint32_t{a} << 16 | b) : (uint32_t{b} << 16 | a);
    return true;
  }
};

}  // namespace

int ExifOrientation(const uint8_t* data, size_t size) {
  if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
    data += 6;
    size -= 6;
  }
  if (size < 8) return 1;
  TiffReader tiff{data, size, false};
  if (std::memcmp(data, "MM\0*", 4) == 0) {
    tiff.big_endian = true;
  } else if (std::memcmp(data, "II*\0", 4) != 0) {
    return 1;
  }
  uint32_t ifd;
  uint16_t count;
  if (!tiff.U32(4, &ifd) || !tiff.U16(ifd, &count)) return 1;
  for (uint32_t i = 0; i < count; ++i) {
    size_t entry = size_t{ifd} + 2 + size_t{i} * 12;
    uint16_t tag, type, value;
    if (!tiff.U16(entry, &tag) || !tiff.U16(entry + 2, &type)) return 1;
    if (tag != kOrientationTag) continue;
    if (type != kTypeShort || !tiff.U16(entry + 8, &value)) return 1;
    return value >= 1 && value <= 8 ? value : 1;
  }
  return 1;
}

bool Orient(const Pixmap& in, int o, PixelBuffer* buffer, Pixmap* out) {
  const bool swap = SwapsAxes(o);
  const int w = swap ? in.height : in.width;
  const int h = swap ? in.width : in.height;
  if (!out->Allocate(buffer, w, h, in.channels)) return false;
  const int c = in.channels;
  const int last_x = in.width - 1, last_y = in.height - 1;
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = out->Row(y);
    for (int x = 0; x < w; ++x) {
      int sx, sy;
      switch (o) {
        case 2:
          sx = last_x - x;
          sy = y;
          break;
        case 3:
          sx = last_x - x;
          sy = last_y - y;
          break;
        case 4:
          sx = x;
          sy = last_y - y;
          break;
        case 5:
          sx = y;
          sy = x;
          break;
        case 6:
          sx = y;
          sy = last_y - x;
          break;
        case 7:
          sx = last_x - y;
          sy = last_y - x;
          break;
        case 8:
          sx = last_x - y;
          sy = x;
          break;
        default:
          sx = x;
          sy = y;
          break;
      }
      std::memcpy(dst + static_cast<size_t>(x) * c, in.Row(sy) + static_cast<size_t>(sx) * c, c);
    }
  }
  return true;
}

}  // namespace rasterkit
