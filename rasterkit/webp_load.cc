// The WebP loader: lossy, lossless and alpha, the first frame, EXIF orientation, scaled decoding.
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "codec.h"
#include "exif.h"

namespace rasterkit {
namespace {

constexpr int kShrinkMargin = 2;

// Owns the demuxer over bytes the caller keeps.
class WebpDemuxer {
 public:
  WebpDemuxer(const uint8_t* data, size_t size) {
    WebPData whole = {data, size};
    demux_ = WebPDemux(&whole);
  }
  WebpDemuxer(const WebpDemuxer&) = delete;
  WebpDemuxer& operator=(const WebpDemuxer&) = delete;
  ~WebpDemuxer() { WebPDemuxDelete(demux_); }
  WebPDemuxer* get() { return demux_; }

 private:
  WebPDemuxer* demux_ = nullptr;
};

// Owns a frame iterator.
class FrameIterator {
 public:
  FrameIterator() = default;
  FrameIterator(const FrameIterator&) = delete;
  FrameIterator& operator=(const FrameIterator&) = delete;
  ~FrameIterator() { WebPDemuxReleaseIterator(&iter_); }
  WebPIterator* get() { return &iter_; }

 private:
  WebPIterator iter_ = {};
};

// The first frame's bitstream and features.
bool FirstFrame(WebPDemuxer* demux, FrameIterator* frame, WebPBitstreamFeatures* features) {
  if (demux == nullptr || !WebPDemuxGetFrame(demux, 1, frame->get())) return false;
  const WebPData& bits = frame->get()->fragment;
  return WebPGetFeatures(bits.bytes, bits.size, features) == VP8_STATUS_OK;
}

}  // namespace

bool WebpReadInfo(Source& source, const Limits& limits, ImageInfo* info) {
  std::vector<uint8_t> bytes;
  if (!ReadAll(source, limits.max_file_bytes, &bytes)) return false;
  WebpDemuxer demux(bytes.data(), bytes.size());
  FrameIterator frame;
  WebPBitstreamFeatures features;
  if (!FirstFrame(demux.get(), &frame, &features)) return false;
  if (!limits.AllowsSize(features.width, features.height)) return false;
  info->format = Format::kWebp;
  info->width = features.width;
  info->height = features.height;
  info->has_alpha = features.has_alpha != 0;
  info->grey = false;
  info->bits = info->has_alpha ? 32 : 24;
  info->orientation = 1;
  WebPChunkIterator chunk = {};
  if (WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
    info->orientation = ExifOrientation(chunk.chunk.bytes, chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
  }
  return true;
}

bool WebpDecode(Source& source, const Limits& limits, const ImageInfo& info, DecodeTarget target,
                PixelBuffer* buffer, Pixmap* out) {
  std::vector<uint8_t> bytes;
  if (!ReadAll(source, limits.max_file_bytes, &bytes)) return false;
  WebpDemuxer demux(bytes.data(), bytes.size());
  FrameIterator frame;
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config) || !FirstFrame(demux.get(), &frame, &config.input) ||
      config.input.width != info.width || config.input.height != info.height) {
    return false;
  }
  int width = info.width, height = info.height;
  if (target.width > 0 && target.height > 0) {
    // Keeps the aspect ratio and at least twice the target, as the JPEG loader does.
    double scale = std::max(kShrinkMargin * static_cast<double>(target.width) / width,
                            kShrinkMargin * static_cast<double>(target.height) / height);
    if (scale < 1.0) {
      width = std::max(1, static_cast<int>(std::ceil(width * scale)));
      height = std::max(1, static_cast<int>(std::ceil(height * scale)));
      config.options.use_scaling = 1;
      config.options.scaled_width = width;
      config.options.scaled_height = height;
    }
  }
  const int channels = info.has_alpha ? 4 : 3;
  if (!out->Allocate(buffer, width, height, channels)) return false;
  config.output.colorspace = channels == 4 ? MODE_RGBA : MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = out->data;
  config.output.u.RGBA.stride = static_cast<int>(out->stride);
  config.output.u.RGBA.size = out->stride * height;
  const WebPData& bits = frame.get()->fragment;
  const bool ok = WebPDecode(bits.bytes, bits.size, &config) == VP8_STATUS_OK;
  WebPFreeDecBuffer(&config.output);
  return ok;
}

}  // namespace rasterkit
