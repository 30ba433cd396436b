// Tests of the GIF writer: giflib reads back the size, palette, transparency and every index.
#include "gif_save.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace rasterkit {
namespace {

struct Reader {
  const std::vector<uint8_t>* data;
  size_t pos = 0;
};

int ReadInput(GifFileType* gif, GifByteType* buf, int length) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const size_t n = std::min(static_cast<size_t>(length), r->data->size() - r->pos);
  std::memcpy(buf, r->data->data() + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

struct GifFree {
  void operator()(GifFileType* gif) const {
    int error;
    DGifCloseFile(gif, &error);
  }
};

IndexedImage Sample(int width, int height, int colours, int transparent_index) {
  IndexedImage image;
  image.width = width;
  image.height = height;
  for (int i = 0; i < colours; ++i) {
    image.palette.push_back(Rgb{static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i),
                                static_cast<uint8_t>(i * 101)});
  }
  image.transparent_index = transparent_index;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.indices.push_back((x * 5 + y * 3) % colours);
  }
  return image;
}

TEST(EncodeGifTest, GiflibReadsBackWhatWasWritten) {
  const struct {
    const char* name;
    IndexedImage image;
    int map_size;
  } cases[] = {
      {"two colours", Sample(17, 3, 2, -1), 2},
      {"one colour pads to two", Sample(5, 5, 1, -1), 2},
      {"three colours and transparency", Sample(120, 90, 3, 1), 4},
      {"full palette, transparent last", Sample(200, 150, 256, 255), 256},
      {"129 colours pad to 256", Sample(1, 1, 129, -1), 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(EncodeGif(c.image, &bytes));
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");

    Reader reader{&bytes};
    int error = 0;
    std::unique_ptr<GifFileType, GifFree> gif(DGifOpen(&reader, ReadInput, &error));
    ASSERT_TRUE(gif);
    ASSERT_EQ(DGifSlurp(gif.get()), GIF_OK);
    EXPECT_EQ(gif->SWidth, c.image.width);
    EXPECT_EQ(gif->SHeight, c.image.height);
    ASSERT_EQ(gif->ImageCount, 1);
    const ColorMapObject* map = gif->SColorMap;
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->ColorCount, c.map_size);
    for (size_t i = 0; i < c.image.palette.size(); ++i) {
      EXPECT_EQ(map->Colors[i].Red, c.image.palette[i].r);
      EXPECT_EQ(map->Colors[i].Green, c.image.palette[i].g);
      EXPECT_EQ(map->Colors[i].Blue, c.image.palette[i].b);
    }
    GraphicsControlBlock control;
    const bool has_control = DGifSavedExtensionToGCB(gif.get(), 0, &control) == GIF_OK;
    EXPECT_EQ(has_control, c.image.transparent_index >= 0);
    if (has_control) {
      EXPECT_EQ(control.TransparentColor, c.image.transparent_index);
    }
    const SavedImage& frame = gif->SavedImages[0];
    ASSERT_EQ(frame.ImageDesc.Width, c.image.width);
    ASSERT_EQ(frame.ImageDesc.Height, c.image.height);
    EXPECT_EQ(std::vector<uint8_t>(frame.RasterBits, frame.RasterBits + c.image.indices.size()),
              c.image.indices);
  }
}

TEST(EncodeGifTest, RefusesInconsistentImages) {
  IndexedImage index_outside = Sample(4, 4, 3, -1);
  index_outside.indices[5] = 3;
  IndexedImage no_palette = Sample(4, 4, 1, -1);
  no_palette.palette.clear();
  IndexedImage big_palette = Sample(4, 4, 200, -1);
  big_palette.palette.resize(257);
  IndexedImage short_indices = Sample(4, 4, 2, -1);
  short_indices.indices.pop_back();
  IndexedImage transparent_outside = Sample(4, 4, 2, 2);
  IndexedImage empty;
  for (const IndexedImage* image :
       {&index_outside, &no_palette, &big_palette, &short_indices, &transparent_outside, &empty}) {
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(EncodeGif(*image, &bytes));
  }
  EXPECT_FALSE(EncodeGif(Sample(2, 2, 2, -1), nullptr));
}

}  // namespace
}  // namespace rasterkit
