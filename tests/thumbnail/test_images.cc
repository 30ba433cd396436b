// The sizes stored in encoded thumbnails.
#include "test_images.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>

namespace test_images {
namespace {

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  auto b = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i]));
  };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

struct JpegErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Reads the header only; kept free of C++ objects because of the longjmp.
bool ReadJpegHeader(const unsigned char* data, size_t size, int* width, int* height) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager error;
  cinfo.err = jpeg_std_error(&error.base);
  error.base.error_exit = JpegErrorExit;
  error.base.output_message = [](j_common_ptr) {};
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  *width = static_cast<int>(cinfo.image_width);
  *height = static_cast<int>(cinfo.image_height);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

Size JpegSize(const std::string& bytes) {
  Size size;
  if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xD8) {
    return size;
  }
  if (!ReadJpegHeader(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      &size.width, &size.height)) {
    return Size{};
  }
  return size;
}

Size GifSize(const std::string& bytes) {
  if (bytes.size() < 10 || bytes.compare(0, 6, "GIF89a") != 0) return Size{};
  auto le16 = [&](size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
  };
  return Size{le16(6), le16(8)};
}

Size PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return Size{};
  return Size{static_cast<int>(BigEndian32(bytes, 16)), static_cast<int>(BigEndian32(bytes, 20))};
}

}  // namespace test_images
