// The nine exported functions: the C boundary over rasterkit::Image; nothing escapes it.
#include "src/imaging/rasterkit.h"

#include <memory>

#include "image.h"

#define RASTERKIT_EXPORT __attribute__((visibility("default")))

struct RasterkitImage {
  std::unique_ptr<rasterkit::Image> image;
};

extern "C" {

RASTERKIT_EXPORT ImageHandle InitImageObject(const char* path, void*, int32_t, int32_t) {
  try {
    std::unique_ptr<rasterkit::Image> image = rasterkit::Image::Open(path);
    if (!image) return nullptr;
    return new RasterkitImage{std::move(image)};
  } catch (...) {
    return nullptr;
  }
}

RASTERKIT_EXPORT int32_t GetWidth(ImageHandle handle) {
  return handle != nullptr ? handle->image->width() : 0;
}

RASTERKIT_EXPORT int32_t GetHeight(ImageHandle handle) {
  return handle != nullptr ? handle->image->height() : 0;
}

RASTERKIT_EXPORT int32_t GetNumBits(ImageHandle handle) {
  return handle != nullptr ? handle->image->bits() : 0;
}

RASTERKIT_EXPORT int32_t ChangeImageFormat(ImageHandle handle, int32_t bits) {
  return handle != nullptr && handle->image->ChangeFormat(bits) ? 1 : 0;
}

RASTERKIT_EXPORT void SetQuality(ImageHandle handle, int32_t quality) {
  if (handle != nullptr) handle->image->SetQuality(quality);
}

RASTERKIT_EXPORT int32_t Stretch(ImageHandle handle, int32_t width, int32_t height) {
  return handle != nullptr && handle->image->Stretch(width, height) ? 1 : 0;
}

RASTERKIT_EXPORT int32_t Save(ImageHandle handle, const char* path, int32_t) {
  try {
    return handle != nullptr && handle->image->Save(path) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

RASTERKIT_EXPORT void DeleteImageObject(ImageHandle handle) { delete handle; }

}  // extern "C"
