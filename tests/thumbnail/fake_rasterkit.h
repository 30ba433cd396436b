// A recording stand-in for the imaging library, linked into tests instead of librasterkit.so.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "rasterkit.h"

namespace fake_rasterkit {

// What an image path loads as; paths not registered fail to load.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits = 24;
};

// What Save does: write `save_bytes` bytes at the path (1; sparse past 1 GiB), or write nothing
// and fail (0).
struct Script {
  std::map<std::string, Image> images;
  bool save_succeeds = true;
  size_t save_bytes = 16;
};

// Resets the calling thread's script and call log. Each thread has its own.
void Reset(Script script);

// The calls made on this thread since Reset, one text each, e.g. "ChangeImageFormat(24)",
// "Save(/tmp/Par1a.jpg)"; InitImageObject records its path.
const std::vector<std::string>& Calls();

// Handles created and not yet deleted on this thread.
int LiveHandles();

}  // namespace fake_rasterkit
