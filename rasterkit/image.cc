// The deferred pipeline: decode at the smallest useful size, resample, orient, convert, encode.
#include "image.h"

#include <strings.h>

#include <cstring>
#include <new>

#include "exif.h"
#include "file_io.h"
#include "gif_save.h"
#include "palette.h"
#include "resample.h"

namespace rasterkit {
namespace {

constexpr int kDefaultQuality = 75;

bool DetectFormat(Source& source, Format* format) {
  uint8_t head[12] = {};
  const size_t got = source.Read(0, head, sizeof head);
  static constexpr uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
    *format = Format::kJpeg;
  } else if (got >= 8 && std::memcmp(head, kPng, 8) == 0) {
    *format = Format::kPng;
  } else if (got >= 6 &&
             (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
    *format = Format::kGif;
  } else if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 &&
             std::memcmp(head + 8, "WEBP", 4) == 0) {
    *format = Format::kWebp;
  } else {
    return false;
  }
  return true;
}

// The per-thread working memory of one Encode: reused, so big buffers are not faulted in anew
// for every image, and trimmed afterwards so that a huge image does not pin its memory.
struct Scratch {
  PixelBuffer decoded;
  ResampleBuffers resample;
  PixelBuffer oriented;
  PixelBuffer converted;
  void Trim() {
    decoded.Trim();
    resample.box.Trim();
    resample.rows.Trim();
    resample.out.Trim();
    oriented.Trim();
    converted.Trim();
  }
};

class TrimOnExit {
 public:
  explicit TrimOnExit(Scratch* scratch) : scratch_(scratch) {}
  TrimOnExit(const TrimOnExit&) = delete;
  TrimOnExit& operator=(const TrimOnExit&) = delete;
  ~TrimOnExit() { scratch_->Trim(); }

 private:
  Scratch* scratch_;
};

// Grey or RGBA (composed over white) to RGB; RGB is returned as it is.
bool ToRgb(const Pixmap& in, PixelBuffer* buffer, Pixmap* out) {
  if (in.channels == 3) {
    *out = in;
    return true;
  }
  if (!out->Allocate(buffer, in.width, in.height, 3)) return false;
  for (int y = 0; y < in.height; ++y) {
    const uint8_t* src = in.Row(y);
    uint8_t* dst = out->Row(y);
    for (int x = 0; x < in.width; ++x, dst += 3) {
      if (in.channels == 1) {
        dst[0] = dst[1] = dst[2] = src[x];
        continue;
      }
      const uint8_t* p = src + static_cast<size_t>(x) * 4;
      const int a = p[3];
      for (int c = 0; c < 3; ++c)
        dst[c] = static_cast<uint8_t>((p[c] * a + 255 * (255 - a) + 127) / 255);
    }
  }
  return true;
}

}  // namespace

OutputFormat OutputFormatForPath(const char* path) {
  const size_t length = std::strlen(path);
  auto ends_with = [&](const char* ending) {
    const size_t n = std::strlen(ending);
    return length >= n && strcasecmp(path + length - n, ending) == 0;
  };
  if (ends_with(".jpg") || ends_with(".jpeg")) return OutputFormat::kJpeg;
  if (ends_with(".gif")) return OutputFormat::kGif;
  return OutputFormat::kPng;
}

std::unique_ptr<Image> Image::Open(const char* path) {
  if (path == nullptr) return nullptr;
  const Limits limits = Limits::FromEnvironment();
  std::unique_ptr<Source> source = OpenFileSource(path, limits.max_file_bytes);
  if (!source) return nullptr;
  return FromSource(std::move(source), limits);
}

std::unique_ptr<Image> Image::FromMemory(const uint8_t* data, size_t size) {
  const Limits limits = Limits::FromEnvironment();
  if (data == nullptr || size == 0 || size > limits.max_file_bytes) return nullptr;
  return FromSource(std::make_unique<MemorySource>(data, size), limits);
}

std::unique_ptr<Image> Image::FromSource(std::unique_ptr<Source> source, const Limits& limits) {
  ImageInfo info;
  if (!DetectFormat(*source, &info.format)) return nullptr;
  bool ok = false;
  switch (info.format) {
    case Format::kJpeg:
      ok = JpegReadInfo(*source, limits, &info);
      break;
    case Format::kPng:
      ok = PngReadInfo(*source, limits, &info);
      break;
    case Format::kGif:
      ok = GifReadInfo(*source, limits, &info);
      break;
    case Format::kWebp:
      ok = WebpReadInfo(*source, limits, &info);
      break;
  }
  if (!ok) return nullptr;
  std::unique_ptr<Image> image(new Image(std::move(source)));
  image->info_ = info;
  image->limits_ = limits;
  const bool swap = SwapsAxes(info.orientation);
  image->width_ = swap ? info.height : info.width;
  image->height_ = swap ? info.width : info.height;
  image->bits_ = info.bits;
  image->alpha_ = info.has_alpha;
  return image;
}

