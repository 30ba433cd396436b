// The silent libpng error and warning handlers.
#include "png_common.h"

namespace rasterkit {

extern "C" void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
extern "C" void PngWarning(png_structp, png_const_charp) {}

}  // namespace rasterkit
