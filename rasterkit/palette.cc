// The colour quantiser: Wu's variance-minimising box cuts, then serpentine error diffusion.
#include "palette.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

namespace rasterkit {
namespace {

constexpr int kMaxColours = 256;
constexpr int kOpaqueAlpha = 128;

// The histogram has 32 levels per channel plus a zero plane at index 0, which the cumulative
// moments need so that a box's lower faces are plain lookups.
constexpr int kLevels = 32;
constexpr int kSide = kLevels + 1;
constexpr int kCells = kSide * kSide * kSide;
constexpr int kStrideR = kSide * kSide;
constexpr int kStrideG = kSide;

// Sums over histogram cells. The integer sums wrap (unsigned), but every box's true sum fits,
// since at most kMaxSamples pixels enter the histogram, so sums over boxes come out exact.
constexpr size_t kMaxSamples = size_t{1} << 23;  // 255 * kMaxSamples < 2^31.

struct Moment {
  uint32_t w = 0, r = 0, g = 0, b = 0;
  double m2 = 0;

  Moment& operator+=(const Moment& o) {
    w += o.w;
    r += o.r;
    g += o.g;
    b += o.b;
    m2 += o.m2;
    return *this;
  }
  Moment& operator-=(const Moment& o) {
    w -= o.w;
    r -= o.r;
    g -= o.g;
    b -= o.b;
    m2 -= o.m2;
    return *this;
  }
};

Moment operator-(Moment a, const Moment& b) { return a -= b; }

// A box of histogram cells: lower bounds exclusive, upper bounds inclusive.
struct Box {
  int r0, r1, g0, g1, b0, b1;
};

enum Axis { kRed, kGreen, kBlue };

inline int CellIndex(int r, int g, int b) { return r * kStrideR + g * kStrideG + b; }

// The histogram level (0 to 31) of each channel value. The levels span the range the image
// uses, so that an image of few tones (a dark one, say) still gets fine boxes.
struct Levels {
  std::array<std::array<uint8_t, 256>, 3> of;

  void Span(int channel, int lo, int hi) {
    for (int v = 0; v < 256; ++v) {
      const int clamped = std::clamp(v, lo, hi);
      of[channel][v] = static_cast<uint8_t>((clamped - lo) * kLevels / (hi - lo + 1));
    }
  }
  int Cell(int r, int g, int b) const {
    return (of[0][r] * kLevels + of[1][g]) * kLevels + of[2][b];
  }
};

// Wu's quantiser over a histogram of cumulative moments.
class WuQuantizer {
 public:
  WuQuantizer(std::vector<Moment>* cells, const Levels& levels) : m_(*cells), levels_(levels) {}

  void Add(int r, int g, int b) {
    Moment& c = m_[CellIndex(levels_.of[0][r] + 1, levels_.of[1][g] + 1, levels_.of[2][b] + 1)];
    c.w += 1;
    c.r += r;
    c.g += g;
    c.b += b;
    c.m2 += static_cast<double>(r * r + g * g + b * b);
  }

  // Turns the histogram into moments summed from the origin, so any box sums in 8 lookups.
  void Accumulate() {
    std::array<Moment, kSide> area;
    for (int r = 1; r < kSide; ++r) {
      area.fill(Moment());
      for (int g = 1; g < kSide; ++g) {
        Moment line;
        for (int b = 1; b < kSide; ++b) {
          const int i = CellIndex(r, g, b);
          line += m_[i];
          area[b] += line;
          m_[i] = m_[i - kStrideR];
          m_[i] += area[b];
        }
      }
    }
  }

