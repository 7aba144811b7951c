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

// Unknown first bytes and a known format that cannot be read both give no
// picture; only the second has a reason to tell.
TEST(LoadImage, RecognitionAndRefusal) {
  Image image;
  image.matteRed = 3;
  const ImageResult unknown = loadimage(image, bytesof("not a picture"));
  EXPECT_EQ(unknown.status, 0);
  EXPECT_EQ(unknown.unreadable, "");
  EXPECT_EQ(image.rgb, nullptr);
  EXPECT_EQ(image.indexed, nullptr);

  Image gif;
  const ImageResult noimage = loadimage(gif, bytesof("GIF89a\x10\x00\x10\x00"));
  EXPECT_EQ(noimage.status, 0);
  EXPECT_NE(noimage.unreadable, "");
  EXPECT_EQ(gif.rgb, nullptr);
  EXPECT_EQ(gif.indexed, nullptr);
}

// A caller's pixel limit holds for every reader: the 13 x 9 pictures of
// every format (written by Pillow, netpbm and ImageMagick) load at a limit
// of 117 pixels and are refused as unreadable, with nothing allocated, at 116.
TEST(LoadImage, PixelLimitHoldsForEveryFormat) {
  const fs::path corpus = fixturesdir().parent_path().parent_path() / "fuzz" / "image" / "corpus";
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(corpus)) {
    const std::string name = e.path().filename().string();
    if (name == "rle4.bmp") continue;  // 6 x 3, laid out by hand
    const std::vector<uint8_t> bytes = readbytes(e.path());
    Image fits;
    const ImageResult loaded = loadimage(fits, bytes, 117);
    EXPECT_TRUE(loaded) << name << ": " << loaded.unreadable;
    EXPECT_EQ(fits.width * fits.height, 117) << name;
    Image larger;
    const ImageResult refused = loadimage(larger, bytes, 116);
    EXPECT_EQ(refused.status, 0) << name;
    EXPECT_FALSE(refused.refused()) << name;
    EXPECT_EQ(refused.unreadable, "a 13x9 picture is larger than the 116 pixels asked for") << name;
    EXPECT_FALSE(larger.rgb || larger.indexed || larger.alpha) << name;
    ++files;
  }
  EXPECT_GT(files, 0u) << corpus;
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
      {4, "e.Pcx", "e.Pcx"},     {5, "f.PNG", "f.PNG"},   {5, "g", "g.png"},         {3, "h", "h.jpg"},
      {3, "i.JPG", "i.JPG"},
  };
  for (const auto& c : cases) {
    const std::string base = (dir / c.base).string();
    EXPECT_EQ(saveimage(c.format, base.c_str(), picture).status, 1) << c.base;
    EXPECT_TRUE(fs::exists(dir / c.written)) << c.written;
  }
  const ImageResult missing = saveimage(0, (dir / "missing" / "x").c_str(), picture);
  EXPECT_EQ(missing.status, 0);
  EXPECT_FALSE(missing.refused());  // the caller reports a file it could not create

  const struct {
    int16_t format;
    const char* text;
  } refusals[] = {{2, "unknown format 2"}, {6, "unknown format 6"}, {-1, "unknown format -1"}};
  for (const auto& r : refusals) {
    ConsoleCapture console;
    const ImageResult saved = saveimage(r.format, (dir / "z").c_str(), picture);
    EXPECT_FALSE(saved) << r.text;
    EXPECT_EQ(saved.refusal, r.text);
    EXPECT_EQ(console.text(), "") << r.text;  // the command prints it as its fatal error
  }
  EXPECT_FALSE(fs::exists(dir / "z")) << "nothing is written for a refused format";
}

TEST(PrepareImage, MatteAfterTheLastPixelAndRefusalOfHugeSizes) {
  Image image;
  image.matteRed = 9;
  image.matteGreen = 8;
  image.matteBlue = 7;
  ImageResult result;
  ASSERT_TRUE(prepareimage(image, 3, 4, 4, result));
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.height, 4);
  ASSERT_TRUE(image.rgb && image.indexed);
  EXPECT_EQ(image.rgb[48], 9);  // the matte colour after the last pixel
  EXPECT_EQ(image.rgb[49], 8);
  EXPECT_EQ(image.rgb[50], 7);

  // The largest picture the record can name needs more than one buffer may
  // hold: refused with the allocation text, nothing allocated.
  Image huge;
  ImageResult refused;
  EXPECT_FALSE(prepareimage(huge, 3, 32767, 32767, refused));
  EXPECT_EQ(refused.refusal, "couldn't allocate 3221028871 bytes");
  EXPECT_FALSE(huge.rgb);
  EXPECT_FALSE(huge.indexed);
}

}  // namespace
}  // namespace torvex::test