bool Image::ChangeFormat(int bits) {
  if (bits == 24) {
    depth_ = Depth::kColour;
    alpha_ = false;
  } else if (bits == 8) {
    depth_ = Depth::kPalette;
  } else {
    return false;
  }
  bits_ = bits;
  return true;
}

void Image::SetQuality(int quality) {
  quality_ = quality <= 0 ? kDefaultQuality : quality > 100 ? 100 : quality;
}

bool Image::Stretch(int width, int height) {
  if (width < 1 || height < 1 || !limits_.AllowsSize(width, height)) return false;
  width_ = width;
  height_ = height;
  stretched_ = true;
  return true;
}

bool Image::Encode(OutputFormat format, std::vector<uint8_t>* out) const {
  thread_local Scratch scratch;
  TrimOnExit trim(&scratch);
  const bool swap = SwapsAxes(info_.orientation);
  const int stored_width = swap ? height_ : width_;
  const int stored_height = swap ? width_ : height_;
  DecodeTarget target;
  if (stretched_) target = {stored_width, stored_height};

  Pixmap pixels;
  bool decoded = false;
  switch (info_.format) {
    case Format::kJpeg:
      decoded = JpegDecode(*source_, info_, target, &scratch.decoded, &pixels);
      break;
    case Format::kPng:
      decoded = PngDecode(*source_, info_, &scratch.decoded, &pixels);
      break;
    case Format::kGif:
      decoded = GifDecode(*source_, info_, &scratch.decoded, &pixels);
      break;
    case Format::kWebp:
      decoded = WebpDecode(*source_, limits_, info_, target, &scratch.decoded, &pixels);
      break;
  }
  if (!decoded) return false;

  if (pixels.width != stored_width || pixels.height != stored_height) {
    Premultiply(&pixels);
    Pixmap resized;
    if (!Resize(pixels, stored_width, stored_height, &scratch.resample, &resized)) return false;
    Unpremultiply(&resized);
    pixels = resized;
  }
  if (info_.orientation != 1) {
    Pixmap upright;
    if (!Orient(pixels, info_.orientation, &scratch.oriented, &upright)) return false;
    pixels = upright;
  }
  // Alpha goes (composed over white) for JPEG output and once the depth has become 24.
  const bool drop_alpha = !alpha_ || format == OutputFormat::kJpeg;
  if ((drop_alpha && pixels.channels == 4) || (depth_ == Depth::kColour && pixels.channels == 1)) {
    Pixmap rgb;
    if (!ToRgb(pixels, &scratch.converted, &rgb)) return false;
    pixels = rgb;
  }

  const bool palette = format == OutputFormat::kGif || depth_ == Depth::kPalette ||
                       (depth_ == Depth::kStored && info_.bits <= 8 && !info_.grey);
  if (format == OutputFormat::kJpeg || !palette) {
    ByteSink sink;
    const bool ok =
        format == OutputFormat::kJpeg
            ? EncodeJpeg(pixels, quality_, &sink)
            : EncodePng(pixels, info_.grey && depth_ == Depth::kStored ? info_.bits : 8, &sink);
    if (!ok) return false;
    out->assign(sink.data(), sink.data() + sink.size());
    return true;
  }
  if (pixels.channels == 1) {
    Pixmap rgb;
    if (!ToRgb(pixels, &scratch.converted, &rgb)) return false;
    pixels = rgb;
  }
  IndexedImage indexed;
  if (!Quantize(pixels.data, pixels.width, pixels.height, pixels.channels, pixels.stride,
                &indexed)) {
    return false;
  }
  if (format == OutputFormat::kGif) return EncodeGif(indexed, out);
  ByteSink sink;
  if (!EncodePalettePng(indexed, &sink)) return false;
  out->assign(sink.data(), sink.data() + sink.size());
  return true;
}

bool Image::Save(const char* path) const {
  if (path == nullptr) return false;
  std::vector<uint8_t> bytes;
  return Encode(OutputFormatForPath(path), &bytes) &&
         WriteFileReplacing(path, bytes.data(), bytes.size());
}

}  // namespace rasterkit