  // Cuts the colour cube into at most `max_colours` boxes and writes their means to `palette`;
  // box_of[cell] (cells of 32 levels per channel) gets the palette entry of the box holding it.
  void MakePalette(int max_colours, std::vector<Rgb>* palette, std::vector<uint8_t>* box_of) {
    std::array<Box, kMaxColours> boxes;
    std::array<double, kMaxColours> variance;
    boxes[0] = Box{0, kLevels, 0, kLevels, 0, kLevels};
    variance[0] = 0;
    int count = 1;
    int next = 0;
    while (count < max_colours) {
      if (Cut(&boxes[next], &boxes[count])) {
        variance[next] = Splittable(boxes[next]) ? Variance(boxes[next]) : 0;
        variance[count] = Splittable(boxes[count]) ? Variance(boxes[count]) : 0;
        ++count;
      } else {
        variance[next] = 0;
      }
      next = 0;
      double worst = variance[0];
      for (int i = 1; i < count; ++i) {
        if (variance[i] > worst) {
          worst = variance[i];
          next = i;
        }
      }
      if (worst <= 0) break;
    }
    palette->clear();
    for (int i = 0; i < count; ++i) {
      const Moment v = Volume(boxes[i]);
      const auto mean = [&](uint32_t sum) {
        return static_cast<uint8_t>(std::min<uint32_t>(255, (sum + v.w / 2) / v.w));
      };
      palette->push_back(Rgb{mean(v.r), mean(v.g), mean(v.b)});
      const Box& c = boxes[i];
      for (int r = c.r0; r < c.r1; ++r) {
        for (int g = c.g0; g < c.g1; ++g) {
          uint8_t* cell = box_of->data() + (r * kLevels + g) * kLevels;
          std::fill(cell + c.b0, cell + c.b1, static_cast<uint8_t>(i));
        }
      }
    }
  }

 private:
  static bool Splittable(const Box& c) { return (c.r1 - c.r0) * (c.g1 - c.g0) * (c.b1 - c.b0) > 1; }

  Moment Volume(const Box& c) const {
    Moment v = m_[CellIndex(c.r1, c.g1, c.b1)];
    v -= m_[CellIndex(c.r1, c.g1, c.b0)];
    v -= m_[CellIndex(c.r1, c.g0, c.b1)];
    v += m_[CellIndex(c.r1, c.g0, c.b0)];
    v -= m_[CellIndex(c.r0, c.g1, c.b1)];
    v += m_[CellIndex(c.r0, c.g1, c.b0)];
    v += m_[CellIndex(c.r0, c.g0, c.b1)];
    v -= m_[CellIndex(c.r0, c.g0, c.b0)];
    return v;
  }

  // The sum over the slab of `c` whose `axis` coordinate is `pos`, from the origin plane.
  Moment Face(const Box& c, Axis axis, int pos) const {
    const int r0 = c.r0, r1 = c.r1, g0 = c.g0, g1 = c.g1, b0 = c.b0, b1 = c.b1;
    // With one axis collapsed, four of the eight corners remain.
    Moment v;
    if (axis == kRed) {
      v = m_[CellIndex(pos, g1, b1)];
      v -= m_[CellIndex(pos, g1, b0)];
      v -= m_[CellIndex(pos, g0, b1)];
      v += m_[CellIndex(pos, g0, b0)];
    } else if (axis == kGreen) {
      v = m_[CellIndex(r1, pos, b1)];
      v -= m_[CellIndex(r1, pos, b0)];
      v -= m_[CellIndex(r0, pos, b1)];
      v += m_[CellIndex(r0, pos, b0)];
    } else {
      v = m_[CellIndex(r1, g1, pos)];
      v -= m_[CellIndex(r1, g0, pos)];
      v -= m_[CellIndex(r0, g1, pos)];
      v += m_[CellIndex(r0, g0, pos)];
    }
    return v;
  }

  double Variance(const Box& c) const {
    const Moment v = Volume(c);
    const double r = static_cast<double>(v.r), g = static_cast<double>(v.g),
                 b = static_cast<double>(v.b);
    return v.m2 - (r * r + g * g + b * b) / static_cast<double>(v.w);
  }

  static double Spread(const Moment& v) {
    const double r = static_cast<double>(v.r), g = static_cast<double>(v.g),
                 b = static_cast<double>(v.b);
    return (r * r + g * g + b * b) / static_cast<double>(v.w);
  }

