// libjpeg glue shared by the JPEG loader and saver: a silent error manager that longjmps.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace rasterkit {

// libjpeg reports fatal errors through error_exit, which longjmps to `jump`. Only C-only frames
// (no objects with destructors) may lie between the setjmp and libjpeg.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

// Installs silent message handlers and the longjmp exit into `err`, returns &err->pub.
jpeg_error_mgr* InitJpegErrors(JpegErrorManager* err);

}  // namespace rasterkit
