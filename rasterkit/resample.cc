// Separable Lanczos-3 resampling with support widened when shrinking, and a box pre-shrink.
#include "resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace rasterkit {
namespace {

constexpr double kLobes = 3.0;
// Beyond this many times the output size the image is first box-averaged by an integer factor,
// leaving Lanczos about twice the output to work from (as good, and far fewer taps).
constexpr int kBoxFromRatio = 4;

double Lanczos(double x) {
  x = std::fabs(x);
  if (x < 1e-9) return 1.0;
  if (x >= kLobes) return 0.0;
  const double px = std::numbers::pi * x;
  return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// For each output position: the first input index and normalised weights of a contiguous run.
struct Taps {
  std::vector<int> first;
  std::vector<int> count;
  std::vector<float> weights;
  int max_count = 0;
};

Taps MakeTaps(int in_size, int out_size) {
  Taps taps;
  const double scale = static_cast<double>(in_size) / out_size;
  const double filter_scale = std::max(scale, 1.0);
  const double support = kLobes * filter_scale;
  const int span = static_cast<int>(std::ceil(support)) * 2 + 1;
  taps.max_count = std::min(span, in_size);
  taps.first.resize(out_size);
  taps.count.resize(out_size);
  taps.weights.assign(static_cast<size_t>(out_size) * taps.max_count, 0.0f);
  std::vector<double> w(in_size);
  for (int i = 0; i < out_size; ++i) {
    const double center = (i + 0.5) * scale - 0.5;
    const int left = static_cast<int>(std::ceil(center - support));
    const int right = static_cast<int>(std::floor(center + support));
    const int first = std::clamp(left, 0, in_size - 1);
    const int last = std::clamp(right, 0, in_size - 1);
    std::fill(w.begin() + first, w.begin() + last + 1, 0.0);
    double sum = 0;
    for (int j = left; j <= right; ++j) {
      const double v = Lanczos((j - center) / filter_scale);
      w[std::clamp(j, 0, in_size - 1)] += v;
      sum += v;
    }
    int count = last - first + 1;
    if (count > taps.max_count) count = taps.max_count;
    taps.first[i] = first;
    taps.count[i] = count;
    float* out = &taps.weights[static_cast<size_t>(i) * taps.max_count];
    for (int k = 0; k < count; ++k) out[k] = static_cast<float>(w[first + k] / sum);
  }
  return taps;
}

template <int C>
void Horizontal(const Pixmap& in, const Taps& taps, int out_width, float* rows) {
  for (int y = 0; y < in.height; ++y) {
    const uint8_t* src = in.Row(y);
    float* dst = rows + static_cast<size_t>(y) * out_width * C;
    for (int x = 0; x < out_width; ++x) {
      const float* w = &taps.weights[static_cast<size_t>(x) * taps.max_count];
      const uint8_t* p = src + static_cast<size_t>(taps.first[x]) * C;
      float acc[C] = {};
      for (int k = 0; k < taps.count[x]; ++k, p += C) {
        for (int c = 0; c < C; ++c) acc[c] += w[k] * p[c];
      }
      for (int c = 0; c < C; ++c) dst[x * C + c] = acc[c];
    }
  }
}

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

void Vertical(const float* rows, int row_values, const Taps& taps, Pixmap* out,
              std::vector<float>* acc) {
  acc->resize(row_values);
  for (int y = 0; y < out->height; ++y) {
    std::fill(acc->begin(), acc->end(), 0.0f);
    const float* w = &taps.weights[static_cast<size_t>(y) * taps.max_count];
    for (int k = 0; k < taps.count[y]; ++k) {
      const float* src = rows + static_cast<size_t>(taps.first[y] + k) * row_values;
      const float wk = w[k];
      float* a = acc->data();
      for (int i = 0; i < row_values; ++i) a[i] += wk * src[i];
    }
    uint8_t* dst = out->Row(y);
    for (int i = 0; i < row_values; ++i) dst[i] = ToByte((*acc)[i]);
  }
}

bool BoxShrink(const Pixmap& in, int kx, int ky, PixelBuffer* buffer, Pixmap* out) {
  const int ow = (in.width + kx - 1) / kx;
  const int oh = (in.height + ky - 1) / ky;
  const int c = in.channels;
  if (!out->Allocate(buffer, ow, oh, c)) return false;
  std::vector<uint32_t> sums(static_cast<size_t>(ow) * c);
  for (int oy = 0; oy < oh; ++oy) {
    std::fill(sums.begin(), sums.end(), 0u);
    const int y0 = oy * ky, y1 = std::min(in.height, y0 + ky);
    for (int y = y0; y < y1; ++y) {
      const uint8_t* src = in.Row(y);
      for (int x = 0; x < in.width; ++x) {
        uint32_t* s = &sums[static_cast<size_t>(x / kx) * c];
        for (int k = 0; k < c; ++k) s[k] += src[x * c + k];
      }
    }
    uint8_t* dst = out->Row(oy);
    for (int ox = 0; ox < ow; ++ox) {
      const uint32_t n =
          static_cast<uint32_t>((std::min(in.width, (ox + 1) * kx) - ox * kx) * (y1 - y0));
      for (int k = 0; k < c; ++k)
        dst[ox * c + k] = static_cast<uint8_t>((sums[ox * c + k] + n / 2) / n);
    }
  }
  return true;
}

int BoxFactor(int in_size, int out_size) {
  const int ratio = in_size / out_size;
  return ratio >= kBoxFromRatio ? ratio / 2 : 1;
}

}  // namespace

bool Resize(const Pixmap& in, int width, int height, ResampleBuffers* buffers, Pixmap* out) {
  if (width <= 0 || height <= 0 || in.width <= 0 || in.height <= 0) return false;
  Pixmap source = in;
  const int kx = BoxFactor(in.width, width), ky = BoxFactor(in.height, height);
  if ((kx > 1 || ky > 1) && !BoxShrink(in, kx, ky, &buffers->box, &source)) return false;
  if (!out->Allocate(&buffers->out, width, height, in.channels)) return false;
  const Taps horizontal = MakeTaps(source.width, width);
  const Taps vertical = MakeTaps(source.height, height);
  const int row_values = width * in.channels;
  auto* rows = reinterpret_cast<float*>(
      buffers->rows.Reserve(static_cast<size_t>(source.height) * row_values * sizeof(float)));
  if (rows == nullptr) return false;
  switch (in.channels) {
    case 1:
      Horizontal<1>(source, horizontal, width, rows);
      break;
    case 3:
      Horizontal<3>(source, horizontal, width, rows);
      break;
    case 4:
      Horizontal<4>(source, horizontal, width, rows);
      break;
    default:
      return false;
  }
  std::vector<float> acc;
  Vertical(rows, row_values, vertical, out, &acc);
  return true;
}

void Premultiply(Pixmap* image) {
  if (image->channels != 4) return;
  for (int y = 0; y < image->height; ++y) {
    uint8_t* p = image->Row(y);
    for (int x = 0; x < image->width; ++x, p += 4) {
      const int a = p[3];
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>((p[c] * a + 127) / 255);
    }
  }
}

void Unpremultiply(Pixmap* image) {
  if (image->channels != 4) return;
  for (int y = 0; y < image->height; ++y) {
    uint8_t* p = image->Row(y);
    for (int x = 0; x < image->width; ++x, p += 4) {
      const int a = p[3];
      for (int c = 0; c < 3; ++c) {
        p[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255, (p[c] * 255 + a / 2) / a));
      }
    }
  }
}

}  // namespace rasterkit
