// The whole service through libparvix.so's exported entry point and the real imaging library.
#include <gtest/gtest.h>

#include <png.h>

#include <thread>

#include "../rasterkit/test_images.h"
#include "fake_server.h"
#include "isapi.h"
#include "temp_dir.h"
#include "test_images.h"

namespace {

using test_images::Size;

// Percent-encodes a path the way a client would put it in the query text.
std::string Encode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == ' ') {
      out += '+';
    } else if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

class ThumbnailServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    images_ = tmp_images_.path();
    ASSERT_TRUE(rktest::WriteBytes(images_ + "/my photo.jpg",
                                   rktest::MakeJpeg(400, 300, rktest::JpegKind::kColour)));
    ASSERT_TRUE(rktest::WriteBytes(images_ + "/wide.png",
                                   rktest::MakePng(640, 480, PNG_COLOR_TYPE_RGB, 8)));
  }
  ScopedTempDir tmp_images_;
  std::string images_;
};

struct ServedCase {
  const char* format;
  const char* file;
  Size (*size_of)(const std::string&);
  Size expected;
};

TEST_F(ThumbnailServiceTest, AnswersWithTheThumbnailBytesBeforeThe200Header) {
  const ServedCase cases[] = {
      {"JPG:75", "my photo.jpg", test_images::JpegSize, {120, 90}},
      {"GIF:0", "my photo.jpg", test_images::GifSize, {120, 90}},
      // The width ratio is held in single precision: 640 x 480 in 120 x 90 gives 119 x 89.
      {"jpg:90", "wide.png", test_images::JpegSize, {119, 89}},
      {"gif:", "wide.png", test_images::GifSize, {119, 89}},
      {"PNG:75", "wide.png", test_images::PngSize, {119, 89}},
  };
  for (const ServedCase& c : cases) {
    ScopedTempDir tmp;
    std::string query =
        std::string("120:90;") + c.format + ";" + Encode(images_ + "/" + c.file) + ";";
    CFakeServer server("GET", query.c_str());
    EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_SUCCESS) << query;
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, 200u);
    WIRE_RESPONSE wire = server.Wire();
    EXPECT_EQ(wire.strStatusLine, "200 OK");
    EXPECT_EQ(c.size_of(wire.strBody), c.expected) << query;
    ASSERT_FALSE(server.Calls().empty());
    EXPECT_EQ(server.Calls().front().nKind, FAKE_CALL::WRITE) << "the bytes come first";
    EXPECT_EQ(server.Calls().back().nKind, FAKE_CALL::HEADER);
    EXPECT_TRUE(tmp.Entries().empty()) << query;
  }
}

TEST_F(ThumbnailServiceTest, AMissingImageGetsTheNotFoundPage) {
  ScopedTempDir tmp;
  std::string query = "120:90;JPG:75;" + Encode(images_ + "/none.jpg") + ";";
  CFakeServer server("GET", query.c_str());
  HttpExtensionProc(server.Ecb());
  WIRE_RESPONSE wire = server.Wire();
  EXPECT_EQ(wire.strStatusLine, "404 Not Found");
  EXPECT_NE(wire.strBody.find("The requested URL was not found on this server."),
            std::string::npos);
  EXPECT_TRUE(tmp.Entries().empty());
}

TEST_F(ThumbnailServiceTest, ConcurrentRequestsEachGetTheirOwnThumbnail) {
  ScopedTempDir tmp;
  struct Job {
    std::string query;
    Size (*size_of)(const std::string&);
    Size expected;
  };
  std::vector<Job> jobs;
  for (int i = 0; i < 32; ++i) {
    int bound = 40 + i * 5;  // a different box for every request
    bool gif = i % 2 == 1;
    bool png_source = i % 4 >= 2;
    int w = png_source ? 640 : 400, h = png_source ? 480 : 300;
    // Every box is square, so the width sets the scale (ties go to the height ratio).
    float width_ratio = static_cast<float>(static_cast<double>(w) / bound);
    double height_ratio = static_cast<double>(h) / bound;
    double scale = width_ratio > height_ratio ? width_ratio : height_ratio;
    Size expected{static_cast<int>(w / scale), static_cast<int>(h / scale)};
    std::string file = png_source ? "/wide.png" : "/my photo.jpg";
    jobs.push_back({std::to_string(bound) + ":" + std::to_string(bound) + ";" +
                        (gif ? "GIF:0;" : "JPG:80;") + Encode(images_ + file) + ";",
                    gif ? test_images::GifSize : test_images::JpegSize, expected});
  }
  std::vector<Size> got(jobs.size());
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (size_t j = static_cast<size_t>(t); j < jobs.size(); j += 8) {
        CFakeServer server("GET", jobs[j].query.c_str());
        HttpExtensionProc(server.Ecb());
        got[j] = jobs[j].size_of(server.Wire().strBody);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (size_t j = 0; j < jobs.size(); ++j) EXPECT_EQ(got[j], jobs[j].expected) << jobs[j].query;
  EXPECT_TRUE(tmp.Entries().empty());
}

}  // namespace
