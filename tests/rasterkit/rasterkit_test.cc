// The imaging library through its nine functions: formats, depths, orientation, conversions,
// stretching, saving, hostile input and threads.
#include "src/imaging/rasterkit.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_images.h"

namespace {

namespace fs = std::filesystem;
using rktest::Bytes;
using rktest::JpegKind;

struct HandleDeleter {
  void operator()(RasterkitImage* h) const { DeleteImageObject(h); }
};
using Handle = std::unique_ptr<RasterkitImage, HandleDeleter>;

Handle Load(const std::string& path) {
  return Handle(InitImageObject(path.c_str(), nullptr, -1, -1));
}

// A fresh folder per test, removed afterwards.
class RasterkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "rasterkit-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Put(const std::string& name, const Bytes& bytes) {
    std::string path = (dir_ / name).string();
    EXPECT_TRUE(rktest::WriteBytes(path, bytes));
    return path;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  size_t FilesInDir() const {
    return std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
  }
  fs::path dir_;
};

// What a saved file holds, read back with the codecs themselves.
struct Decoded {
  std::string format;
  int width = 0, height = 0;
  int depth = 0;  // PNG: bits per channel; JPEG: components; GIF: colour map bits.
  int png_color_type = -1;
  bool has_transparency = false;
  std::vector<uint8_t> rgba;  // PNG only.
  rktest::Rgba At(int x, int y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }
};

Decoded ReadBack(const std::string& path) {
  Decoded d;
  Bytes bytes = rktest::ReadBytes(path);
  if (bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0) {
    d.format = "png";
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return d;
    d.width = image.width;
    d.height = image.height;
    // The IHDR fields sit at fixed offsets.
    d.depth = bytes[24];
    d.png_color_type = bytes[25];
    d.has_transparency = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    d.rgba.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, d.rgba.data(), 0, nullptr);
  } else if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
    d.format = "jpeg";
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    d.width = cinfo.image_width;
    d.height = cinfo.image_height;
    d.depth = cinfo.num_components;
    EXPECT_FALSE(cinfo.progressive_mode);
    jpeg_destroy_decompress(&cinfo);
  } else if (bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF89a", 6) == 0) {
    d.format = "gif";
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr) return d;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1) {
      d.width = gif->SWidth;
      d.height = gif->SHeight;
      const ColorMapObject* map = gif->SavedImages[0].ImageDesc.ColorMap
                                      ? gif->SavedImages[0].ImageDesc.ColorMap
                                      : gif->SColorMap;
      d.depth = map ? map->BitsPerPixel : 0;
      GraphicsControlBlock gcb;
      d.has_transparency =
          DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK && gcb.TransparentColor >= 0;
    }
    DGifCloseFile(gif, &error);
  }
  return d;
}

bool Near(const rktest::Rgba& a, const rktest::Rgba& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

// Cuts a JPEG halfway through its entropy-coded data, leaving the header whole.
Bytes CutInsideScan(Bytes jpeg) {
  for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      jpeg.resize(i + (jpeg.size() - i) / 2);
      break;
    }
  }
  return jpeg;
}

constexpr rktest::Rgba kRed = {255, 0, 0, 255};

struct LoadCase {
  const char* name;
  Bytes bytes;
  int width, height, bits;
  bool colour;  // The top-left quadrant reads back red.
  int tolerance;
};

