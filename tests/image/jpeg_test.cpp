// JPEG reading: files from cjpeg and ImageMagick decode to the same pixels
// as djpeg gives for them, cut files included.
#include <gtest/gtest.h>

#include "imagetest.h"
#include "torvex/image/formats.h"

namespace torvex::test {
namespace {

class Jpeg : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havepillow() || !havetool("cjpeg") || !havetool("djpeg")) GTEST_SKIP() << "cjpeg, djpeg or Pillow missing";
    python(dir, R"(from PIL import Image
w, h = 203, 150
im = Image.new('RGB', (w, h))
im.putdata([((x * 7) % 256, (y * 12) % 256, ((x * y) ^ (x * 31)) % 256) for y in range(h) for x in range(w)])
im.save('in.ppm')
)");
  }
  // djpeg's decoding of `file` (warnings about a cut file are expected).
  std::vector<uint8_t> djpeg(const std::string& file, bool grey) {
    runshell("djpeg -pnm " + file + " > out.pnm", dir.path());
    if (grey) {
      python(dir, "from PIL import Image\nopen('pillow.idx','wb').write(Image.open('out.pnm').tobytes())\n");
      return readbytes(dir / "pillow.idx");
    }
    return pillowrgb(dir, "out.pnm");
  }
  TempDir dir;
};

TEST_F(Jpeg, DecodesAsDjpegDoes) {
  shell(dir, "cjpeg -quality 80 in.ppm > base.jpg && cjpeg -progressive in.ppm > prog.jpg && "
             "cjpeg -grayscale in.ppm > grey.jpg && cjpeg -sample 1x1 -optimize -restart 1 in.ppm > restart.jpg && "
             "convert in.ppm -interlace JPEG im.jpg");
  // Cut copies: decoded up to the cut, then filled as at an end-of-image marker.
  for (const char* f : {"base", "prog", "grey"}) {
    const auto whole = readbytes(dir / (std::string(f) + ".jpg"));
    writebytes(dir / (std::string(f) + "cut.jpg"), std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 3 / 5)));
  }
  struct Case {
    const char* file;
    bool grey;
  } cases[] = {{"base.jpg", false},   {"prog.jpg", false},    {"grey.jpg", true},    {"restart.jpg", false},
               {"im.jpg", false},     {"basecut.jpg", false}, {"progcut.jpg", false}, {"greycut.jpg", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ConsoleCapture console;
    Loaded l = loadpath(dir / c.file);
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(console.text(), "");  // the library's warnings are never printed
    EXPECT_STREQ(l.image.formatTag, "JPG");
    EXPECT_EQ(l.image.width, 203);
    EXPECT_EQ(l.image.height, 150);
    const auto expected = djpeg(c.file, c.grey);
    if (c.grey) {
      EXPECT_EQ(l.image.kind, Indexed);
      EXPECT_EQ(indicesof(l.image), expected);
      EXPECT_EQ(l.image.palette[77], (Rgba{77, 77, 77, 255}));
      EXPECT_EQ(l.image.rgb[3], l.image.indexed[1]);
    } else {
      EXPECT_EQ(l.image.kind, TrueColour);
      EXPECT_EQ(rgbof(l.image), expected);
    }
  }
}

TEST_F(Jpeg, UnreadableFilesGiveNoPicture) {
  shell(dir, "cjpeg in.ppm > base.jpg && cjpeg -progressive in.ppm > prog.jpg");
  const auto whole = readbytes(dir / "base.jpg");
  // A progressive frame header that claims 32,512 x 32,512 pixels: the
  // library would want gigabytes for its coefficients before any row.
  auto huge = readbytes(dir / "prog.jpg");
  for (size_t i = 0; i + 9 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC2) {
      huge[i + 5] = huge[i + 7] = 0x7F;
      break;
    }
  const std::vector<std::vector<uint8_t>> files = {
      {0xFF, 0xD8},                                            // nothing after the start marker
      {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 1, 2},              // a segment longer than the file
      std::vector<uint8_t>(whole.begin(), whole.begin() + 30), // cut before the frame header
      huge,
  };
  for (size_t i = 0; i < files.size(); ++i) {
    ConsoleCapture console;
    Image image;
    const Loaded l{loadimage(image, files[i]).status, std::move(image)};
    EXPECT_TRUE(refused(l)) << i;
    EXPECT_EQ(console.text(), "") << i;
  }
}

}  // namespace
}  // namespace torvex::test

namespace torvex::test {
namespace {

// Our JPEG files: quality 90 (the same quantization tables as cjpeg's at 90)
// and colour sampled at half resolution both ways (4:2:0), as Pillow reads
// them; they decode to the pixels of cjpeg's file of the same picture.
TEST_F(Jpeg, WrittenFilesAreQualityNinetyAtFourTwoZero) {
  python(dir, R"(from PIL import Image
open('in.rgb', 'wb').write(Image.open('in.ppm').tobytes())
)");
  shell(dir, "cjpeg -quality 90 in.ppm > cjpeg90.jpg");
  const std::vector<uint8_t> rgb = readbytes(dir / "in.rgb");
  ShpiPicture picture;
  picture.width = 203;
  picture.height = 150;
  picture.rgb.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(rgb.size() + 4))));
  std::copy(rgb.begin(), rgb.end(), picture.rgb.get());
  ASSERT_EQ(saveimage(kFormatJpeg, (dir / "ours").c_str(), picture).status, 1);
  python(dir, R"(from PIL import Image, JpegImagePlugin
ours, theirs = Image.open('ours.jpg'), Image.open('cjpeg90.jpg')
assert ours.size == (203, 150) and ours.mode == 'RGB', (ours.size, ours.mode)
assert JpegImagePlugin.get_sampling(ours) == 2, JpegImagePlugin.get_sampling(ours)
assert ours.quantization == theirs.quantization
# The same settings as cjpeg's at quality 90: the same pixels.
assert ours.tobytes() == theirs.tobytes()
)");
  // An indexed picture is written in its palette's colours.
  ShpiPicture indexed;
  indexed.width = 16;
  indexed.height = 16;
  indexed.indexed.reset(static_cast<uint8_t*>(allocmem(256)));
  for (int i = 0; i < 256; ++i) indexed.indexed[i] = static_cast<uint8_t>(i / 64);
  indexed.palette[1] = Rgba{200, 40, 40, 255};
  ASSERT_EQ(saveimage(kFormatJpeg, (dir / "pal").c_str(), indexed).status, 1);
  python(dir, R"(from PIL import Image
px = Image.open('pal.jpg').convert('RGB').getpixel((8, 6))
assert abs(px[0] - 200) < 12 and abs(px[1] - 40) < 12, px
)");
}

}  // namespace
}  // namespace torvex::test
