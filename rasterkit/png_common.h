// libpng glue shared by the PNG loader and saver: silent error and warning handlers.
#pragma once

#include <png.h>

namespace rasterkit {

// libpng error handler: longjmps to png_jmpbuf, printing nothing. Only C-only frames (no objects
// with destructors) may lie between that setjmp and libpng.
extern "C" void PngError(png_structp png, png_const_charp message);
// libpng warning handler: ignores the warning.
extern "C" void PngWarning(png_structp png, png_const_charp message);

}  // namespace rasterkit
