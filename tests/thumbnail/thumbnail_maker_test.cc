// The thumbnail maker against a recording imaging fake: calls, readings, fitting, files.
#include "thumbnail_maker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "afx.h"
#include "fake_rasterkit.h"
#include "temp_dir.h"

namespace {

const char kPhoto[] = "/images/photo.jpg";

fake_rasterkit::Script OneImage(int32_t width, int32_t height, int32_t bits) {
  fake_rasterkit::Script script;
  script.images[kPhoto] = {width, height, bits};
  return script;
}

std::string Stem(const std::string& path) { return path.substr(0, path.rfind('.')); }

struct FormatCase {
  const char* format;
  int32_t bits;
  std::vector<std::string> conversions;  // the calls between InitImageObject and GetWidth
  const char* extension;                 // of the thumbnail path; "" = the placeholder itself
};

class MakerFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(MakerFormatTest, ConvertsForTheFormatTextAndSavesBesideThePlaceholder) {
  const FormatCase& c = GetParam();
  ScopedTempDir tmp;
  fake_rasterkit::Reset(OneImage(40, 30, c.bits));
  std::string placeholder = "untouched";
  std::string thumbnail = MakeThumbnail("50", "50", c.format, "75", kPhoto, placeholder);

  std::vector<std::string> expected = {std::string("InitImageObject(") + kPhoto + ",null,-1,-1)"};
  expected.insert(expected.end(), c.conversions.begin(), c.conversions.end());
  expected.insert(expected.end(), {"GetWidth", "GetHeight", "Stretch(40,30)",
                                   "Save(" + thumbnail + ",-1)", "DeleteImageObject"});
  EXPECT_EQ(fake_rasterkit::Calls(), expected);
  EXPECT_EQ(fake_rasterkit::LiveHandles(), 0);

  // The placeholder is an empty file of our prefix in the temporary directory.
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::path(placeholder).parent_path(), fs::path(tmp.path()));
  EXPECT_EQ(fs::path(placeholder).filename().string().substr(0, 3), "Par");
  EXPECT_EQ(fs::path(placeholder).extension(), ".tmp");
  EXPECT_TRUE(fs::is_regular_file(placeholder));
  if (*c.extension == '\0') {
    EXPECT_EQ(thumbnail, placeholder);
  } else {
    EXPECT_EQ(fs::file_size(placeholder), 0u);
    EXPECT_EQ(Stem(thumbnail), Stem(placeholder));
    EXPECT_EQ(fs::path(thumbnail).extension(), c.extension);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FormatTexts, MakerFormatTest,
    ::testing::Values(
        FormatCase{"jpg", 8, {"GetNumBits", "ChangeImageFormat(24)", "SetQuality(75)"}, ".jpg"},
        FormatCase{"JPG", 24, {"GetNumBits", "SetQuality(75)"}, ".jpg"},
        FormatCase{
            "image/Jpg", 32, {"GetNumBits", "ChangeImageFormat(24)", "SetQuality(75)"}, ".jpg"},
        FormatCase{"gif", 24, {"GetNumBits", "ChangeImageFormat(8)"}, ".gif"},
        FormatCase{"GIF", 8, {"GetNumBits"}, ".gif"},
        FormatCase{"JPG GIF",
                   8,
                   {"GetNumBits", "ChangeImageFormat(24)", "SetQuality(75)", "GetNumBits",
                    "ChangeImageFormat(8)"},
                   ".gif"},
        FormatCase{"JPEG", 8, {}, ""}, FormatCase{"PNG", 24, {}, ""}));

TEST(MakerQualityTest, ReadsTheQualityTextAsADecimal) {
  const std::pair<const char*, int32_t> cases[] = {
      {"high", 0}, {"", 0}, {" 75", 75}, {"120px", 120}, {"-3", -3}};
  for (const auto& [text, quality] : cases) {
    ScopedTempDir tmp;
    fake_rasterkit::Reset(OneImage(40, 30, 24));
    std::string placeholder;
    MakeThumbnail("50", "50", "JPG", text, kPhoto, placeholder);
    const auto& calls = fake_rasterkit::Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetQuality(" + std::to_string(quality) + ")"),
              calls.end())
        << "quality text '" << text << "'";
  }
}

