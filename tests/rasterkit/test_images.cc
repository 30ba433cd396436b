// Encoders for the test images: libjpeg, libpng, giflib and libwebp, each used plainly.
#include "test_images.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace rktest {
namespace {

uint8_t Luma(const Rgba& p) { return static_cast<uint8_t>((p.r * 77 + p.g * 150 + p.b * 29) >> 8); }

std::vector<Rgba> PatternPixels(int w, int h, bool alpha) {
  std::vector<Rgba> pixels;
  pixels.reserve(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) pixels.push_back(Pattern(x, y, w, h, alpha));
  }
  return pixels;
}

// The four pattern colours as palette entries: red, green, blue, white.
int QuadrantIndex(int x, int y, int w, int h) {
  return (y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0);
}

void PngAppend(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

int GifAppend(GifFileType* gif, const GifByteType* data, int n) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

}  // namespace

Rgba Pattern(int x, int y, int w, int h, bool alpha) {
  static constexpr Rgba kColours[4] = {
      {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}};
  Rgba p = kColours[QuadrantIndex(x, y, w, h)];
  if (alpha && x >= w / 2) p.a = 0;
  return p;
}

Bytes ExifBlock(int orientation) {
  Bytes b = {'E',
             'x',
             'i',
             'f',
             0,
             0,
             'I',
             'I',
             42,
             0,
             8,
             0,
             0,
             0,  // header, IFD at 8
             1,
             0,  // one entry
             0x12,
             0x01,
             3,
             0,
             1,
             0,
             0,
             0,  // orientation, SHORT, 1
             static_cast<uint8_t>(orientation),
             0,
             0,
             0,  // value
             0,
             0,
             0,
             0};  // no next IFD
  return b;
}

Bytes MakeJpeg(int w, int h, JpegKind kind, int orientation, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = w;
  cinfo.image_height = h;
  const bool grey = kind == JpegKind::kGrey;
  const bool cmyk = kind == JpegKind::kAdobeCmyk;
  cinfo.input_components = grey ? 1 : cmyk ? 4 : 3;
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (cmyk) jpeg_set_colorspace(&cinfo, JCS_YCCK);  // Writes the Adobe marker.
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (kind == JpegKind::kProgressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (orientation > 0) {
    Bytes exif = ExifBlock(orientation);
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), exif.size());
  }
  std::vector<uint8_t> row(static_cast<size_t>(w) * cinfo.input_components);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Rgba p = Pattern(x, y, w, h, false);
      uint8_t* d = &row[static_cast<size_t>(x) * cinfo.input_components];
      if (grey) {
        d[0] = Luma(p);
      } else {
        // Adobe's CMYK is stored inverted: the inverted inks of an RGB colour are R, G, B, 255.
        d[0] = p.r;
        d[1] = p.g;
        d[2] = p.b;
        if (cmyk) d[3] = 255;
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

Bytes MakePng(int w, int h, int color_type, int bit_depth, bool trns, bool interlace,
              int orientation) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, PngAppend, nullptr);
  png_set_IHDR(png, info, w, h, bit_depth, color_type,
               interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  const int levels = (1 << std::min(bit_depth, 8)) - 1;
  png_color palette[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  if (color_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, palette, bit_depth == 1 ? 2 : 4);
    if (trns) {
      png_byte alpha[2] = {255, 0};  // Entry 1 (green, the right half) is transparent.
      png_set_tRNS(png, info, alpha, 2, nullptr);
    }
  } else if (trns) {
    png_color_16 key = {};
    key.gray = static_cast<png_uint_16>(levels);
    key.red = key.green = key.blue = 0;
    if (color_type == PNG_COLOR_TYPE_RGB)
      key.green = static_cast<png_uint_16>(bit_depth == 16 ? 65535 : 255);
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  Bytes exif;
  if (orientation > 0) {
    exif = ExifBlock(orientation);
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(exif.size() - 6), exif.data() + 6);
  }
  png_write_info(png, info);
  if (bit_depth < 8) png_set_packing(png);
  const int channels = png_get_channels(png, info);
  const int bytes_per_sample = bit_depth == 16 ? 2 : 1;
  std::vector<Rgba> pixels = PatternPixels(w, h, (color_type & PNG_COLOR_MASK_ALPHA) != 0);
  std::vector<uint8_t> row(static_cast<size_t>(w) * channels * bytes_per_sample);
  const int passes = interlace ? png_set_interlace_handling(png) : 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < h; ++y) {
      size_t at = 0;
      auto put = [&](unsigned v) {
        if (bytes_per_sample == 2) row[at++] = static_cast<uint8_t>(v >> 8);
        row[at++] = static_cast<uint8_t>(v);
      };
      for (int x = 0; x < w; ++x) {
        const Rgba& p = pixels[static_cast<size_t>(y) * w + x];
        const unsigned scale = bit_depth == 16 ? 257 : 1;
        switch (color_type) {
          case PNG_COLOR_TYPE_PALETTE:
            row[at++] = static_cast<uint8_t>(QuadrantIndex(x, y, w, h) % (bit_depth == 1 ? 2 : 4));
            break;
          case PNG_COLOR_TYPE_GRAY:
            // The transparent tRNS grey is the top level, used on the right half.
            put(trns && x >= w / 2 ? levels : (Luma(p) * levels / 255));
            break;
          case PNG_COLOR_TYPE_GRAY_ALPHA:
            put(Luma(p) * scale);
            put(p.a * scale);
            break;
          default:
            put(p.r * scale);
            put(p.g * scale);
            put(p.b * scale);
            if (color_type == PNG_COLOR_TYPE_RGB_ALPHA) put(p.a * scale);
        }
      }
      png_write_row(png, row.data());
    }
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes MakeGif(int w, int h, int colour_bits, bool transparent) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, GifAppend, &error);
  const int entries = 1 << colour_bits;
  ColorMapObject* map = GifMakeMapObject(entries, nullptr);
  const GifColorType quadrant[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int i = 0; i < entries; ++i) map->Colors[i] = quadrant[i % 4];
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, w, h, colour_bits, 0, map);
  if (transparent) {
    GraphicsControlBlock gcb = {};
    gcb.TransparentColor = entries - 1;
    GifByteType ext[4];
    size_t n = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext);
  }
  EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr);
  std::vector<GifPixelType> line(w);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int index = QuadrantIndex(x, y, w, h) % entries;
      if (transparent && x >= w / 2) index = entries - 1;
      line[x] = static_cast<GifPixelType>(index);
    }
    EGifPutLine(gif, line.data(), w);
  }
  GifFreeMapObject(map);
  EGifCloseFile(gif, &error);
  return out;
}

Bytes MakeWebp(int w, int h, bool lossless, bool alpha, int orientation) {
  std::vector<uint8_t> rgba;
  for (const Rgba& p : PatternPixels(w, h, alpha)) rgba.insert(rgba.end(), {p.r, p.g, p.b, p.a});
  uint8_t* encoded = nullptr;
  size_t size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &encoded)
                         : WebPEncodeRGBA(rgba.data(), w, h, w * 4, 95, &encoded);
  Bytes out(encoded, encoded + size);
  WebPFree(encoded);
  if (orientation <= 0) return out;
  WebPData image = {out.data(), out.size()};
  WebPMux* mux = WebPMuxCreate(&image, 1);
  Bytes exif = ExifBlock(orientation);
  WebPData chunk = {exif.data(), exif.size()};
  WebPMuxSetChunk(mux, "EXIF", &chunk, 1);
  WebPData assembled = {};
  WebPMuxAssemble(mux, &assembled);
  Bytes with_exif(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return with_exif;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace rktest
