// Cutting the five fields out of the thumbnail parameter text.
#include "field_cutter.h"

#include <gtest/gtest.h>

namespace {

struct CutCase {
  const char* param;
  const char* width;
  const char* height;
  const char* format;
  const char* quality;
  const char* path;
};

TEST(FieldCutterTest, EachFieldEndsAtTheFirstSeparatorOfWhatIsLeft) {
  const CutCase cases[] = {
      {"120:90;JPG:75;d:\\photos\\beach.jpg;", "120", "90", "JPG", "75", "d:\\photos\\beach.jpg"},
      {"120:90;JPG:75;d:\\photos\\beach.jpg", "120", "90", "JPG", "75", ""},
      {"120:90;JPG:75;d:\\photos\\beach.jpg;x;y", "120", "90", "JPG", "75",
       "d:\\photos\\beach.jpg"},
      {"", "", "", "", "", ""},
      {"120;JPG:75;d:\\photos\\beach.jpg;", "120;JPG", "75", "d", "\\photos\\beach.jpg", ""},
      {"120:90;GIF;d:\\photos\\beach.gif;", "120", "90", "GIF;d", "\\photos\\beach.gif", ""},
      {"120:90:50;JPG:75;d:\\p.jpg;", "120", "90:50", "JPG", "75", "d:\\p.jpg"},
      {"120:90;JPG:75;d:\\a;b\\x.jpg;", "120", "90", "JPG", "75", "d:\\a"},
      {"120:90", "120", "", "", "", ""},
      {":;:;;", "", "", "", "", ""},
  };
  for (const CutCase& c : cases) {
    THUMBNAIL_FIELDS f = CutThumbnailFields(c.param);
    EXPECT_EQ(f.strWidth, c.width) << c.param;
    EXPECT_EQ(f.strHeight, c.height) << c.param;
    EXPECT_EQ(f.strFormat, c.format) << c.param;
    EXPECT_EQ(f.strQuality, c.quality) << c.param;
    EXPECT_EQ(f.strImagePath, c.path) << c.param;
  }
}

TEST(FieldCutterTest, LeavesTheCallersTextAloneAndReadsNullAsEmpty) {
  char param[] = "1:2;JPG:3;/x.jpg;";
  CutThumbnailFields(param);
  EXPECT_STREQ(param, "1:2;JPG:3;/x.jpg;");
  EXPECT_EQ(CutThumbnailFields(nullptr).strImagePath, "");
}

}  // namespace
