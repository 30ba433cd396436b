// The silent, longjmp-based libjpeg error manager.
#include "jpeg_common.h"

namespace rasterkit {
namespace {

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

extern "C" void JpegOutputMessage(j_common_ptr) {}

extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) cinfo->err->num_warnings++;
}

}  // namespace

jpeg_error_mgr* InitJpegErrors(JpegErrorManager* err) {
  jpeg_error_mgr* pub = jpeg_std_error(&err->pub);
  pub->error_exit = JpegErrorExit;
  pub->output_message = JpegOutputMessage;
  pub->emit_message = JpegEmitMessage;
  return pub;
}

}  // namespace rasterkit