TEST_F(RasterkitTest, EachFormatAndDepthLoadsWithItsSizeAndBits) {
  const LoadCase cases[] = {
      {"jpeg colour", rktest::MakeJpeg(40, 30, JpegKind::kColour), 40, 30, 24, true, 40},
      {"jpeg grey", rktest::MakeJpeg(40, 30, JpegKind::kGrey), 40, 30, 8, false, 0},
      {"jpeg progressive", rktest::MakeJpeg(40, 30, JpegKind::kProgressive), 40, 30, 24, true, 40},
      {"jpeg adobe cmyk", rktest::MakeJpeg(40, 30, JpegKind::kAdobeCmyk), 40, 30, 24, true, 40},
      {"png grey 1", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY, 1), 33, 17, 1, false, 0},
      {"png grey 2", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY, 2), 33, 17, 4, false, 0},
      {"png grey 4", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY, 4), 33, 17, 4, false, 0},
      {"png grey 8", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY, 8), 33, 17, 8, false, 0},
      {"png grey 16", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY, 16), 33, 17, 8, false, 0},
      {"png grey tRNS", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY, 8, true), 33, 17, 32, false,
       0},
      {"png grey alpha", rktest::MakePng(33, 17, PNG_COLOR_TYPE_GRAY_ALPHA, 8), 33, 17, 32, false,
       0},
      {"png palette 1", rktest::MakePng(33, 17, PNG_COLOR_TYPE_PALETTE, 1), 33, 17, 1, true, 0},
      {"png palette 4", rktest::MakePng(33, 17, PNG_COLOR_TYPE_PALETTE, 4), 33, 17, 4, true, 0},
      {"png palette 8", rktest::MakePng(33, 17, PNG_COLOR_TYPE_PALETTE, 8), 33, 17, 8, true, 0},
      {"png palette tRNS", rktest::MakePng(33, 17, PNG_COLOR_TYPE_PALETTE, 8, true), 33, 17, 8,
       true, 0},
      {"png rgb 8", rktest::MakePng(33, 17, PNG_COLOR_TYPE_RGB, 8), 33, 17, 24, true, 0},
      {"png rgb 16", rktest::MakePng(33, 17, PNG_COLOR_TYPE_RGB, 16), 33, 17, 24, true, 0},
      {"png rgb tRNS", rktest::MakePng(33, 17, PNG_COLOR_TYPE_RGB, 8, true), 33, 17, 32, true, 0},
      {"png rgba 8", rktest::MakePng(33, 17, PNG_COLOR_TYPE_RGB_ALPHA, 8), 33, 17, 32, true, 0},
      {"png rgba 16", rktest::MakePng(33, 17, PNG_COLOR_TYPE_RGB_ALPHA, 16), 33, 17, 32, true, 0},
      {"png interlaced", rktest::MakePng(33, 17, PNG_COLOR_TYPE_RGB, 8, false, true), 33, 17, 24,
       true, 0},
      {"gif 1 bit", rktest::MakeGif(21, 13, 1, false), 21, 13, 1, true, 0},
      {"gif 4 bit", rktest::MakeGif(21, 13, 4, false), 21, 13, 4, true, 0},
      {"gif 8 bit", rktest::MakeGif(21, 13, 8, false), 21, 13, 8, true, 0},
      {"gif transparent", rktest::MakeGif(21, 13, 8, true), 21, 13, 8, true, 0},
      {"webp lossy", rktest::MakeWebp(40, 30, false, false), 40, 30, 24, true, 40},
      {"webp lossless", rktest::MakeWebp(40, 30, true, false), 40, 30, 24, true, 0},
      {"webp alpha", rktest::MakeWebp(40, 30, true, true), 40, 30, 32, true, 0},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Handle h = Load(Put("in", c.bytes));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetWidth(h.get()), c.width);
    EXPECT_EQ(GetHeight(h.get()), c.height);
    EXPECT_EQ(GetNumBits(h.get()), c.bits);
    // Saved at its own size, the image reads back whole.
    ASSERT_EQ(Save(h.get(), Path("out.png").c_str(), -1), 1);
    Decoded d = ReadBack(Path("out.png"));
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_EQ(d.has_transparency, c.bits == 32 || c.name == std::string("png palette tRNS") ||
                                      c.name == std::string("gif transparent"));
    if (c.colour) {
      EXPECT_TRUE(Near(d.At(c.width / 8, c.height / 8), kRed, c.tolerance));
    }
  }
}

