// PNG reading and writing: files made by Pillow, ImageMagick and by a
// small chunk writer in Python decode as Pillow decodes them; our files pass
// pngcheck and read back in Pillow.
#include <gtest/gtest.h>

#include "imagetest.h"
#include "torvex/image/formats.h"

namespace torvex::test {
namespace {

// Writes PNG files chunk by chunk, so that bKGD, tRNS and odd depths can be
// placed exactly.
constexpr const char* kChunks = R"(import struct, zlib
from PIL import Image
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
def png(name, w, h, depth, ctype, rows, extra=b''):
    ihdr = struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, 0)
    raw = b''.join(b'\x00' + r for r in rows)
    open(name, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + extra + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
)";

class Png : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
  }
  void script(const std::string& body) { python(dir, std::string(kChunks) + body); }
  TempDir dir;
};

TEST_F(Png, PaletteTransparencyFromBkgdAndTrns) {
  script(R"(
plte = chunk(b'PLTE', bytes(v for i in range(10) for v in (i * 20, 100, 200 - i * 20)))
rows = [bytes([0, 3, 7, 9]), bytes([7, 7, 1, 2])]
png('short.png', 4, 2, 8, 3, rows, plte + chunk(b'tRNS', bytes([10, 20, 30, 40])) + chunk(b'bKGD', bytes([7])))
png('long.png', 4, 2, 8, 3, rows, plte + chunk(b'tRNS', bytes([10, 20, 30, 40, 50, 60, 70, 99])) + chunk(b'bKGD', bytes([7])))
png('plain.png', 4, 2, 8, 3, rows, plte)
)");
  struct Case {
    const char* file;
    int background;  // readpng's result
    uint8_t alpha7;
  } cases[] = {{"short.png", 7, 0}, {"long.png", 7, 99}, {"plain.png", -1, 255}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto bytes = readbytes(dir / c.file);
    Image image;
    ImageResult result;
    EXPECT_EQ(readpng(image, bytes, result), c.background);
    EXPECT_EQ(image.palette[7].a, c.alpha7);
    EXPECT_EQ(image.palette[2].a, c.background < 0 ? 255 : 30);
    EXPECT_EQ(image.palette[9], (Rgba{180, 100, 20, 255}));
    EXPECT_EQ(image.palette[10], (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(image.alpha, nullptr);
    EXPECT_EQ(indicesof(image), (std::vector<uint8_t>{0, 3, 7, 9, 7, 7, 1, 2}));
    EXPECT_EQ(rgbof(image), pillowrgb(dir, c.file));
  }
}

TEST_F(Png, DepthsAndInterlacingDecodeAsPillowDoes) {
  script(R"(
w, h = 29, 13
im = Image.new('RGB', (w, h))
im.putdata([((x * 9) % 256, (y * 19) % 256, (x * y) % 256) for y in range(h) for x in range(w)])
im.save('rgb.png')
im.save('wide.ppm')
im.quantize(16).save('pal4.png', bits=4)
im.quantize(100).save('pal8.png')
Image.new('RGB', (4000, 2), (1, 2, 3)).save('widerow.png')
)");
  shell(dir, "convert rgb.png -depth 16 PNG48:rgb16.png && convert rgb.png -interlace PNG PNG24:adam7.png && "
             "convert pal8.png -interlace PNG PNG8:adam7pal.png && pngcheck rgb16.png adam7.png pal4.png");
  struct Case {
    const char* file;
    bool indexed;
  } cases[] = {{"rgb.png", false},     {"rgb16.png", false},     {"pal4.png", true}, {"pal8.png", true},
               {"adam7.png", false},   {"adam7pal.png", true},   {"widerow.png", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Loaded l = loadpath(dir / c.file);
    ASSERT_EQ(l.result, 1);
    EXPECT_FALSE(refused(l));
    EXPECT_STREQ(l.image.formatTag, "PNG");
    EXPECT_EQ(l.image.kind, c.indexed ? Indexed : TrueColour);
    EXPECT_EQ(rgbof(l.image), pillowrgb(dir, c.file));
    if (c.indexed) {
      EXPECT_EQ(indicesof(l.image), pillowindices(dir, c.file));
    }
  }
}

TEST_F(Png, AlphaAndTheMatte) {
  script(R"(
px = [(10, 20, 30, 0), (255, 255, 255, 255), (100, 150, 200, 128), (7, 8, 9, 1)]
png('rgba.png', 4, 1, 8, 6, [bytes(v for p in px for v in p)])
png('bkgd.png', 3, 1, 8, 2, [bytes([5, 6, 7, 5, 6, 8, 5, 6, 7])], chunk(b'bKGD', struct.pack('>HHH', 5, 6, 7)))
png('bkgd16.png', 2, 1, 16, 2, [struct.pack('>6H', 0x0500, 0x0600, 0x0700, 5, 6, 7)], chunk(b'bKGD', struct.pack('>HHH', 0x0500, 0x0600, 0x0700)))
)");
  Image matte;
  matte.matteRed = 255;
  matte.matteOn = 1;
  Loaded on = loadpath(dir / "rgba.png", std::move(matte));
  // (c * a + m * (256 - a)) >> 8 with the matte 255, 0, 0.
  EXPECT_EQ(rgbof(on.image), (std::vector<uint8_t>{255, 0, 0, 255, 254, 254, 177, 75, 100, 254, 0, 0}));
  EXPECT_EQ((std::vector<uint8_t>(on.image.alpha.get(), on.image.alpha.get() + 4)),
            (std::vector<uint8_t>{0, 255, 128, 1}));
  EXPECT_EQ(on.image.rgb[12], 255);  // the matte colour follows the last pixel

  Loaded off = loadpath(dir / "rgba.png");
  EXPECT_EQ(rgbof(off.image), (std::vector<uint8_t>{10, 20, 30, 255, 255, 255, 100, 150, 200, 7, 8, 9}));

  Image green;
  green.matteGreen = 200;
  green.matteOn = 1;
  Loaded bg = loadpath(dir / "bkgd.png", std::move(green));
  EXPECT_EQ(rgbof(bg.image), (std::vector<uint8_t>{0, 200, 0, 5, 6, 8, 0, 200, 0}));
  EXPECT_EQ((std::vector<uint8_t>(bg.image.alpha.get(), bg.image.alpha.get() + 3)), (std::vector<uint8_t>{0, 255, 0}));

  // At 16 bits the background is compared with the pixels' kept high bytes.
  Loaded deep = loadpath(dir / "bkgd16.png");
  ASSERT_TRUE(deep.image.alpha);
  EXPECT_EQ(deep.image.alpha[0], 0);
  EXPECT_EQ(deep.image.alpha[1], 255);
}

TEST_F(Png, BrokenFilesNeverReadPastTheirEnd) {
  script(R"(
im = Image.new('RGB', (64, 64))
im.putdata([(x * 4, y * 4, (x ^ y) * 4) for y in range(64) for x in range(64)])
im.save('whole.png', compress_level=0)
)");
  const auto whole = readbytes(dir / "whole.png");
  // Cut in the header: no picture. Cut in the pixel data: the picture
  // keeps its size and the rows read so far, and the caller is told.
  const std::vector<uint8_t> header(whole.begin(), whole.begin() + 20);
  Image a;
  EXPECT_TRUE(refused(Loaded{loadimage(a, header).status, std::move(a)}));
  const std::vector<uint8_t> half(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
  Image b;
  const ImageResult cut = loadimage(b, half);
  ASSERT_EQ(cut.status, 1);
  EXPECT_TRUE(cut.cutshort);
  Image c0;
  EXPECT_FALSE(loadimage(c0, whole).cutshort);
  EXPECT_EQ(b.width, 64);
  EXPECT_EQ(b.height, 64);
  const auto expected = pillowrgb(dir, "whole.png");
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 64 * 3 * 10, b.rgb.get()));

  // A header that claims a huge picture over a few bytes of data.
  script("png('claims.png', 30000, 30000, 8, 2, [b''])\n");
  Image c;
  const auto claims = readbytes(dir / "claims.png");
  EXPECT_TRUE(refused(Loaded{loadimage(c, claims).status, std::move(c)}));
}

TEST_F(Png, WrittenFilesPassPngcheckAndReadBack) {
  Palette palette{};
  for (int i = 0; i < 256; ++i) palette[i] = Rgba{static_cast<uint8_t>(i), static_cast<uint8_t>(i ^ 0x55), 9, 255};
  const int width = 7, height = 3;
  std::vector<uint8_t> indexed(width * height), rgb(width * height * 3 + 4), alpha(width * height, 0);
  for (size_t i = 0; i < indexed.size(); ++i) indexed[i] = static_cast<uint8_t>(i * 11);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 5 + 1);

  const auto write = [&](const char* file, const uint8_t* idx, const Palette& pal, const uint8_t* opacity) {
    return writepng((dir / file).c_str(), rgb.data(), idx, width, height, pal, opacity);
  };
  Palette transparent = palette;
  transparent[3].a = 100;
  transparent[5].a = 0;
  transparent[9].a = 0;
  ASSERT_EQ(write("opaque.png", indexed.data(), palette, nullptr).status, 1);
  ASSERT_EQ(write("trans.png", indexed.data(), transparent, nullptr).status, 1);
  ASSERT_EQ(write("rgb.png", nullptr, palette, alpha.data()).status, 1);  // an all-zero plane is no alpha
  alpha[4] = 1;
  ASSERT_EQ(write("rgba.png", nullptr, palette, alpha.data()).status, 1);

  const RunResult check = runshell("pngcheck -v opaque.png trans.png rgb.png rgba.png", dir.path());
  EXPECT_EQ(check.status, 0) << check.out;
  // pngcheck -v lists the chunks of each file in turn.
  const auto section = [&](const std::string& file) {
    const size_t from = check.out.find("File: " + file);
    const size_t to = check.out.find("File: ", from + 1);
    return check.out.substr(from, to == std::string::npos ? std::string::npos : to - from);
  };
  EXPECT_EQ(section("opaque.png").find("tRNS"), std::string::npos);
  EXPECT_NE(section("trans.png").find("tRNS"), std::string::npos);
  EXPECT_NE(section("opaque.png").find("index = 255\n"), std::string::npos);
  EXPECT_NE(section("trans.png").find("index = 5\n"), std::string::npos);
  for (const char* f : {"opaque.png", "rgba.png"}) {
    EXPECT_NE(section(f).find("sBIT"), std::string::npos) << f;
    EXPECT_NE(section(f).find("gAMA"), std::string::npos) << f;
  }

  python(dir, R"(from PIL import Image
out = open('facts.txt', 'w')
for f in ['opaque.png', 'trans.png', 'rgb.png', 'rgba.png']:
    im = Image.open(f)
    t = im.info.get('transparency')
    out.write('%s %s %s %s\n' % (f, im.mode, t[:10].hex() if isinstance(t, bytes) else t, im.info.get('gamma')))
Image.open('rgba.png').getchannel('A').save('alpha.pgm')
)");
  std::string facts;
  for (uint8_t c : readbytes(dir / "facts.txt")) facts += static_cast<char>(c);
  EXPECT_EQ(facts,
            "opaque.png P None 1.0\n"
            "trans.png P ffffff64ff00ffffff00 1.0\n"
            "rgb.png RGB None 1.0\n"
            "rgba.png RGBA None 1.0\n");
  EXPECT_EQ(pillowindices(dir, "trans.png"), indexed);
  const std::vector<uint8_t> pixels(rgb.begin(), rgb.end() - 4);
  EXPECT_EQ(pillowrgb(dir, "rgb.png"), pixels);
  EXPECT_EQ(pillowrgb(dir, "rgba.png"), pixels);
  const auto alphafile = readbytes(dir / "alpha.pgm");
  EXPECT_TRUE(std::equal(alpha.begin(), alpha.end(), alphafile.end() - static_cast<long>(alpha.size())));

  // Our reader takes back what we wrote, transparency included.
  Loaded back = loadpath(dir / "trans.png");
  EXPECT_EQ(back.image.palette[5].a, 0);
  EXPECT_EQ(back.image.palette[3].a, 100);
  EXPECT_EQ(indicesof(back.image), indexed);

  EXPECT_EQ(writepng((dir / "no" / "such" / "folder.png").c_str(), rgb.data(), nullptr, width, height, palette, nullptr).status, 0);
}

}  // namespace
}  // namespace torvex::test
