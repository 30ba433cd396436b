// Small images written by the tests themselves, and the sizes of encoded thumbnails.
#include "test_images.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace test_images {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File OpenForWriting(const std::string& path) {
  File file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) throw std::runtime_error("cannot write " + path);
  return file;
}

std::vector<unsigned char> Gradient(int width, int height) {
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<unsigned char>(x * 255 / (width > 1 ? width - 1 : 1));
      p[1] = static_cast<unsigned char>(y * 255 / (height > 1 ? height - 1 : 1));
      p[2] = static_cast<unsigned char>((x + y) & 0xff);
    }
  }
  return rgb;
}

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

void WriteJpeg(const std::string& path, int width, int height) {
  std::vector<unsigned char> rgb = Gradient(width, height);
  File file = OpenForWriting(path);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file.get());
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &rgb[static_cast<size_t>(cinfo.next_scanline) * width * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

void WritePng(const std::string& path, int width, int height) {
  std::vector<unsigned char> rgb = Gradient(width, height);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
    throw std::runtime_error("cannot write " + path);
  }
}

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