  // The best place to cut `c` across `axis`: the cut maximising the between-box spread.
  double Maximize(const Box& c, Axis axis, int first, int last, const Moment& whole,
                  int* cut) const {
    const int low = axis == kRed ? c.r0 : axis == kGreen ? c.g0 : c.b0;
    const Moment base = Face(c, axis, low);
    double best = 0;
    *cut = -1;
    for (int i = first; i < last; ++i) {
      const Moment half = Face(c, axis, i) - base;
      if (half.w == 0) continue;
      const Moment rest = whole - half;
      if (rest.w == 0) continue;
      const double spread = Spread(half) + Spread(rest);
      if (spread > best) {
        best = spread;
        *cut = i;
      }
    }
    return best;
  }

  bool Cut(Box* a, Box* b) const {
    const Moment whole = Volume(*a);
    int cut_r, cut_g, cut_b;
    const double max_r = Maximize(*a, kRed, a->r0 + 1, a->r1, whole, &cut_r);
    const double max_g = Maximize(*a, kGreen, a->g0 + 1, a->g1, whole, &cut_g);
    const double max_b = Maximize(*a, kBlue, a->b0 + 1, a->b1, whole, &cut_b);
    *b = *a;
    if (max_r >= max_g && max_r >= max_b) {
      if (cut_r < 0) return false;
      a->r1 = b->r0 = cut_r;
    } else if (max_g >= max_b) {
      if (cut_g < 0) return false;
      a->g1 = b->g0 = cut_g;
    } else {
      if (cut_b < 0) return false;
      a->b1 = b->b0 = cut_b;
    }
    return true;
  }

  std::vector<Moment>& m_;
  const Levels& levels_;
};

// Nearest palette entry by squared RGB distance. Entries are sorted by r + g + b; since
// (dr + dg + db)^2 <= 3 (dr^2 + dg^2 + db^2), the search stops on either side once the
// difference in sums alone rules out a closer entry.
class NearestColour {
 public:
  // `hint[cell]` names, for each cell of 32 levels per channel, an entry likely to be near.
  NearestColour(const std::vector<Rgb>& palette, const std::vector<uint8_t>& hint,
                const Levels& levels)
      : count_(static_cast<int>(palette.size())), hint_(hint), levels_(levels) {
    for (int i = 0; i < count_; ++i) order_[i] = static_cast<uint8_t>(i);
    std::sort(order_.begin(), order_.begin() + count_,
              [&](uint8_t x, uint8_t y) { return Sum(palette[x]) < Sum(palette[y]); });
    for (int i = 0; i < count_; ++i) {
      const Rgb& c = palette[order_[i]];
      r_[i] = c.r;
      g_[i] = c.g;
      b_[i] = c.b;
      sum_[i] = Sum(c);
    }
    for (int i = 0; i < count_; ++i) position_[order_[i]] = static_cast<uint8_t>(i);
    int pos = 0;
    for (int s = 0; s < kSums; ++s) {
      while (pos < count_ && sum_[pos] < s) ++pos;
      start_[s] = static_cast<uint16_t>(pos);
    }
  }

  // The position (in sorted order) of the entry nearest to r, g, b.
  int Find(int r, int g, int b) const {
    const int s = r + g + b;
    // Starting from the hinted entry makes the bound prune from the first step.
    int best_i = position_[hint_[levels_.Cell(r, g, b)]];
    int best = Distance(best_i, r, g, b);
    // Each side is scanned on its own: simple loops whose exits the processor predicts.
    for (int i = start_[s]; i < count_; ++i) {
      const int ds = sum_[i] - s;
      if (ds * ds >= 3 * best) break;
      const int d = Distance(i, r, g, b);
      if (d < best) best = d, best_i = i;
    }
    for (int i = start_[s] - 1; i >= 0; --i) {
      const int ds = s - sum_[i];
      if (ds * ds >= 3 * best) break;
      const int d = Distance(i, r, g, b);
      if (d < best) best = d, best_i = i;
    }
    return best_i;
  }

