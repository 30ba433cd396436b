// The JPEG loader: header and EXIF at open, DCT-scaled decoding, DC-only progressive thumbnails.
#include <cstring>
#include <memory>
#include <new>

#include "codec.h"
#include "exif.h"
#include "jpeg_common.h"

namespace rasterkit {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;
// A progressive file may legally have many scans; beyond this it is an attack on our time.
constexpr int kMaxScans = 1000;
// The decoded image is kept at least this many times the target in each direction, so that the
// resampler, not the DCT scaling, sets the thumbnail's sharpness.
constexpr int kShrinkMargin = 2;
constexpr int kRowsPerRead = 16;

struct JpegSourceManager {
  jpeg_source_mgr pub;
  Cursor cursor;
  bool hit_end;
  JOCTET buffer[kChunkBytes];
};

extern "C" void JpegInitSource(j_decompress_ptr) {}
extern "C" void JpegTermSource(j_decompress_ptr) {}

extern "C" boolean JpegFillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegSourceManager*>(cinfo->src);
  size_t got = src->cursor.Read(src->buffer, kChunkBytes);
  if (got == 0) {
    // Ends the data as libjpeg's own sources do; the decode is failed afterwards.
    src->hit_end = true;
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    got = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = got;
  return TRUE;
}

extern "C" void JpegSkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* src = reinterpret_cast<JpegSourceManager*>(cinfo->src);
  size_t skip = static_cast<size_t>(count);
  if (skip <= src->pub.bytes_in_buffer) {
    src->pub.next_input_byte += skip;
    src->pub.bytes_in_buffer -= skip;
    return;
  }
  src->cursor.position += skip - src->pub.bytes_in_buffer;
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = 0;
}

// A progressive image decoded from its DC scans alone needs one coefficient per block, not
// libjpeg's whole-image buffer of 64 (zeroed and faulted in: most of the time of such a decode).
// This stands in for a virtual block array: the DC values of every block, and a window of the
// rows libjpeg is working on, whose other coefficients the 1/8 inverse DCT never reads.
struct DcBlockArray {
  JDIMENSION blocks_per_row;
  JDIMENSION rows;
  JDIMENSION max_access;
  JCOEF* dc;
  JBLOCKARRAY window;
  JDIMENSION window_start;
  JDIMENSION window_rows;
  boolean window_dirty;
  DcBlockArray* next;
};

// Everything libjpeg touches, in one block that outlives every longjmp into it.
struct JpegDecoderState {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  JpegSourceManager src;
  bool created;
  DcBlockArray* dc_arrays;
  void (*realize_virt_arrays)(j_common_ptr);
};

JpegDecoderState* StateOf(j_common_ptr cinfo) {
  return static_cast<JpegDecoderState*>(cinfo->client_data);
}

extern "C" jvirt_barray_ptr DcRequestBlockArray(j_common_ptr cinfo, int pool, boolean,
                                                JDIMENSION blocks_per_row, JDIMENSION rows,
                                                JDIMENSION max_access) {
  auto* array =
      static_cast<DcBlockArray*>(cinfo->mem->alloc_small(cinfo, pool, sizeof(DcBlockArray)));
  *array = DcBlockArray{};
  array->blocks_per_row = blocks_per_row;
  array->rows = rows;
  array->max_access = max_access;
  JpegDecoderState* state = StateOf(cinfo);
  array->next = state->dc_arrays;
  state->dc_arrays = array;
  return reinterpret_cast<jvirt_barray_ptr>(array);
}

extern "C" void DcRealizeArrays(j_common_ptr cinfo) {
  JpegDecoderState* state = StateOf(cinfo);
  state->realize_virt_arrays(cinfo);
  for (DcBlockArray* a = state->dc_arrays; a != nullptr; a = a->next) {
    const size_t count = static_cast<size_t>(a->blocks_per_row) * a->rows;
    a->dc = static_cast<JCOEF*>(cinfo->mem->alloc_large(cinfo, JPOOL_IMAGE, count * sizeof(JCOEF)));
    std::memset(a->dc, 0, count * sizeof(JCOEF));
    a->window = cinfo->mem->alloc_barray(cinfo, JPOOL_IMAGE, a->blocks_per_row, a->max_access);
    for (JDIMENSION r = 0; r < a->max_access; ++r) {
      std::memset(a->window[r], 0, sizeof(JBLOCK) * a->blocks_per_row);
    }
  }
}

