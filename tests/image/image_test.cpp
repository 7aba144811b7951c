// Recognition, probing, naming and saving of picture files.
#include <gtest/gtest.h>

#include <cstring>

#include "imagetest.h"

namespace torvex::test {
namespace {

TEST(ImageFormat, NamesToNumbers) {
  const struct {
    const char* name;
    int16_t number;
  } cases[] = {
      {"jpeg", 3},       {"JPEG", 3},    {"x.jpeg", -1},   {"pic.LBM", 2}, {"pic.iff", 2}, {".png", 5},
      {"png", -1},       {"a.PnG", 5},   {"a.pcx", 4},     {"a.bmp", 0},   {"a.gif", 1},   {"a.jpg", 3},
      {"a.pel", -1},     {"apng", -1},   {"", -1},         {"a.b.tga", -1}, {"dir.x/a.bmp", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(imageformat(c.name), c.number) << c.name;
}

std::vector<uint8_t> bytesof(std::string_view text, size_t size = 0) {
  std::vector<uint8_t> b(text.begin(), text.end());
  if (size > b.size()) b.resize(size, 0);
  return b;
}

TEST(ProbeImage, HeaderFieldsOfEachFormat) {
  auto png = bytesof(std::string_view("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x01\x2c\0\0\0\x07", 24));
  auto bmp = bytesof("BM", 30);
  bmp[18] = 0x34;
  bmp[19] = 0x12;
  bmp[22] = 9;
  auto pcx = bytesof("\x0a\x05", 128);
  pcx[4] = 5;    // the minimum x does not count
  pcx[8] = 9;    // maximum x
  pcx[10] = 19;  // maximum y
  auto gif = bytesof(std::string_view("GIF89a\x40\x01\xc8\x00", 10));
  auto ilbm = bytesof(std::string_view("FORM\0\0\0\x20ILBMBMHD\0\0\0\x14\x01\x40\x00\xc8", 24));
  auto pel = bytesof("PL", 600);
  pel[2] = 0x58;  // the size 0x258 = 600
  pel[3] = 0x02;
  pel[18] = 3;
  pel[22] = 4;
  auto pelwrongsize = pel;
  pelwrongsize[3] = 0x03;
  auto jpeg = bytesof(std::string_view("\xff\xd8\xff\xe0\x00\x04xx\xff\xc2\x00\x0b\x08\x00\x15\x00\x25", 17));
  auto jpegcut = bytesof(std::string_view("\xff\xd8\xff\xe0\x00\x40", 6));
  // Segments of 4,000 bytes each: the third one spends the 8,192 budget.
  std::vector<uint8_t> jpegfar = bytesof(std::string_view("\xff\xd8\xff", 3));
  for (int i = 0; i < 3; ++i) {
    jpegfar.insert(jpegfar.end(), {0xE1, 0x0F, 0xA0});
    jpegfar.resize(jpegfar.size() + 3998, 0);
    jpegfar.push_back(0xFF);
  }
  jpegfar.insert(jpegfar.end(), {0xC0, 0, 11, 8, 0, 5, 0, 6});

  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int16_t format, width, height;
  } cases[] = {
      {"png", png, 5, 300, 7},
      {"png without IHDR", bytesof(std::string_view("\x89PNG\r\n\x1a\n", 8)), 5, -1, -1},
      {"bmp", bmp, 0, 0x1234, 9},
      {"pcx: 1 + the maximum coordinates", pcx, 4, 10, 20},
      {"gif", gif, 1, 320, 200},
      {"jpeg: the frame header after other segments", jpeg, 3, 0x25, 0x15},
      {"jpeg cut inside a segment", jpegcut, 3, 0, 0},
      {"jpeg beyond the walk's budget", jpegfar, 3, 0, 0},
      {"ilbm", ilbm, 2, 320, 200},
      {"pel", pel, 6, 3, 4},
      {"pel whose size field disagrees", pelwrongsize, -1, -1, -1},
      {"unknown", bytesof("hello world"), -1, -1, -1},
      {"empty", {}, -1, -1, -1},
  };
  for (const auto& c : cases) {
    int16_t w = 99, h = 99;
    EXPECT_EQ(probeimage(c.bytes, w, h), c.format) << c.what;
    EXPECT_EQ(w, c.width) << c.what;
    EXPECT_EQ(h, c.height) << c.what;
  }
}

TEST(LoadImage, RecognitionAndThePlaceholder) {
  Image image;
  image.matteRed = 3;
  EXPECT_EQ(loadimage(image, bytesof("not a picture")), 0);
  EXPECT_EQ(image.rgb, nullptr);
  EXPECT_EQ(image.indexed, nullptr);

  // A GIF that ends before its first image still stands in as 64 x 64.
  Image gif;
  EXPECT_EQ(loadimage(gif, bytesof("GIF89a\x10\x00\x10\x00")), 1);
  EXPECT_EQ(gif.width, 64);
  EXPECT_EQ(gif.height, 64);
  EXPECT_EQ(gif.kind, Indexed);
  EXPECT_EQ(gif.pixelBytes, 64 * 64);
  ASSERT_TRUE(gif.rgb);
}

TEST(SaveImage, NamesAndRefusals) {
  TempDir dir;
  ShpiPicture picture;
  picture.width = 2;
  picture.height = 2;
  picture.rgb.reset(static_cast<uint8_t*>(allocmem(16)));
  picture.indexed.reset(static_cast<uint8_t*>(allocmem(4)));
  const struct {
    int16_t format;
    const char* base;
    const char* written;
  } cases[] = {
      {0, "a", "a.bmp"},         {0, "b.BMP", "b.BMP"},   {0, "c.png", "c.png.bmp"}, {4, "d", "d.pcx"},
      {4, "e.Pcx", "e.Pcx"},     {5, "f.PNG", "f.PNG"},   {5, "g", "g.png"},
  };
  for (const auto& c : cases) {
    const std::string base = (dir / c.base).string();
    EXPECT_EQ(saveimage(c.format, base.c_str(), picture), 1) << c.base;
    EXPECT_TRUE(fs::exists(dir / c.written)) << c.written;
  }
  EXPECT_EQ(saveimage(0, (dir / "missing" / "x").c_str(), picture), 0);

  const struct {
    int16_t format;
    const char* text;
  } refusals[] = {{3, "No JPEG write support"}, {2, "unknown format 2"}, {6, "unknown format 6"}, {-1, "unknown format -1"}};
  for (const auto& r : refusals) {
    ConsoleCapture console;
    EXPECT_THROW(saveimage(r.format, (dir / "z").c_str(), picture), FatalError);
    EXPECT_EQ(console.text(), std::string("***********\nFatal Error\n***********\n-- ") + r.text + "\n");
  }
}

TEST(FreeImage, ClearsEveryField) {
  Image image;
  image.matteRed = image.matteGreen = image.matteBlue = 9;
  image.matteOn = 1;
  image.sourceName = "x.png";
  prepareimage(image, 3, 4, 4);
  EXPECT_EQ(image.rgb[48], 9);  // the matte colour after the last pixel
  EXPECT_EQ(freeimage(image), 0);
  EXPECT_EQ(image.rgb, nullptr);
  EXPECT_EQ(image.indexed, nullptr);
  EXPECT_EQ(image.width, 0);
  EXPECT_EQ(image.matteRed + image.matteGreen + image.matteBlue + image.matteOn, 0);
  EXPECT_TRUE(image.sourceName.empty());
}

}  // namespace
}  // namespace torvex::test
