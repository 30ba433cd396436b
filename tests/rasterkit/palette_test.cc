// Tests of the colour quantiser: exact palettes, photo quality, transparency, refusals.
#include "palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace rasterkit {
namespace {

struct Pixels {
  int width, height, channels;
  size_t stride;
  std::vector<uint8_t> data;

  Pixels(int w, int h, int c, size_t pad = 0)
      : width(w),
        height(h),
        channels(c),
        stride(static_cast<size_t>(w) * c + pad),
        data(stride * h, 0xAB) {}
  uint8_t* At(int x, int y) { return data.data() + y * stride + x * channels; }
  bool Quantize(IndexedImage* out) const {
    return rasterkit::Quantize(data.data(), width, height, channels, stride, out);
  }
};

// A smooth photo-like scene: gradients, a soft disc, fine texture and sensor noise.
Pixels PhotoLike(int w, int h, int channels) {
  Pixels p(w, h, channels);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = x / double(w), v = y / double(h);
      const double disc = std::exp(-((u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4)) * 20);
      const double texture = 12 * std::sin(x * 0.7) * std::cos(y * 0.5);
      const double rgb[3] = {40 + 180 * u + 30 * disc + texture, 60 + 120 * v + 60 * disc,
                             200 - 150 * u * v + texture * 0.5};
      uint8_t* px = p.At(x, y);
      for (int c = 0; c < 3; ++c) {
        px[c] = static_cast<uint8_t>(std::clamp(rgb[c] + noise(rng), 0.0, 255.0));
      }
      if (channels == 4) px[3] = 255;
    }
  }
  return p;
}

Rgb ColourAt(const IndexedImage& image, int x, int y) {
  return image.palette.at(image.indices.at(static_cast<size_t>(y) * image.width + x));
}

double Psnr(Pixels& in, const IndexedImage& out) {
  double sum = 0;
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      const Rgb c = ColourAt(out, x, y);
      const uint8_t* px = in.At(x, y);
      const int d[3] = {px[0] - c.r, px[1] - c.g, px[2] - c.b};
      sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    }
  }
  const double mse = sum / (3.0 * in.width * in.height);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

struct ExactCase {
  const char* name;
  int channels;
  size_t pad;
  int colours;  // Distinct colours drawn, each on its own pixels.
  bool with_transparency;
};

TEST(QuantizeTest, FewColoursComeOutExactAndUndithered) {
  const ExactCase cases[] = {
      {"rgb", 3, 0, 5, false},
      {"rgb with padded rows", 3, 7, 40, false},
      {"rgba opaque", 4, 0, 256, false},
      {"rgba, 255 colours and transparency", 4, 4, 255, true},
  };
  for (const ExactCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pixels p(37, 29, c.channels, c.pad);
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        const int k = (x * 7 + y * 13) % c.colours;
        uint8_t* px = p.At(x, y);
        px[0] = static_cast<uint8_t>(k * 37);
        px[1] = static_cast<uint8_t>(k);
        px[2] = static_cast<uint8_t>(255 - k * 11);
        if (c.channels == 4) px[3] = (c.with_transparency && (x + y) % 5 == 0) ? 20 : 200;
      }
    }
    IndexedImage out;
    ASSERT_TRUE(p.Quantize(&out));
    ASSERT_EQ(out.width, p.width);
    ASSERT_EQ(out.height, p.height);
    EXPECT_EQ(out.palette.size(), static_cast<size_t>(c.colours + (c.with_transparency ? 1 : 0)));
    EXPECT_EQ(out.transparent_index >= 0, c.with_transparency);
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        const uint8_t* px = p.At(x, y);
        const uint8_t index = out.indices[static_cast<size_t>(y) * p.width + x];
        if (c.channels == 4 && px[3] < 128) {
          ASSERT_EQ(index, out.transparent_index);
          continue;
        }
        ASSERT_NE(index, out.transparent_index);
        const Rgb got = out.palette.at(index);
        ASSERT_EQ(got.r, px[0]);
        ASSERT_EQ(got.g, px[1]);
        ASSERT_EQ(got.b, px[2]);
      }
    }
  }
}

TEST(QuantizeTest, PhotoLikeImagesReachThirtyFourDecibels) {
  const int sizes[][2] = {{120, 90}, {320, 200}, {1, 300}};
  for (const auto& size : sizes) {
    for (int channels : {3, 4}) {
      SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << "x" << channels);
      Pixels p = PhotoLike(size[0], size[1], channels);
      IndexedImage out;
      ASSERT_TRUE(p.Quantize(&out));
      EXPECT_LE(out.palette.size(), 256u);
      EXPECT_EQ(out.transparent_index, -1);
      EXPECT_GE(Psnr(p, out), 34.0);
    }
  }
}

TEST(QuantizeTest, TransparentPixelsShareOneEntryThatNoOpaquePixelUses) {
  Pixels p = PhotoLike(120, 90, 4);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) p.At(x, y)[3] = static_cast<uint8_t>((x * 255) / 119);
  }
  IndexedImage out;
  ASSERT_TRUE(p.Quantize(&out));
  ASSERT_GE(out.transparent_index, 0);
  ASSERT_LT(out.transparent_index, static_cast<int>(out.palette.size()));
  EXPECT_LE(out.palette.size(), 256u);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const bool transparent = p.At(x, y)[3] < 128;
      ASSERT_EQ(out.indices[static_cast<size_t>(y) * p.width + x] == out.transparent_index,
                transparent)
          << x << "," << y;
    }
  }
}

TEST(QuantizeTest, AllTransparentImageIsOneEntry) {
  Pixels p(8, 8, 4);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) p.At(x, y)[3] = 0;
  }
  IndexedImage out;
  ASSERT_TRUE(p.Quantize(&out));
  ASSERT_EQ(out.palette.size(), 1u);
  EXPECT_EQ(out.transparent_index, 0);
  for (uint8_t index : out.indices) EXPECT_EQ(index, 0);
}

TEST(QuantizeTest, RefusesBadArguments) {
  std::vector<uint8_t> data(64 * 4, 0);
  IndexedImage out;
  struct Case {
    const char* name;
    const uint8_t* pixels;
    int width, height, channels;
    size_t stride;
    IndexedImage* out;
  } cases[] = {
      {"null pixels", nullptr, 4, 4, 3, 12, &out},
      {"null output", data.data(), 4, 4, 3, 12, nullptr},
      {"zero width", data.data(), 0, 4, 3, 12, &out},
      {"negative height", data.data(), 4, -1, 3, 12, &out},
      {"two channels", data.data(), 4, 4, 2, 8, &out},
      {"stride shorter than a row", data.data(), 4, 4, 4, 15, &out},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Quantize(c.pixels, c.width, c.height, c.channels, c.stride, c.out)) << c.name;
  }
}

}  // namespace
}  // namespace rasterkit