TEST_F(RasterkitTest, PngKeepsItsStoredDepth) {
  const struct {
    Bytes bytes;
    int color_type, depth;
  } cases[] = {
      {rktest::MakePng(16, 8, PNG_COLOR_TYPE_GRAY, 1), PNG_COLOR_TYPE_GRAY, 1},
      {rktest::MakePng(16, 8, PNG_COLOR_TYPE_GRAY, 8), PNG_COLOR_TYPE_GRAY, 8},
      {rktest::MakePng(16, 8, PNG_COLOR_TYPE_PALETTE, 8), PNG_COLOR_TYPE_PALETTE, 2},
      {rktest::MakePng(16, 8, PNG_COLOR_TYPE_RGB, 16), PNG_COLOR_TYPE_RGB, 8},
      {rktest::MakePng(16, 8, PNG_COLOR_TYPE_RGB_ALPHA, 8), PNG_COLOR_TYPE_RGB_ALPHA, 8},
  };
  for (const auto& c : cases) {
    Handle h = Load(Put("in.png", c.bytes));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(Save(h.get(), Path("out.png").c_str(), -1), 1);
    Decoded d = ReadBack(Path("out.png"));
    EXPECT_EQ(d.png_color_type, c.color_type);
    EXPECT_EQ(d.depth, c.depth);  // Four colours pack into two bits.
  }
}

// Where the stored top-left (red) corner ends up once the image is upright.
TEST_F(RasterkitTest, ExifOrientationIsApplied) {
  const struct {
    const char* name;
    Bytes bytes;
    int width, height;
    bool right, bottom;  // Where the red quadrant lies after orientation.
    int tolerance;
  } cases[] = {
      {"png 1", rktest::MakePng(32, 16, PNG_COLOR_TYPE_RGB, 8, false, false, 1), 32, 16, false,
       false, 0},
      {"png 2", rktest::MakePng(32, 16, PNG_COLOR_TYPE_RGB, 8, false, false, 2), 32, 16, true,
       false, 0},
      {"png 3", rktest::MakePng(32, 16, PNG_COLOR_TYPE_RGB, 8, false, false, 3), 32, 16, true, true,
       0},
      {"png 5", rktest::MakePng(32, 16, PNG_COLOR_TYPE_RGB, 8, false, false, 5), 16, 32, false,
       false, 0},
      {"png 6", rktest::MakePng(32, 16, PNG_COLOR_TYPE_RGB, 8, false, false, 6), 16, 32, true,
       false, 0},
      {"png 8", rktest::MakePng(32, 16, PNG_COLOR_TYPE_RGB, 8, false, false, 8), 16, 32, false,
       true, 0},
      {"jpeg 6", rktest::MakeJpeg(32, 16, JpegKind::kColour, 6), 16, 32, true, false, 40},
      {"webp 6", rktest::MakeWebp(32, 16, true, false, 6), 16, 32, true, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Handle h = Load(Put("in", c.bytes));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetWidth(h.get()), c.width);
    EXPECT_EQ(GetHeight(h.get()), c.height);
    ASSERT_EQ(Save(h.get(), Path("out.png").c_str(), -1), 1);
    Decoded d = ReadBack(Path("out.png"));
    ASSERT_EQ(d.width, c.width);
    const int x = c.right ? c.width - 3 : 2, y = c.bottom ? c.height - 3 : 2;
    EXPECT_TRUE(Near(d.At(x, y), kRed, c.tolerance));
  }
}