  // The palette index and the colour of a position that Find returned.
  uint8_t Index(int pos) const { return order_[pos]; }
  void Colour(int pos, int* r, int* g, int* b) const {
    *r = r_[pos];
    *g = g_[pos];
    *b = b_[pos];
  }

 private:
  static constexpr int kSums = 3 * 255 + 1;
  static int Sum(const Rgb& c) { return c.r + c.g + c.b; }

  int Distance(int i, int r, int g, int b) const {
    const int dr = r_[i] - r, dg = g_[i] - g, db = b_[i] - b;
    return dr * dr + dg * dg + db * db;
  }

  int count_;
  const std::vector<uint8_t>& hint_;
  const Levels& levels_;
  std::array<uint8_t, kMaxColours> order_, position_;
  std::array<int16_t, kMaxColours> r_, g_, b_;
  std::array<int, kMaxColours> sum_;
  std::array<uint16_t, kSums> start_;
};

inline bool Opaque(const uint8_t* px, int channels) {
  return channels == 3 || px[3] >= kOpaqueAlpha;
}

// Maps every pixel exactly when the opaque pixels hold at most 256 colours (255 when some pixel
// is transparent, which needs an entry of its own). Returns false, having written part of `out`,
// when there are more colours than that.
bool MapExactly(const uint8_t* pixels, int width, int height, int channels, size_t stride,
                IndexedImage* out) {
  constexpr int kSlots = 1024;  // Four times the most colours kept: short probe chains.
  std::array<uint32_t, kSlots> keys{};
  std::array<uint8_t, kSlots> values;
  int colours = 0;
  bool transparent = false;
  uint8_t* index = out->indices.data();
  out->palette.clear();
  for (int y = 0; y < height; ++y) {
    const uint8_t* px = pixels + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x, px += channels) {
      if (!Opaque(px, channels)) {
        transparent = true;
        *index++ = 0;
        continue;
      }
      // Keys hold the colour plus one bit above it, so that zero marks an empty slot.
      const uint32_t key = 0x1000000u | (uint32_t{px[0]} << 16) | (uint32_t{px[1]} << 8) | px[2];
      uint32_t slot = (key * 2654435761u) >> 22;
      while (keys[slot] != 0 && keys[slot] != key) slot = (slot + 1) & (kSlots - 1);
      if (keys[slot] == 0) {
        if (colours == kMaxColours) return false;
        keys[slot] = key;
        values[slot] = static_cast<uint8_t>(colours++);
        out->palette.push_back(Rgb{px[0], px[1], px[2]});
      }
      *index++ = values[slot];
    }
  }
  if (!transparent) return true;
  if (colours == kMaxColours) return false;
  out->transparent_index = colours;
  out->palette.push_back(Rgb{0, 0, 0});
  index = out->indices.data();
  for (int y = 0; y < height; ++y) {
    const uint8_t* px = pixels + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x, px += channels, ++index) {
      if (!Opaque(px, channels)) *index = static_cast<uint8_t>(colours);
    }
  }
  return true;
}

inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Maps every pixel to its nearest entry, spreading most of each pixel's error over the
// neighbours not yet mapped (Floyd-Steinberg weights 7, 3, 5, 1 out of 16), alternating
// direction by row.
void Diffuse(const uint8_t* pixels, int width, int height, int channels, size_t stride,
             const NearestColour& nearest, int transparent_index, std::vector<int>* errors,
             uint8_t* indices) {
  // Two rows of errors in sixteenths, each with a guard pixel at both ends.
  const size_t row_len = (static_cast<size_t>(width) + 2) * 3;
  std::fill(errors->begin(), errors->end(), 0);
  int* cur = errors->data();
  int* next = cur + row_len;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
    uint8_t* out_row = indices + static_cast<size_t>(y) * width;
    const bool forward = (y & 1) == 0;
    const int step = forward ? 1 : -1;
    int x = forward ? 0 : width - 1;
    for (int n = 0; n < width; ++n, x += step) {
      const uint8_t* px = row + static_cast<size_t>(x) * channels;
      int* e = cur + (x + 1) * 3;
      if (!Opaque(px, channels)) {
        out_row[x] = static_cast<uint8_t>(transparent_index);
        continue;
      }
      const int r = Clamp255(px[0] + ((e[0] + 8) >> 4));
      const int g = Clamp255(px[1] + ((e[1] + 8) >> 4));
      const int b = Clamp255(px[2] + ((e[2] + 8) >> 4));
      const int pos = nearest.Find(r, g, b);
      out_row[x] = nearest.Index(pos);
      int pr, pg, pb;
      nearest.Colour(pos, &pr, &pg, &pb);
      // Passing on 7/8 of the error keeps the dither's smooth tones and loses less detail to
      // its noise (about 1 dB PSNR on photos over the full error).
      const int err[3] = {(r - pr) * 7 / 8, (g - pg) * 7 / 8, (b - pb) * 7 / 8};
      int* ahead = e + step * 3;
      int* below = next + (x + 1) * 3;
      for (int c = 0; c < 3; ++c) {
        ahead[c] += err[c] * 7;
        below[c - step * 3] += err[c] * 3;
        below[c] += err[c] * 5;
        below[c + step * 3] += err[c];
      }
    }
    std::swap(cur, next);
    std::fill(next, next + row_len, 0);
  }
}

}  // namespace

bool Quantize(const uint8_t* pixels, int width, int height, int channels, size_t stride,
              IndexedImage* out) {
  if (pixels == nullptr || out == nullptr || width < 1 || height < 1 ||
      (channels != 3 && channels != 4)) {
    return false;
  }
  const size_t row_bytes = static_cast<size_t>(width) * static_cast<size_t>(channels);
  if (stride < row_bytes) return false;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  try {
    out->width = width;
    out->height = height;
    out->transparent_index = -1;
    out->indices.resize(count);
    if (MapExactly(pixels, width, height, channels, stride, out)) return true;

    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (int y = 0; y < height; ++y) {
      const uint8_t* px = pixels + static_cast<size_t>(y) * stride;
      for (int x = 0; x < width; ++x, px += channels) {
        if (!Opaque(px, channels)) continue;
        for (int c = 0; c < 3; ++c) {
          lo[c] = std::min<int>(lo[c], px[c]);
          hi[c] = std::max<int>(hi[c], px[c]);
        }
      }
    }
    Levels levels;
    for (int c = 0; c < 3; ++c) levels.Span(c, lo[c], hi[c]);
    bool transparent = false;
    std::vector<Moment> cells(kCells);
    WuQuantizer wu(&cells, levels);
    // Very large images enter the histogram as an even sample of their pixels.
    const size_t sample_every = (count + kMaxSamples - 1) / kMaxSamples;
    size_t skip = 0;
    for (int y = 0; y < height; ++y) {
      const uint8_t* px = pixels + static_cast<size_t>(y) * stride;
      for (int x = 0; x < width; ++x, px += channels) {
        if (!Opaque(px, channels)) {
          transparent = true;
        } else if (skip == 0) {
          wu.Add(px[0], px[1], px[2]);
          skip = sample_every - 1;
        } else {
          --skip;
        }
      }
    }
    wu.Accumulate();
    out->transparent_index = -1;
    std::vector<uint8_t> box_of(kLevels * kLevels * kLevels);
    wu.MakePalette(transparent ? kMaxColours - 1 : kMaxColours, &out->palette, &box_of);
    const NearestColour nearest(out->palette, box_of, levels);
    if (transparent) {
      out->transparent_index = static_cast<int>(out->palette.size());
      out->palette.push_back(Rgb{0, 0, 0});
    }
    std::vector<int> errors((static_cast<size_t>(width) + 2) * 3 * 2);
    Diffuse(pixels, width, height, channels, stride, nearest, out->transparent_index, &errors,
            out->indices.data());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace rasterkit
