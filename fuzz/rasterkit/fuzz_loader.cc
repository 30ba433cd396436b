// One loader's fuzz target (RASTERKIT_FUZZ_MAGIC names its format): bytes in memory are opened,
// stretched, converted and encoded, as a thumbnail request would drive them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image.h"

namespace {

constexpr char kMagic[] = RASTERKIT_FUZZ_MAGIC;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Keeps every input's memory small enough for many runs a second.
  setenv("RASTERKIT_MAX_PIXELS", "4000000", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t magic = sizeof kMagic - 1;
  if (size < magic + 1 || std::memcmp(data, kMagic, magic) != 0) return -1;
  // The last byte picks the target, depth and output; the rest is the file.
  const uint8_t knobs = data[size - 1];
  std::unique_ptr<rasterkit::Image> image = rasterkit::Image::FromMemory(data, size);
  if (!image) return 0;
  if (knobs & 1) image->ChangeFormat(24);
  if (knobs & 2) image->ChangeFormat(8);
  image->SetQuality(knobs);
  const int width = image->width(), height = image->height();
  if (knobs & 4) {
    image->Stretch(1 + (knobs >> 3) % 16, 1 + (knobs >> 5));
  } else if (width > 64 || height > 64) {
    image->Stretch(width > 64 ? 64 : width, height > 64 ? 64 : height);
  }
  static constexpr rasterkit::OutputFormat kOutputs[] = {
      rasterkit::OutputFormat::kJpeg, rasterkit::OutputFormat::kPng, rasterkit::OutputFormat::kGif};
  std::vector<uint8_t> out;
  image->Encode(kOutputs[(knobs >> 6) % 3], &out);
  return 0;
}
