// The imaging library on eight threads at once, each with its own handles (run under TSan).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "src/imaging/rasterkit.h"
#include "test_images.h"

namespace {

namespace fs = std::filesystem;

struct HandleDeleter {
  void operator()(RasterkitImage* h) const { DeleteImageObject(h); }
};
using Handle = std::unique_ptr<RasterkitImage, HandleDeleter>;

TEST(RasterkitThreads, EightThreadsWorkOnTheirOwnHandlesAtOnce) {
  std::string pattern = (fs::temp_directory_path() / "rasterkit-threads-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  auto put = [&](const char* name, const rktest::Bytes& bytes) {
    const std::string path = (dir / name).string();
    EXPECT_TRUE(rktest::WriteBytes(path, bytes));
    return path;
  };
  const std::string inputs[] = {
      put("a.jpg", rktest::MakeJpeg(640, 480, rktest::JpegKind::kColour)),
      put("b.jpg", rktest::MakeJpeg(640, 480, rktest::JpegKind::kProgressive)),
      put("c.png", rktest::MakePng(320, 240, 6 /* RGBA */, 8)),
      put("d.webp", rktest::MakeWebp(320, 240, false, true)),
  };
  const char* endings[] = {".jpg", ".gif", ".png"};
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 6; ++round) {
        const std::string out = (dir / ("t" + std::to_string(t) + "_" + std::to_string(round) +
                                        endings[(t + round) % 3]))
                                    .string();
        Handle h(InitImageObject(inputs[(t + round) % 4].c_str(), nullptr, -1, -1));
        if (h == nullptr) {
          ++failures[t];
          continue;
        }
        if ((t + round) % 3 == 1) ChangeImageFormat(h.get(), 8);
        SetQuality(h.get(), 70);
        if (Stretch(h.get(), 120, 90) != 1 || Save(h.get(), out.c_str(), -1) != 1 ||
            !fs::exists(out)) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << t;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4 + 8 * 6);
  fs::remove_all(dir);
}

}  // namespace
