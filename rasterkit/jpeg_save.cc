// The JPEG saver: baseline, 4:2:0, optimised Huffman tables, into memory.
#include <memory>

#include "codec.h"
#include "jpeg_common.h"

namespace rasterkit {
namespace {

constexpr size_t kChunkBytes = 16 * 1024;

struct JpegSinkManager {
  jpeg_destination_mgr pub;
  ByteSink* sink;
  JOCTET buffer[kChunkBytes];
};

extern "C" void JpegInitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegSinkManager*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kChunkBytes;
}

extern "C" boolean JpegEmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegSinkManager*>(cinfo->dest);
  if (!dest->sink->Append(dest->buffer, kChunkBytes)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kChunkBytes;
  return TRUE;
}

extern "C" void JpegTermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegSinkManager*>(cinfo->dest);
  if (!dest->sink->Append(dest->buffer, kChunkBytes - dest->pub.free_in_buffer)) {
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
}

struct JpegEncoderState {
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  JpegSinkManager dest;
  bool created;
};

// C-only: the whole compression, landing here on any libjpeg error.
bool Compress(JpegEncoderState* s, const Pixmap* image, int quality) {
  s->cinfo.err = InitJpegErrors(&s->err);
  if (setjmp(s->err.jump)) return false;
  jpeg_create_compress(&s->cinfo);
  s->created = true;
  jpeg_compress_struct& cinfo = s->cinfo;
  s->dest.pub.init_destination = JpegInitDestination;
  s->dest.pub.empty_output_buffer = JpegEmptyOutputBuffer;
  s->dest.pub.term_destination = JpegTermDestination;
  cinfo.dest = &s->dest.pub;
  cinfo.image_width = static_cast<JDIMENSION>(image->width);
  cinfo.image_height = static_cast<JDIMENSION>(image->height);
  cinfo.input_components = image->channels;
  cinfo.in_color_space = image->channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);  // 4:2:0 for colour.
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = image->Row(static_cast<int>(cinfo.next_scanline));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

// Owns the libjpeg compressor.
class JpegEncoder {
 public:
  explicit JpegEncoder(ByteSink* sink) : state_(new JpegEncoderState()) {
    state_->dest.sink = sink;
  }
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;
  ~JpegEncoder() {
    if (state_->created) jpeg_destroy_compress(&state_->cinfo);
  }
  JpegEncoderState* state() { return state_.get(); }

 private:
  std::unique_ptr<JpegEncoderState> state_;
};

}  // namespace

bool EncodeJpeg(const Pixmap& image, int quality, ByteSink* out) {
  if (image.channels != 1 && image.channels != 3) return false;
  JpegEncoder encoder(out);
  return Compress(encoder.state(), &image, quality) && !out->failed();
}

}  // namespace rasterkit