TEST(MakerFailureTest, AnImageThatCannotLoadGivesNothingAndTouchesNothing) {
  ScopedTempDir tmp;
  fake_rasterkit::Reset(OneImage(40, 30, 24));
  std::string placeholder = "as passed";
  EXPECT_EQ(MakeThumbnail("50", "50", "JPG", "75", "/images/missing.jpg", placeholder), "");
  EXPECT_EQ(placeholder, "as passed");
  EXPECT_EQ(fake_rasterkit::Calls(),
            std::vector<std::string>{"InitImageObject(/images/missing.jpg,null,-1,-1)"});
  EXPECT_TRUE(tmp.Entries().empty());
}

TEST(MakerFailureTest, NoTemporaryNameIsAFileErrorThatReleasesTheImage) {
  ScopedTempDir tmp;
  // A directory in which nobody, root included, can create a file.
  setenv("TMPDIR", "/proc/self", 1);
  fake_rasterkit::Reset(OneImage(40, 30, 24));
  std::string placeholder = "as passed";
  EXPECT_THROW(MakeThumbnail("50", "50", "JPG", "75", kPhoto, placeholder), CFileException);
  EXPECT_EQ(placeholder, "as passed");
  EXPECT_EQ(fake_rasterkit::LiveHandles(), 0);
  EXPECT_EQ(fake_rasterkit::Calls().back(), "DeleteImageObject");
}

TEST(MakerFitTest, StretchesToTheFittedSize) {
  struct Case {
    int32_t width, height;
    const char* width_text;
    const char* height_text;
    const char* stretch;
  };
  const Case cases[] = {
      {100, 80, "50", "50", "Stretch(50,40)"},
      {60, 60, "50", "50", "Stretch(49,49)"},
      {60, 40, "50", "50", "Stretch(49,33)"},
      {40, 55, "50", "50", "Stretch(36,49)"},
      {100, 20, "50", "50", "Stretch(50,10)"},
      {20, 100, "50", "50", "Stretch(10,50)"},
      {40, 30, "50", "50", "Stretch(40,30)"},
      {40, 30, "0", "50", "Stretch(0,0)"},
      {40, 30, "", "50", "Stretch(0,0)"},
      {40, 30, "50", "abc", "Stretch(0,0)"},
      {100, 50, "-10", "50", "Stretch(100,50)"},
      {100, 50, "-30", "-20", "Stretch(-40,-20)"},
      {1000, 800, "120px", " 80", "Stretch(100,80)"},
  };
  for (const Case& c : cases) {
    ScopedTempDir tmp;
    fake_rasterkit::Reset(OneImage(c.width, c.height, 24));
    std::string placeholder;
    MakeThumbnail(c.width_text, c.height_text, "JPG", "75", kPhoto, placeholder);
    const auto& calls = fake_rasterkit::Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), c.stretch), calls.end())
        << c.width << "x" << c.height << " in " << c.width_text << "x" << c.height_text;
  }
}

TEST(ReadDecimalTest, ReadsAsTheDecimalScanConversionDoes) {
  const std::pair<const char*, int32_t> cases[] = {
      {"75", 75},
      {"  \t12x", 12},
      {"+7", 7},
      {"-5", -5},
      {"", 0},
      {"px120", 0},
      {"-", 0},
      {"+-3", 0},
      {"2147483647", 2147483647},
      {"2147483648", -2147483647 - 1},
      {"4294967297", 1},
      {"-4294967295", 1},
      {"\n 0009", 9},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ReadDecimal(text), value) << "'" << text << "'";
}

TEST(FitToBoundsTest, AQuotientOutside32BitsKeepsItsLow32Bits) {
  int32_t width = 0, height = 0;
  // The height ratio, nearly zero, wins over the width ratio of -100000: the width quotient
  // is about -2.1e14 and keeps the low 32 bits of its 64-bit truncation.
  FitToBounds(100000, 1, -1, -2147483647, &width, &height);
  double scale = 1.0 / -2147483647.0;
  auto whole = static_cast<int64_t>(100000 / scale);
  ASSERT_LT(whole, -(int64_t{1} << 40));
  EXPECT_EQ(width, static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole))));
  EXPECT_EQ(height, -2147483647);
}

}  // namespace