TEST_F(RasterkitTest, ChangeImageFormatConvertsOrRefuses) {
  const Bytes rgba = rktest::MakePng(16, 8, PNG_COLOR_TYPE_RGB_ALPHA, 8);
  {
    // 24 bits: alpha composed over white, no transparency left.
    Handle h = Load(Put("a.png", rgba));
    ASSERT_EQ(ChangeImageFormat(h.get(), 24), 1);
    EXPECT_EQ(GetNumBits(h.get()), 24);
    ASSERT_EQ(Save(h.get(), Path("24.png").c_str(), -1), 1);
    Decoded d = ReadBack(Path("24.png"));
    EXPECT_EQ(d.png_color_type, PNG_COLOR_TYPE_RGB);
    EXPECT_TRUE(Near(d.At(12, 2), {255, 255, 255, 255}, 0));
  }
  {
    // 8 bits: a palette with a transparent entry, in PNG and in GIF.
    Handle h = Load(Put("a.png", rgba));
    ASSERT_EQ(ChangeImageFormat(h.get(), 8), 1);
    EXPECT_EQ(GetNumBits(h.get()), 8);
    ASSERT_EQ(Stretch(h.get(), 8, 4), 1);
    ASSERT_EQ(Save(h.get(), Path("8.png").c_str(), -1), 1);
    ASSERT_EQ(Save(h.get(), Path("8.gif").c_str(), -1), 1);
    Decoded png = ReadBack(Path("8.png"));
    EXPECT_EQ(png.png_color_type, PNG_COLOR_TYPE_PALETTE);
    EXPECT_TRUE(png.has_transparency);
    EXPECT_EQ(png.At(7, 0).a, 0);
    EXPECT_TRUE(ReadBack(Path("8.gif")).has_transparency);
  }
  {
    // 24 then 8 (a request naming both formats): the palette has no transparent entry.
    Handle h = Load(Put("a.png", rgba));
    ASSERT_EQ(ChangeImageFormat(h.get(), 24), 1);
    ASSERT_EQ(ChangeImageFormat(h.get(), 8), 1);
    ASSERT_EQ(Save(h.get(), Path("both.gif").c_str(), -1), 1);
    EXPECT_FALSE(ReadBack(Path("both.gif")).has_transparency);
  }
  Handle h = Load(Put("a.png", rgba));
  for (int bits : {0, 1, 4, 16, 32, -1}) {
    EXPECT_EQ(ChangeImageFormat(h.get(), bits), 0) << bits;
    EXPECT_EQ(GetNumBits(h.get()), 32);
  }
}

TEST_F(RasterkitTest, StretchGivesExactSizesAndRefusesSizesBelowOne) {
  const std::string in = Put("in.jpg", rktest::MakeJpeg(300, 200, JpegKind::kColour));
  const struct {
    int width, height, result;
  } cases[] = {{1, 1, 1}, {7, 3, 1}, {120, 80, 1}, {37, 190, 1}, {600, 401, 1},
               {0, 5, 0}, {5, 0, 0}, {-1, 3, 0},   {3, -1, 0},   {0, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    Handle h = Load(in);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Stretch(h.get(), c.width, c.height), c.result);
    const int w = c.result ? c.width : 300, hgt = c.result ? c.height : 200;
    EXPECT_EQ(GetWidth(h.get()), w);
    EXPECT_EQ(GetHeight(h.get()), hgt);
    ASSERT_EQ(Save(h.get(), Path("out.png").c_str(), -1), 1);
    Decoded d = ReadBack(Path("out.png"));
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, hgt);
  }
}

TEST_F(RasterkitTest, ResamplingKeepsAGradientInPlace) {
  // A horizontal ramp shrunk by four: each output pixel is the mean of its four inputs.
  Bytes ramp;
  std::vector<uint8_t> grey(256 * 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 256; ++x) grey[y * 256 + x] = static_cast<uint8_t>(x);
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = 256;
  image.height = 8;
  image.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  ASSERT_TRUE(png_image_write_get_memory_size(image, size, 0, grey.data(), 0, nullptr));
  ramp.resize(size);
  ASSERT_TRUE(png_image_write_to_memory(&image, ramp.data(), &size, 0, grey.data(), 0, nullptr));
  ramp.resize(size);
  Handle h = Load(Put("ramp.png", ramp));
  ASSERT_EQ(Stretch(h.get(), 64, 2), 1);
  ASSERT_EQ(Save(h.get(), Path("out.png").c_str(), -1), 1);
  Decoded d = ReadBack(Path("out.png"));
  ASSERT_EQ(d.width, 64);
  for (int x = 4; x < 60; ++x) EXPECT_NEAR(d.At(x, 1).r, 4 * x + 1.5, 2.0) << x;
}

