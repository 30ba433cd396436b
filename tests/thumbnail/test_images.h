// Small images written by the tests themselves, and the sizes of encoded thumbnails.
#pragma once

#include <string>

namespace test_images {

// Writes a width x height colour gradient as a baseline JPEG (quality 90) or an RGB PNG.
void WriteJpeg(const std::string& path, int width, int height);
void WritePng(const std::string& path, int width, int height);

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

// The size stored in encoded bytes of the given format, or 0 x 0 when they are not one.
Size JpegSize(const std::string& bytes);
Size GifSize(const std::string& bytes);
Size PngSize(const std::string& bytes);

}  // namespace test_images
