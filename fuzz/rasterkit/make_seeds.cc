// Writes the fuzzers' seed images: small files of every kind the loaders read.
#include <cstdio>
#include <filesystem>
#include <string>

#include "test_images.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  using rktest::JpegKind;
  const fs::path root = argv[1];
  const struct {
    const char* fuzzer;
    const char* name;
    rktest::Bytes bytes;
  } seeds[] = {
      {"jpeg", "colour.jpg", rktest::MakeJpeg(24, 16, JpegKind::kColour)},
      {"jpeg", "grey.jpg", rktest::MakeJpeg(24, 16, JpegKind::kGrey)},
      {"jpeg", "progressive.jpg", rktest::MakeJpeg(24, 16, JpegKind::kProgressive)},
      {"jpeg", "cmyk.jpg", rktest::MakeJpeg(24, 16, JpegKind::kAdobeCmyk)},
      {"jpeg", "rotated.jpg", rktest::MakeJpeg(24, 16, JpegKind::kColour, 6)},
      {"png", "grey1.png", rktest::MakePng(17, 9, 0, 1)},
      {"png", "grey16trns.png", rktest::MakePng(17, 9, 0, 16, true)},
      {"png", "palette.png", rktest::MakePng(17, 9, 3, 4, true)},
      {"png", "rgb.png", rktest::MakePng(17, 9, 2, 8, false, false, 3)},
      {"png", "rgba16.png", rktest::MakePng(17, 9, 6, 16)},
      {"png", "interlaced.png", rktest::MakePng(17, 9, 4, 8, false, true)},
      {"gif", "two.gif", rktest::MakeGif(17, 9, 1, false)},
      {"gif", "transparent.gif", rktest::MakeGif(17, 9, 8, true)},
      {"webp", "lossy.webp", rktest::MakeWebp(24, 16, false, false)},
      {"webp", "lossless.webp", rktest::MakeWebp(24, 16, true, true)},
      {"webp", "rotated.webp", rktest::MakeWebp(24, 16, false, true, 8)},
  };
  for (const auto& seed : seeds) {
    fs::create_directories(root / seed.fuzzer);
    if (!rktest::WriteBytes((root / seed.fuzzer / seed.name).string(), seed.bytes)) return 1;
  }
  return 0;
}