TEST_F(RasterkitTest, SaveChoosesTheFormatByTheNameEnding) {
  const std::string in = Put("in.png", rktest::MakePng(50, 40, PNG_COLOR_TYPE_RGB_ALPHA, 8));
  const struct {
    const char* name;
    const char* format;
  } cases[] = {{"a.jpg", "jpeg"}, {"b.JPEG", "jpeg"},  {"c.Jpg", "jpeg"}, {"d.gif", "gif"},
               {"e.GIF", "gif"},  {"f.png", "png"},    {"g.tmp", "png"},  {"h.bmp", "png"},
               {"noext", "png"},  {"i.jpg.png", "png"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Handle h = Load(in);
    SetQuality(h.get(), 80);
    ASSERT_EQ(Stretch(h.get(), 25, 20), 1);
    ASSERT_EQ(Save(h.get(), Path(c.name).c_str(), -1), 1);
    Decoded d = ReadBack(Path(c.name));
    EXPECT_EQ(d.format, c.format);
    EXPECT_EQ(d.width, 25);
    EXPECT_EQ(d.height, 20);
    if (d.format == std::string("jpeg")) {
      EXPECT_EQ(d.depth, 3);
    } else if (d.format == std::string("png")) {
      EXPECT_TRUE(d.has_transparency);
    }
  }
}

TEST_F(RasterkitTest, QualityChangesTheJpegAndIsClamped) {
  const std::string in = Put("in.jpg", rktest::MakeJpeg(200, 150, JpegKind::kColour));
  auto size_at = [&](int quality) {
    Handle h = Load(in);
    SetQuality(h.get(), quality);
    EXPECT_EQ(Save(h.get(), Path("q.jpg").c_str(), -1), 1);
    return fs::file_size(Path("q.jpg"));
  };
  EXPECT_LT(size_at(10), size_at(95));
  EXPECT_EQ(size_at(0), size_at(75));
  EXPECT_EQ(size_at(-5), size_at(75));
  EXPECT_EQ(size_at(1000), size_at(100));
}

TEST_F(RasterkitTest, PlaceholderNameIsReplacedWithAPng) {
  const std::string placeholder = Path("Par1A.tmp");
  int fd = open(placeholder.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  Handle h = Load(Put("in.jpg", rktest::MakeJpeg(64, 48, JpegKind::kColour)));
  ASSERT_EQ(Stretch(h.get(), 32, 24), 1);
  ASSERT_EQ(Save(h.get(), Path("Par1A.jpg").c_str(), -1), 1);
  EXPECT_EQ(ReadBack(Path("Par1A.jpg")).format, "jpeg");
  ASSERT_EQ(Save(h.get(), placeholder.c_str(), -1), 1);
  Decoded d = ReadBack(placeholder);
  EXPECT_EQ(d.format, "png");
  EXPECT_EQ(d.width, 32);
  EXPECT_EQ(FilesInDir(), 3u);  // in.jpg, Par1A.jpg, Par1A.tmp: no temporary left over.
}

TEST_F(RasterkitTest, SaveRefusesASymbolicLinkAndLeavesItsTargetAlone) {
  const std::string target = Put("target.jpg", {'k', 'e', 'e', 'p'});
  const std::string link = Path("link.jpg");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  Handle h = Load(Put("in.png", rktest::MakePng(8, 8, PNG_COLOR_TYPE_RGB, 8)));
  EXPECT_EQ(Save(h.get(), link.c_str(), -1), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(rktest::ReadBytes(target), (Bytes{'k', 'e', 'e', 'p'}));
  // A directory at the path is refused too.
  fs::create_directory(Path("dir.png"));
  EXPECT_EQ(Save(h.get(), Path("dir.png").c_str(), -1), 0);
}

TEST_F(RasterkitTest, FailedSaveLeavesNoFile) {
  Handle h = Load(Put("in.png", rktest::MakePng(8, 8, PNG_COLOR_TYPE_RGB, 8)));
  EXPECT_EQ(Save(h.get(), Path("missing/out.png").c_str(), -1), 0);
  EXPECT_EQ(Save(h.get(), "", -1), 0);
  EXPECT_EQ(Save(h.get(), nullptr, -1), 0);
  // A JPEG cut short opens (its header is whole) but cannot be decoded: nothing is written and
  // an existing file at the path is left as it was.
  Handle cut = Load(Put("cut.jpg", CutInsideScan(rktest::MakeJpeg(64, 64, JpegKind::kColour))));
  ASSERT_NE(cut, nullptr);
  const std::string existing = Put("old.gif", {'o', 'l', 'd'});
  EXPECT_EQ(Save(cut.get(), existing.c_str(), -1), 0);
  EXPECT_EQ(Save(cut.get(), Path("new.jpg").c_str(), -1), 0);
  EXPECT_EQ(rktest::ReadBytes(existing), (Bytes{'o', 'l', 'd'}));
  EXPECT_FALSE(fs::exists(Path("new.jpg")));
  EXPECT_EQ(FilesInDir(), 3u);  // in.png, cut.jpg, old.gif.
}

Bytes PngWithHugeHeader() {
  Bytes png = rktest::MakePng(4, 4, PNG_COLOR_TYPE_RGB, 8);
  // IHDR width and height at 16..23, then its CRC over type and data.
  for (int i = 16; i < 24; i += 4) {
    png[i] = 0;
    png[i + 1] = 0;
    png[i + 2] = 0xFF;
    png[i + 3] = 0xFF;
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(0, png.data() + 12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  return png;
}

size_t FindChunk(const Bytes& png, const char* type) {
  for (size_t i = 8; i + 8 <= png.size();) {
    if (std::memcmp(&png[i + 4], type, 4) == 0) return i;
    i += 12 +
         (size_t{png[i]} << 24 | size_t{png[i + 1]} << 16 | size_t{png[i + 2]} << 8 | png[i + 3]);
  }
  return 0;
}

TEST_F(RasterkitTest, BadInputGivesANullHandleOrACleanFailure) {
  enum Outcome { kNull, kNullOrSaveFails };
  Bytes bad_ihdr_crc = rktest::MakePng(16, 16, PNG_COLOR_TYPE_RGB, 8);
  bad_ihdr_crc[30] ^= 0xFF;
  Bytes bad_idat_crc = rktest::MakePng(16, 16, PNG_COLOR_TYPE_RGB, 8);
  bad_idat_crc[FindChunk(bad_idat_crc, "IDAT") + 9] ^= 0xFF;
  Bytes bad_lzw = rktest::MakeGif(32, 32, 8, false);
  for (size_t i = bad_lzw.size() / 2; i < bad_lzw.size() - 2; ++i) bad_lzw[i] = 0xFF;
  Bytes header_only = rktest::MakeJpeg(64, 64, JpegKind::kColour);
  header_only.resize(100);
  Bytes webp = rktest::MakeWebp(32, 32, false, false);
  webp.resize(webp.size() / 2);
  const std::string text = "This is not an image at all.\n";
  const struct {
    const char* name;
    std::string path;
    Outcome outcome;
  } cases[] = {
      {"truncated jpeg", Put("cut.jpg", CutInsideScan(rktest::MakeJpeg(64, 64, JpegKind::kColour))),
       kNullOrSaveFails},
      {"truncated progressive jpeg",
       Put("cutp.jpg", CutInsideScan(rktest::MakeJpeg(64, 64, JpegKind::kProgressive))),
       kNullOrSaveFails},
      {"jpeg cut in its header", Put("head.jpg", header_only), kNull},
      {"png with a bad IHDR CRC", Put("crc.png", bad_ihdr_crc), kNull},
      {"png with a bad IDAT CRC", Put("idat.png", bad_idat_crc), kNullOrSaveFails},
      {"65535 x 65535 png", Put("huge.png", PngWithHugeHeader()), kNull},
      {"gif with a bad LZW stream", Put("lzw.gif", bad_lzw), kNullOrSaveFails},
      {"truncated webp", Put("cut.webp", webp), kNull},
      {"empty file", Put("empty.jpg", {}), kNull},
      {"text named .jpg", Put("text.jpg", Bytes(text.begin(), text.end())), kNull},
      {"a directory", dir_.string(), kNull},
      {"/dev/zero", "/dev/zero", kNull},
      {"a missing file", Path("absent.png"), kNull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Handle h = Load(c.path);
    if (c.outcome == kNull) {
      EXPECT_EQ(h, nullptr);
      continue;
    }
    if (h == nullptr) continue;
    EXPECT_EQ(Save(h.get(), Path("out.png").c_str(), -1), 0);
    EXPECT_FALSE(fs::exists(Path("out.png")));
  }
}

TEST_F(RasterkitTest, LimitsComeFromTheEnvironment) {
  const std::string in = Put("in.png", rktest::MakePng(100, 100, PNG_COLOR_TYPE_RGB, 8));
  EXPECT_NE(Load(in), nullptr);
  setenv("RASTERKIT_MAX_PIXELS", "9999", 1);
  EXPECT_EQ(Load(in), nullptr);
  setenv("RASTERKIT_MAX_PIXELS", "10000", 1);
  Handle h = Load(in);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(Stretch(h.get(), 101, 100), 0);  // The target counts against the limit too.
  unsetenv("RASTERKIT_MAX_PIXELS");
  setenv("RASTERKIT_MAX_FILE_BYTES", "64", 1);
  EXPECT_EQ(Load(in), nullptr);
  unsetenv("RASTERKIT_MAX_FILE_BYTES");
}

TEST_F(RasterkitTest, NullHandleIsHarmless) {
  EXPECT_EQ(GetWidth(nullptr), 0);
  EXPECT_EQ(GetNumBits(nullptr), 0);
  EXPECT_EQ(ChangeImageFormat(nullptr, 24), 0);
  EXPECT_EQ(Stretch(nullptr, 1, 1), 0);
  EXPECT_EQ(Save(nullptr, Path("x.png").c_str(), -1), 0);
  SetQuality(nullptr, 50);
  DeleteImageObject(nullptr);
  EXPECT_FALSE(fs::exists(Path("x.png")));
}

TEST_F(RasterkitTest, RealPhotoMakesAThumbnail) {
  const std::string photo = "/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg";
  if (!fs::exists(photo)) GTEST_SKIP() << "mate-backgrounds is not installed";
  Handle h = Load(photo);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetWidth(h.get()), 5640);
  EXPECT_EQ(GetHeight(h.get()), 3172);
  EXPECT_EQ(GetNumBits(h.get()), 24);
  SetQuality(h.get(), 75);
  ASSERT_EQ(Stretch(h.get(), 120, 67), 1);
  ASSERT_EQ(Save(h.get(), Path("thumb.jpg").c_str(), -1), 1);
  Decoded d = ReadBack(Path("thumb.jpg"));
  EXPECT_EQ(d.format, "jpeg");
  EXPECT_EQ(d.width, 120);
  EXPECT_EQ(d.height, 67);
  EXPECT_GT(fs::file_size(Path("thumb.jpg")), 1000u);
}

}  // namespace
