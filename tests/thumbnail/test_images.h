// The sizes stored in encoded thumbnails.
#pragma once

#include <string>

namespace test_images {

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