extern "C" JBLOCKARRAY DcAccessBlockArray(j_common_ptr cinfo, jvirt_barray_ptr ptr,
                                          JDIMENSION start_row, JDIMENSION num_rows,
                                          boolean writable) {
  auto* a = reinterpret_cast<DcBlockArray*>(ptr);
  if (a->dc == nullptr || num_rows > a->max_access || start_row > a->rows ||
      num_rows > a->rows - start_row) {
    ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
  }
  const JDIMENSION n = a->blocks_per_row;
  if (a->window_dirty) {
    for (JDIMENSION r = 0; r < a->window_rows; ++r) {
      JCOEF* dc = a->dc + static_cast<size_t>(a->window_start + r) * n;
      for (JDIMENSION b = 0; b < n; ++b) dc[b] = a->window[r][b][0];
    }
  }
  for (JDIMENSION r = 0; r < num_rows; ++r) {
    const JCOEF* dc = a->dc + static_cast<size_t>(start_row + r) * n;
    for (JDIMENSION b = 0; b < n; ++b) a->window[r][b][0] = dc[b];
  }
  a->window_start = start_row;
  a->window_rows = num_rows;
  a->window_dirty = writable;
  return a->window;
}

// Routes the decoder's block arrays to DcBlockArray; before jpeg_start_decompress.
void UseDcOnlyArrays(JpegDecoderState* s) {
  s->cinfo.client_data = s;
  s->realize_virt_arrays = s->cinfo.mem->realize_virt_arrays;
  s->cinfo.mem->request_virt_barray = DcRequestBlockArray;
  s->cinfo.mem->realize_virt_arrays = DcRealizeArrays;
  s->cinfo.mem->access_virt_barray = DcAccessBlockArray;
  s->cinfo.do_block_smoothing = FALSE;
}

// The C-only steps: each sets its own landing point, and holds nothing with a destructor.
bool CreateAndReadHeader(JpegDecoderState* s, bool keep_exif) {
  s->cinfo.err = InitJpegErrors(&s->err);
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  s->created = true;
  s->src.pub.init_source = JpegInitSource;
  s->src.pub.fill_input_buffer = JpegFillInputBuffer;
  s->src.pub.skip_input_data = JpegSkipInputData;
  s->src.pub.resync_to_restart = jpeg_resync_to_restart;
  s->src.pub.term_source = JpegTermSource;
  s->cinfo.src = &s->src.pub;
  if (keep_exif) jpeg_save_markers(&s->cinfo, JPEG_APP0 + 1, 0xFFFF);
  return jpeg_read_header(&s->cinfo, TRUE) == JPEG_HEADER_OK && !s->src.hit_end;
}

bool StartDecode(JpegDecoderState* s, int denominator, bool buffered, bool dc_only) {
  if (setjmp(s->err.jump)) return false;
  jpeg_decompress_struct& cinfo = s->cinfo;
  if (dc_only) UseDcOnlyArrays(s);
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(denominator);
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      cinfo.out_color_space = JCS_RGB;
      break;
  }
  cinfo.buffered_image = buffered ? TRUE : FALSE;
  return jpeg_start_decompress(&cinfo) == TRUE;
}

bool AllDcPresent(const jpeg_decompress_struct& cinfo) {
  for (int c = 0; c < cinfo.num_components; ++c) {
    if (cinfo.coef_bits[c][0] < 0) return false;
  }
  return true;
}

// Buffered-image mode: absorbs scans until the end, or only until every component has its DC
// coefficients when those alone serve the output (a 1/8 scale uses nothing else).
bool ConsumeScans(JpegDecoderState* s, bool dc_only) {
  if (setjmp(s->err.jump)) return false;
  int scans = 0;
  for (;;) {
    int result = jpeg_consume_input(&s->cinfo);
    if (s->src.hit_end) return false;
    if (result == JPEG_REACHED_EOI || result == JPEG_SUSPENDED) break;
    if (result == JPEG_REACHED_SOS && ++scans > kMaxScans) return false;
    if (result == JPEG_SCAN_COMPLETED && dc_only && AllDcPresent(s->cinfo)) break;
  }
  return true;
}

