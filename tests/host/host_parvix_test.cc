// libparvix.so served by parvix-host, end to end over real HTTP on loopback.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "host_process.h"

namespace host_test {
namespace {

constexpr char kImages[] = "/usr/share/backgrounds/mate/nature";

// Width and height from a JPEG's frame header; {0, 0} when there is none.
std::pair<int, int> JpegSize(const std::string& bytes) {
  size_t i = 2;
  while (i + 9 < bytes.size() && static_cast<unsigned char>(bytes[i]) == 0xFF) {
    unsigned marker = static_cast<unsigned char>(bytes[i + 1]);
    size_t length =
        (static_cast<unsigned char>(bytes[i + 2]) << 8) | static_cast<unsigned char>(bytes[i + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      auto u16 = [&](size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 8) |
               static_cast<unsigned char>(bytes[at + 1]);
      };
      return {u16(i + 7), u16(i + 5)};
    }
    i += 2 + length;
  }
  return {0, 0};
}

class HostParvix : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { host_ = new HostProcess({"--images", kImages, "--threads", "2"}); }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(host_->started()) << host_->Log(); }
  static std::string Photo() { return std::string(kImages) + "/Aqua.jpg"; }

  static HostProcess* host_;
  Client client_;
};
HostProcess* HostParvix::host_ = nullptr;

TEST_F(HostParvix, ThumbnailGetIsAJpegOfTheFittedSizeWithItsHeaders) {
  std::ifstream in(Photo(), std::ios::binary);
  std::string source((std::istreambuf_iterator<char>(in)), {});
  auto [sw, sh] = JpegSize(source);
  ASSERT_GT(sw, 0);
  Reply reply = client_.Fetch(host_->Url("/parvix?120:90;JPG:75;" + Photo() + ";"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("content-type"), "image/jpeg");
  EXPECT_EQ(reply.Header("content-length"), std::to_string(reply.body.size()));
  auto [w, h] = JpegSize(reply.body);
  EXPECT_LE(w, 120);
  EXPECT_LE(h, 90);
  EXPECT_TRUE(w >= 119 || h >= 89) << w << "x" << h;
  EXPECT_NEAR(static_cast<double>(w) / h, static_cast<double>(sw) / sh, 0.05);
  EXPECT_TRUE(ListDir(host_->temp_dir()).empty());
}

TEST_F(HostParvix, PostWithTheCommandFieldMakesTheSameThumbnail) {
  Reply get = client_.Fetch(host_->Url("/parvix?120:90;JPG:75;" + Photo() + ";"));
  Reply post = client_.Fetch(host_->Url("/parvix"),
                             Post("MfcISAPICommand=Default&120:90;JPG:75;" + Photo() + ";"));
  EXPECT_EQ(post.status, 200);
  EXPECT_EQ(JpegSize(post.body), JpegSize(get.body));
}

TEST_F(HostParvix, ErrorsAreAnsweredWithTheirPages) {
  const struct {
    std::string target;
    std::string method;
    long status;
  } kCases[] = {
      {"/parvix?120:90;JPG:75;" + std::string(kImages) + "/missing.jpg;", "GET", 404},
      {"/parvix?", "GET", 400},
      {"/parvix?a&b", "GET", 400},
      {"/parvix?Thumb", "POST", 501},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target);
    Request request = c.method == "POST" ? Post("") : Request{};
    Reply reply = client_.Fetch(host_->Url(c.target), request);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.Header("content-type"), "text/html");
    EXPECT_NE(reply.body.find("</body></html>"), std::string::npos);
  }
}

TEST_F(HostParvix, HeadAndKeepAliveServeThumbnailsOnOneConnection) {
  std::string url = host_->Url("/parvix?120:90;JPG:75;" + Photo() + ";");
  Reply head = client_.Fetch(url, Head());
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.body, "");
  EXPECT_EQ(head.Header("content-type"), "image/jpeg");
  long opened = head.new_connections;
  for (int i = 0; i < 3; ++i) {
    Reply reply = client_.Fetch(url);
    EXPECT_EQ(reply.Header("content-length"), head.Header("content-length"));
    opened += reply.new_connections;
  }
  EXPECT_EQ(opened, 1);
}

TEST_F(HostParvix, TwoMebibyteBodyIsRefused) {
  Reply reply = client_.Fetch(host_->Url("/parvix"), Post(std::string(2 << 20, 'x')));
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(reply.Header("connection"), "close");
  EXPECT_TRUE(ListDir(host_->temp_dir()).empty());
}

}  // namespace
}  // namespace host_test
