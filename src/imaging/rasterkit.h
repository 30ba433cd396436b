// The imaging library's interface: the only way the thumbnail service reaches image data.
#pragma once

#include <cstdint>

extern "C" {

// An image loaded by InitImageObject; opaque to callers, never shared between threads.
typedef struct RasterkitImage* ImageHandle;

// Loads the image file at `path` (format found from its content). `hdc` is always null; the two
// integers are -1. Returns null when the file cannot be loaded as an image. The caller releases
// the handle with DeleteImageObject.
ImageHandle InitImageObject(const char* path, void* hdc, int32_t a, int32_t b);

// The image's current width and height in pixels, and bits per pixel (1, 4, 8, 24 or 32).
int32_t GetWidth(ImageHandle image);
int32_t GetHeight(ImageHandle image);
int32_t GetNumBits(ImageHandle image);

// Converts the image in place to 24 bits per pixel (colour, alpha composed over white) or to
// 8 (a palette of at most 256 colours made from the final pixels). Returns 1, or 0 for any
// other depth, leaving the image unchanged.
int32_t ChangeImageFormat(ImageHandle image, int32_t bits);

// JPEG quality of a later Save: 1 to 100; 0 or less selects 75, more than 100 is 100.
void SetQuality(ImageHandle image, int32_t quality);

// Resamples the image to exactly width x height. Returns 1, or 0 when either is below 1
// (the image unchanged).
int32_t Stretch(ImageHandle image, int32_t width, int32_t height);

// Writes the image to `path` by its ending: .jpg/.jpeg a JPEG, .gif a GIF89a, else a PNG.
// `flags` is -1. Returns 1 on success, 0 on failure (no file left behind).
int32_t Save(ImageHandle image, const char* path, int32_t flags);

// Releases the handle and the image. A null handle is ignored.
void DeleteImageObject(ImageHandle image);

}  // extern "C"
