// A recording stand-in for the imaging library: per-thread scripts, a text per call.
#include "fake_rasterkit.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

struct RasterkitImage {
  fake_rasterkit::Image image;
};

namespace fake_rasterkit {
namespace {

struct State {
  Script script;
  std::vector<std::string> calls;
  int live = 0;
};

State& ThreadState() {
  thread_local State state;
  return state;
}

void Record(std::string call) { ThreadState().calls.push_back(std::move(call)); }

}  // namespace

void Reset(Script script) {
  ThreadState().script = std::move(script);
  ThreadState().calls.clear();
  ThreadState().live = 0;
}

const std::vector<std::string>& Calls() { return ThreadState().calls; }

int LiveHandles() { return ThreadState().live; }

}  // namespace fake_rasterkit

using fake_rasterkit::Record;
using fake_rasterkit::ThreadState;

extern "C" {

ImageHandle InitImageObject(const char* path, void* hdc, int32_t a, int32_t b) {
  Record("InitImageObject(" + std::string(path) + "," + (hdc ? "dc" : "null") + "," +
         std::to_string(a) + "," + std::to_string(b) + ")");
  auto& images = ThreadState().script.images;
  auto found = images.find(path);
  if (found == images.end()) return nullptr;
  ++ThreadState().live;
  return new RasterkitImage{found->second};
}

int32_t GetWidth(ImageHandle image) {
  Record("GetWidth");
  return image->image.width;
}

int32_t GetHeight(ImageHandle image) {
  Record("GetHeight");
  return image->image.height;
}

int32_t GetNumBits(ImageHandle image) {
  Record("GetNumBits");
  return image->image.bits;
}

int32_t ChangeImageFormat(ImageHandle image, int32_t bits) {
  Record("ChangeImageFormat(" + std::to_string(bits) + ")");
  image->image.bits = bits;
  return 1;
}

void SetQuality(ImageHandle, int32_t quality) {
  Record("SetQuality(" + std::to_string(quality) + ")");
}

int32_t Stretch(ImageHandle image, int32_t width, int32_t height) {
  Record("Stretch(" + std::to_string(width) + "," + std::to_string(height) + ")");
  if (width < 1 || height < 1) return 0;
  image->image.width = width;
  image->image.height = height;
  return 1;
}

int32_t Save(ImageHandle, const char* path, int32_t flags) {
  Record("Save(" + std::string(path) + "," + std::to_string(flags) + ")");
  const auto& script = ThreadState().script;
  if (!script.save_succeeds) return 0;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "wb"), &std::fclose);
  if (!file) return 0;
  // Sizes past 1 GiB are written as sparse files.
  if (script.save_bytes > (size_t{1} << 30)) {
    return ftruncate(fileno(file.get()), static_cast<off_t>(script.save_bytes)) == 0 ? 1 : 0;
  }
  std::string bytes(script.save_bytes, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
  return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() ? 1 : 0;
}

void DeleteImageObject(ImageHandle image) {
  Record("DeleteImageObject");
  if (image != nullptr) --ThreadState().live;
  delete image;
}

}  // extern "C"