bool ReadRows(JpegDecoderState* s, uint8_t* data, size_t stride, bool buffered) {
  if (setjmp(s->err.jump)) return false;
  jpeg_decompress_struct& cinfo = s->cinfo;
  if (buffered && !jpeg_start_output(&cinfo, cinfo.input_scan_number)) return false;
  JSAMPROW rows[kRowsPerRead];
  while (cinfo.output_scanline < cinfo.output_height) {
    JDIMENSION first = cinfo.output_scanline;
    JDIMENSION count = cinfo.output_height - first;
    if (count > kRowsPerRead) count = kRowsPerRead;
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = data + stride * (first + i);
    if (jpeg_read_scanlines(&cinfo, rows, count) == 0) return false;
  }
  return !s->src.hit_end;
}

// Owns the libjpeg decompressor.
class JpegDecoder {
 public:
  explicit JpegDecoder(Source& source) : state_(new JpegDecoderState()) {
    state_->src.cursor.source = &source;
  }
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;
  ~JpegDecoder() {
    if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
  }
  JpegDecoderState* state() { return state_.get(); }

 private:
  std::unique_ptr<JpegDecoderState> state_;
};

int DivideUp(int value, int by) { return (value + by - 1) / by; }

// Adobe's CMYK and YCCK store inverted inks, so C*K/255 is already the red of the pixel.
void CmykToRgb(Pixmap* image, bool inverted) {
  for (int y = 0; y < image->height; ++y) {
    uint8_t* row = image->Row(y);
    const uint8_t* in = row;
    uint8_t* out = row;
    for (int x = 0; x < image->width; ++x, in += 4, out += 3) {
      int c = in[0], m = in[1], ye = in[2], k = in[3];
      if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        ye = 255 - ye;
        k = 255 - k;
      }
      out[0] = static_cast<uint8_t>((c * k + 127) / 255);
      out[1] = static_cast<uint8_t>((m * k + 127) / 255);
      out[2] = static_cast<uint8_t>((ye * k + 127) / 255);
    }
  }
  image->channels = 3;
}

}  // namespace

int JpegScaleDenominator(int width, int height, DecodeTarget target) {
  if (target.width <= 0 || target.height <= 0) return 1;
  for (int d : {8, 4, 2}) {
    if (DivideUp(width, d) >= kShrinkMargin * target.width &&
        DivideUp(height, d) >= kShrinkMargin * target.height) {
      return d;
    }
  }
  return 1;
}

bool JpegReadInfo(Source& source, const Limits& limits, ImageInfo* info) {
  JpegDecoder decoder(source);
  JpegDecoderState* s = decoder.state();
  if (!CreateAndReadHeader(s, true)) return false;
  const jpeg_decompress_struct& cinfo = s->cinfo;
  if (!limits.AllowsSize(cinfo.image_width, cinfo.image_height)) return false;
  info->format = Format::kJpeg;
  info->width = static_cast<int>(cinfo.image_width);
  info->height = static_cast<int>(cinfo.image_height);
  info->grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  info->bits = info->grey ? 8 : 24;
  info->has_alpha = false;
  info->orientation = 1;
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
        std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      info->orientation = ExifOrientation(m->data, m->data_length);
      break;
    }
  }
  return true;
}

bool JpegDecode(Source& source, const ImageInfo& info, DecodeTarget target, PixelBuffer* buffer,
                Pixmap* out) {
  JpegDecoder decoder(source);
  JpegDecoderState* s = decoder.state();
  if (!CreateAndReadHeader(s, false)) return false;
  const int denominator = JpegScaleDenominator(info.width, info.height, target);
  const bool progressive = s->cinfo.progressive_mode;
  // At 1/8 the inverse DCT reads nothing but the DC coefficient of each block.
  const bool dc_only = progressive && denominator == 8;
  if (!StartDecode(s, denominator, progressive, dc_only)) return false;
  if (progressive && !ConsumeScans(s, dc_only)) return false;
  const jpeg_decompress_struct& cinfo = s->cinfo;
  const int channels = cinfo.out_color_components;
  if (channels != 1 && channels != 3 && channels != 4) return false;
  if (!out->Allocate(buffer, static_cast<int>(cinfo.output_width),
                     static_cast<int>(cinfo.output_height), channels)) {
    return false;
  }
  if (!ReadRows(s, out->data, out->stride, progressive)) return false;
  if (channels == 4) CmykToRgb(out, cinfo.saw_Adobe_marker);
  return true;
}

}  // namespace rasterkit
