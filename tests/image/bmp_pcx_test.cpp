// BMP, PCX and PEL: files written by independent tools decode to what those
// tools' decoders give; our files are read back by Pillow.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "imagetest.h"
#include "torvex/image/formats.h"

namespace torvex::test {
namespace {

constexpr const char* kMakePicture = R"(from PIL import Image
def picture(w, h):
    im = Image.new('RGB', (w, h))
    im.putdata([((x * 37 + y * 11) % 256, (x * 5 + y * 83) % 256, (x * y * 7 + 19) % 256) for y in range(h) for x in range(w)])
    return im
)";

class Tools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
  }
  TempDir dir;
};

TEST_F(Tools, BmpFromOtherWritersDecodesAsTheyDo) {
  python(dir, std::string(kMakePicture) + R"(
picture(5, 3).save('rgb24.bmp')
picture(1, 4).save('narrow24.bmp')
picture(7, 3).quantize(200).save('pal8.bmp')
picture(6, 5).save('a.ppm')
picture(9, 2).save('b.ppm')
)");
  shell(dir, "ppmtobmp -os2 -bpp=8 a.ppm > os2.bmp && ppmtobmp -bpp=24 b.ppm > win24.bmp && "
             "convert a.ppm -type Palette -compress None BMP3:im8.bmp && convert b.ppm BMP:im124.bmp");
  struct Case {
    const char* file;
    int bits;
  } cases[] = {{"rgb24.bmp", 24}, {"narrow24.bmp", 24}, {"pal8.bmp", 8}, {"os2.bmp", 8},
               {"win24.bmp", 24}, {"im8.bmp", 8},       {"im124.bmp", 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Loaded l = loadpath(dir / c.file);
    ASSERT_EQ(l.result, 1);
    EXPECT_FALSE(refused(l));
    EXPECT_STREQ(l.image.formatTag, "BMP");
    EXPECT_EQ(rgbof(l.image), pillowrgb(dir, c.file));
    if (c.bits == 8) {
      EXPECT_EQ(l.image.kind, Indexed);
      EXPECT_EQ(indicesof(l.image), pillowindices(dir, c.file));
    } else {
      EXPECT_EQ(l.image.kind, TrueColour);
      EXPECT_EQ(l.image.pixelBytes, l.image.width * l.image.height * 3);
    }
  }
}

// An 8-bit BMP built from the byte table: 3 x 2 pixels, `used` colours.
std::vector<uint8_t> handbmp(uint32_t used, int gap, int32_t height = 2, uint32_t compression = 0) {
  const int entries = used ? static_cast<int>(used) : 256;
  std::vector<uint8_t> b = {'B', 'M'};
  const uint32_t offset = 14 + 40 + 4 * entries + gap;
  put32le(b, offset + 8);
  put32le(b, 0);
  put32le(b, offset);
  put32le(b, 40);
  put32le(b, 3);
  put32le(b, static_cast<uint32_t>(height));
  put16le(b, 1);
  put16le(b, 8);
  put32le(b, compression);
  for (int i = 0; i < 3; ++i) put32le(b, 0);
  put32le(b, used);
  put32le(b, 0);
  for (int i = 0; i < entries; ++i) b.insert(b.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(2 * i), 200, 0});
  b.resize(b.size() + gap, 0xEE);
  b.insert(b.end(), {1, 2, 3, 0, 15, 14, 13, 0});  // bottom row first
  return b;
}

TEST_F(Tools, BmpWithSixteenColoursAndAGap) {
  for (int gap : {0, 6}) {
    SCOPED_TRACE(gap);
    writebytes(dir / "h.bmp", handbmp(16, gap));
    Loaded l = loadpath(dir / "h.bmp");
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(indicesof(l.image), (std::vector<uint8_t>{15, 14, 13, 1, 2, 3}));
    EXPECT_EQ(l.image.palette[15], (Rgba{200, 30, 15, 255}));
    for (int i = 16; i < 256; ++i) EXPECT_EQ(l.image.palette[i], (Rgba{0, 0, 0, 255})) << i;
    EXPECT_EQ(rgbof(l.image), pillowrgb(dir, "h.bmp"));
  }
}

TEST_F(Tools, BmpStoredTopRowFirst) {
  python(dir, std::string(kMakePicture) + "picture(5, 3).save('up.bmp')\n");
  auto bytes = readbytes(dir / "up.bmp");
  // Negate the height and reverse the rows: the same picture, top row first.
  const size_t stride = 16;
  ASSERT_EQ(bytes.size(), 54 + 3 * stride);
  std::vector<uint8_t> flipped = bytes;
  for (int row = 0; row < 3; ++row)
    std::copy_n(bytes.begin() + 54 + (2 - row) * stride, stride, flipped.begin() + 54 + row * stride);
  flipped[22] = static_cast<uint8_t>(-3);
  flipped[23] = flipped[24] = flipped[25] = 0xFF;
  writebytes(dir / "down.bmp", flipped);
  Loaded l = loadpath(dir / "down.bmp");
  ASSERT_EQ(l.image.height, 3);
  EXPECT_EQ(rgbof(l.image), pillowrgb(dir, "down.bmp"));
  EXPECT_EQ(rgbof(l.image), pillowrgb(dir, "up.bmp"));
}

TEST_F(Tools, RefusedBmpGivesNoPicture) {
  auto cut = handbmp(16, 0);
  cut.erase(cut.end() - 3, cut.end());  // the top row is short
  auto oddheader = handbmp(16, 0);
  oddheader[14] = 50;  // a header size between 13 and 63 reads no fields
  auto negativegap = handbmp(16, 0);
  negativegap[10] -= 8;  // the pixels would start inside the palette
  auto nopixels = handbmp(0, 0);
  nopixels.resize(60);
  auto zeroheight = handbmp(16, 0, 0);
  auto lowestheight = handbmp(16, 0, INT32_MIN);
  auto tallheight = handbmp(16, 0, 0x10002);  // its low 16 bits alone would say 2
  auto jpegcoded = handbmp(16, 0, 2, 4);       // a JPEG inside a BMP
  auto rle8in16 = handbmp(16, 0, 2, 2);        // RLE4 coding on 8-bit pixels
  for (const auto& bytes : {cut, oddheader, negativegap, nopixels, zeroheight, lowestheight, tallheight, jpegcoded,
                            rle8in16}) {
    writebytes(dir / "bad.bmp", bytes);
    EXPECT_TRUE(refused(loadpath(dir / "bad.bmp")));
  }
}

TEST_F(Tools, PcxFromOtherWritersDecodesAsTheyDo) {
  python(dir, std::string(kMakePicture) + R"(
picture(5, 3).save('a.ppm')
im = Image.new('P', (70, 4))
im.putpalette([v for i in range(256) for v in (i, 255 - i, (i * 3) % 256)])
im.putdata([0 if x < 66 else (200 + x % 3) for y in range(4) for x in range(70)])
im.save('runs.png')
)");
  shell(dir, "ppmtopcx -8bit a.ppm > netpbm.pcx && convert a.ppm -type Palette PCX:im.pcx && "
             "convert runs.png PCX:runs.pcx");
  for (const char* file : {"netpbm.pcx", "im.pcx", "runs.pcx"}) {
    SCOPED_TRACE(file);
    Loaded l = loadpath(dir / file);
    ASSERT_EQ(l.result, 1);
    EXPECT_STREQ(l.image.formatTag, "PCX");
    EXPECT_EQ(rgbof(l.image), pillowrgb(dir, file));
    EXPECT_EQ(indicesof(l.image), pillowindices(dir, file));
  }
}

// A PCX file from the byte table: header, `data`, then the palette tail
// (entry i = i, 255 - i, 7).
std::vector<uint8_t> handpcx(int width, int height, uint8_t encoding, const std::vector<uint8_t>& data,
                             int bytesperline = 0) {
  std::vector<uint8_t> b(128, 0);
  b[0] = 10;
  b[1] = 5;
  b[2] = encoding;
  b[3] = 8;
  b[8] = static_cast<uint8_t>(width - 1);
  b[10] = static_cast<uint8_t>(height - 1);
  b[65] = 1;
  b[66] = static_cast<uint8_t>(bytesperline ? bytesperline : width);
  for (uint8_t v : data) b.push_back(v);
  b.push_back(12);
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7});
  return b;
}

TEST_F(Tools, PcxHandBuiltLayouts) {
  struct Case {
    const char* what;
    int width, height;
    uint8_t encoding;
    std::vector<uint8_t> data;
    std::vector<uint8_t> indices;
    size_t missing = 0;  // trailing pixels not in the file: no colour at all
  } cases[] = {
      {"encoding 0 reads every byte as a pixel", 4, 2, 0, {0xC0, 0xFF, 1, 2, 3, 0xC5, 0xC1, 9}, {0xC0, 0xFF, 1, 2, 3, 0xC5, 0xC1, 9}},
      {"a run past the row's end loses its excess", 3, 2, 1, {0xC5, 7, 1, 2, 3}, {7, 7, 7, 1, 2, 3}},
      {"a run of zero stores nothing", 2, 1, 1, {0xC0, 0x55, 0xC1, 200, 4}, {200, 4}},
      {"data that ends early leaves zeros", 3, 2, 1, {0xC2, 9, 5}, {9, 9, 5, 0, 0, 0}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writebytes(dir / "h.pcx", handpcx(c.width, c.height, c.encoding, c.data));
    Loaded l = loadpath(dir / "h.pcx");
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(indicesof(l.image), c.indices);
    EXPECT_EQ(l.image.palette[200], (Rgba{200, 55, 7, 255}));
    EXPECT_EQ(l.image.rgb[0], l.image.palette[c.indices[0]].r);
    // Pixels past the end of the data are not read as index 0: their
    // colour stays zero too (entry 0 here is 0, 255, 7).
    const std::vector<uint8_t> rgb = rgbof(l.image);
    for (size_t i = 0; i < c.indices.size(); ++i) {
      const bool missing = i >= c.indices.size() - c.missing;
      const Rgba colour = missing ? Rgba{} : l.image.palette[c.indices[i]];
      EXPECT_EQ((std::vector<uint8_t>{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}),
                (std::vector<uint8_t>{colour.r, colour.g, colour.b}))
          << "pixel " << i;
    }
  }
}

TEST_F(Tools, PcxRowsPaddedToEvenBytesPerLine) {
  // Width 5 with 6 bytes per line, as paint programs write it: the pad byte
  // of every row is dropped (Pillow reads it the same way).
  writebytes(dir / "even.pcx", handpcx(5, 2, 1, {1, 2, 3, 4, 5, 0, 0xC5, 9, 0}, 6));
  Loaded l = loadpath(dir / "even.pcx");
  EXPECT_EQ(indicesof(l.image), (std::vector<uint8_t>{1, 2, 3, 4, 5, 9, 9, 9, 9, 9}));
  EXPECT_EQ(rgbof(l.image), pillowrgb(dir, "even.pcx"));
}

// 8-bit pixels without the 256-colour tail are grey; layouts the reader
// does not know say so and give no picture.
TEST_F(Tools, PcxWithoutPaletteTailIsGreyAndUnknownLayoutsAreRefused) {
  auto bytes = handpcx(3, 2, 1, {1, 2, 3, 4, 5, 6});
  bytes.resize(bytes.size() - 769);
  Image image;
  const ImageResult loaded = loadimage(image, bytes);
  EXPECT_EQ(loaded.status, 1);
  EXPECT_TRUE(loaded.notes.empty());
  EXPECT_EQ(indicesof(image), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(rgbof(image), (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6}));

  // Pixel data that stops after the first row: the size stays, a warning
  // is due, and nothing is read beyond.
  std::vector<uint8_t> tiny(bytes.begin(), bytes.begin() + 131);
  Image small;
  const ImageResult cut = loadimage(small, tiny);
  EXPECT_EQ(cut.status, 1);
  EXPECT_TRUE(cut.cutshort);
  EXPECT_EQ(indicesof(small), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0}));

  auto twoplanes = handpcx(3, 2, 1, {1, 2, 3, 4, 5, 6});
  twoplanes[65] = 2;  // 8 bits in 2 planes: no such layout
  ConsoleCapture console;
  Image unknown;
  const ImageResult odd = loadimage(unknown, twoplanes);
  EXPECT_EQ(odd.status, 0);
  EXPECT_EQ(odd.notes, std::vector<std::string>{"** unsupported PCX format! **\n"});
  EXPECT_EQ(odd.unreadable, "PCX of 8 bits in 2 planes is not supported");
  EXPECT_EQ(console.text(), "");  // the caller prints the note
  EXPECT_FALSE(unknown.indexed);

  // A header that claims far more pixels than the file could hold.
  auto huge = handpcx(3, 2, 1, {1});
  huge[8] = huge[9] = huge[10] = huge[11] = 0x70;
  Image claims;
  const Loaded l{loadimage(claims, huge).status, std::move(claims)};
  EXPECT_TRUE(refused(l));
}

TEST_F(Tools, PelTakesAllEntriesWhateverItStates) {
  // 3 x 2, 16 entries stated: the pixels start at 54 + 64, and palette
  // entries 16 on come from the bytes that follow (here the pixels).
  std::vector<uint8_t> b(54, 0);
  b[0] = 'P';
  b[1] = 'L';
  b[18] = 3;
  b[22] = 2;
  b[50] = 16;
  for (int i = 0; i < 16; ++i) b.insert(b.end(), {static_cast<uint8_t>(i), 50, static_cast<uint8_t>(100 + i), 0});
  b.insert(b.end(), {1, 2, 3, 4, 5, 6});  // bottom row first
  b.resize(54 + 1024, 0);
  const uint32_t size = static_cast<uint32_t>(b.size());
  std::memcpy(&b[2], &size, 4);
  Image image;
  ASSERT_EQ(loadimage(image, b).status, 1);
  EXPECT_STREQ(image.formatTag, "PEL");
  EXPECT_EQ(indicesof(image), (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
  EXPECT_EQ(image.palette[3], (Rgba{103, 50, 3, 255}));
  EXPECT_EQ(image.palette[16], (Rgba{3, 2, 1, 255}));
  EXPECT_EQ(image.palette[17], (Rgba{0, 6, 5, 255}));
  EXPECT_EQ(image.rgb[0], 104);

  b.resize(100);  // the pixels are gone
  Image cut;
  const Loaded l{loadimage(cut, b).status, std::move(cut)};
  EXPECT_TRUE(refused(l));
}

Palette testpalette() {
  Palette p{};
  for (int i = 0; i < 256; ++i)
    p[i] = Rgba{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), 255};
  return p;
}

std::vector<uint8_t> testindices(int width, int height) {
  std::vector<uint8_t> v(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i % 3 == 0 ? 250 : i * 13);
  return v;
}

std::vector<uint8_t> testrgb(int width, int height) {
  std::vector<uint8_t> v(static_cast<size_t>(width) * height * 3 + 4);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 29 + i / 7);
  return v;
}

// The palette Pillow reads from a file, as RGB triples.
std::vector<uint8_t> pillowpalette(const TempDir& dir, const std::string& file) {
  python(dir, "from PIL import Image\nopen('pal.bin','wb').write(bytes(Image.open('" + file +
                  "').getpalette()[:768]))\n");
  return readbytes(dir / "pal.bin");
}

std::vector<uint8_t> rgbtriples(const Palette& p) {
  std::vector<uint8_t> v;
  for (const Rgba& c : p) v.insert(v.end(), {c.r, c.g, c.b});
  return v;
}

TEST_F(Tools, BmpAndPcxWritersReadBackByPillow) {
  const Palette palette = testpalette();
  for (int width : {1, 5, 8}) {
    SCOPED_TRACE(width);
    const int height = 3;
    const auto idx = testindices(width, height);
    const auto rgb = testrgb(width, height);
    std::vector<uint8_t> expected;
    for (uint8_t i : idx) expected.insert(expected.end(), {palette[i].r, palette[i].g, palette[i].b});

    const auto bmp8 = (dir / "w8.bmp").string(), bmp24 = (dir / "w24.bmp").string(), pcx = (dir / "w.pcx").string();
    ASSERT_EQ(writebmp(bmp8.c_str(), rgb.data(), idx.data(), width, height, palette, nullptr).status, 1);
    ASSERT_EQ(writebmp(bmp24.c_str(), rgb.data(), nullptr, width, height, palette, nullptr).status, 1);
    ASSERT_EQ(writepcx(pcx.c_str(), rgb.data(), idx.data(), width, height, palette, nullptr).status, 1);

    EXPECT_EQ(pillowindices(dir, "w8.bmp"), idx);
    EXPECT_EQ(pillowpalette(dir, "w8.bmp"), rgbtriples(palette));
    EXPECT_EQ(pillowrgb(dir, "w8.bmp"), expected);
    EXPECT_EQ(pillowrgb(dir, "w24.bmp"), std::vector<uint8_t>(rgb.begin(), rgb.end() - 4));
    EXPECT_EQ(readbytes(dir / "w24.bmp").size(), 54 + ((width * 3 + 3) & ~3u) * height);
    EXPECT_EQ(pillowindices(dir, "w.pcx"), idx);
    EXPECT_EQ(pillowpalette(dir, "w.pcx"), rgbtriples(palette));
  }
}

TEST_F(Tools, PcxWriterQuantizesTruecolour) {
  const int width = 40, height = 30;
  const auto rgb = testrgb(width, height);
  Palette palette = testpalette();
  const auto file = (dir / "q.pcx").string();
  ASSERT_EQ(writepcx(file.c_str(), rgb.data(), nullptr, width, height, palette, nullptr).status, 1);
  const auto indices = pillowindices(dir, "q.pcx");
  const auto colours = pillowpalette(dir, "q.pcx");
  EXPECT_EQ(colours[0], palette[0].r);  // entry 0 keeps its colour and no pixel uses it
  for (uint8_t i : indices) EXPECT_NE(i, 0);
  EXPECT_EQ(palette, testpalette());  // the caller's palette is not touched
}

TEST(PcxWriter, RunsAsExactBytes) {
  const uint8_t v = 0x21;
  struct Case {
    const char* what;
    std::vector<uint8_t> row;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"63 equal pixels: one full run", std::vector<uint8_t>(63, v), {0xFF, v}},
      {"64 equal pixels: a run of 63 and a literal", std::vector<uint8_t>(64, v), {0xFF, v, v}},
      {"literal 192 is escaped, 191 is not", {192, 191}, {0xC1, 0xC0, 0xBF}},
      {"two equal at the row's end stay literals", {1, 5, 5}, {1, 5, 5}},
      {"three equal at the row's end make a run", {1, 5, 5, 5}, {1, 0xC3, 5}},
      {"a run of light pixels", {200, 200, 200, 200}, {0xC4, 200}},
  };
  TempDir dir;
  const Palette palette = testpalette();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto file = (dir / "r.pcx").string();
    const int width = static_cast<int>(c.row.size());
    std::vector<uint8_t> rgb(width * 3 + 4);
    ASSERT_EQ(writepcx(file.c_str(), rgb.data(), c.row.data(), width, 1, palette, nullptr).status, 1);
    const auto bytes = readbytes(file);
    ASSERT_EQ(bytes.size(), 128 + c.bytes.size() + 769);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 128, bytes.end() - 769), c.bytes);
    EXPECT_EQ(bytes[8] | bytes[9] << 8, width - 1);
    EXPECT_EQ(bytes[66] | bytes[67] << 8, width);
    EXPECT_EQ(bytes[68], 2);
    EXPECT_EQ(bytes[bytes.size() - 769], 12);
  }
}

TEST(PcxWriter, WideRowsAreNotCut) {
  // Wider than the 8,192 pixels one fixed row buffer would take; every
  // pixel a literal that needs the escape byte.
  TempDir dir;
  const int width = 9000;
  std::vector<uint8_t> row(width);
  for (int i = 0; i < width; ++i) row[i] = static_cast<uint8_t>(192 + i % 2);
  std::vector<uint8_t> rgb(width * 3 + 4);
  const auto file = (dir / "wide.pcx").string();
  ASSERT_EQ(writepcx(file.c_str(), rgb.data(), row.data(), width, 1, testpalette(), nullptr).status, 1);
  Loaded l = loadpath(file);
  ASSERT_EQ(l.image.width, width);
  EXPECT_EQ(indicesof(l.image), row);
}

}  // namespace
}  // namespace torvex::test

namespace torvex::test {
namespace {

// A 6 x 3 RLE4 BMP from the byte table: runs alternate two nibbles,
// absolute groups are padded to whole words, a delta skips pixels (they
// keep index 0), and what would fall beyond a row is dropped.
std::vector<uint8_t> rle4bmp(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {'B', 'M'};
  const uint32_t offset = 14 + 40 + 16 * 4;
  put32le(b, offset + static_cast<uint32_t>(data.size()));
  put32le(b, 0);
  put32le(b, offset);
  put32le(b, 40);
  put32le(b, 6);
  put32le(b, 3);
  put16le(b, 1);
  put16le(b, 4);
  put32le(b, 2);  // RLE4
  put32le(b, static_cast<uint32_t>(data.size()));
  put32le(b, 0);
  put32le(b, 0);
  put32le(b, 16);
  put32le(b, 0);
  for (int i = 0; i < 16; ++i) b.insert(b.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - 16 * i), 0, 0});
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(Bmp, RunLengthFourWithDeltaAndOverflow) {
  const std::vector<uint8_t> data = {
      0x07, 0x12, 0x00, 0x00,              // bottom row: 1 2 1 2 1 2 (a seventh pixel dropped), end of row
      0x00, 0x03, 0x34, 0x50,              // middle row: 3 4 5 as they are (two bytes, a whole word)
      0x02, 0x66, 0x01, 0x70, 0x00, 0x00,  // then 6 6 and 7, end of row
      0x00, 0x02, 0x02, 0x00,              // top row: move 2 right
      0x03, 0x89, 0x00, 0x01,              // 8 9 8, end of picture
  };
  Image image;
  const ImageResult whole = loadimage(image, rle4bmp(data));
  ASSERT_EQ(whole.status, 1);
  EXPECT_FALSE(whole.cutshort);
  EXPECT_EQ(image.kind, Indexed);
  EXPECT_EQ(indicesof(image), (std::vector<uint8_t>{0, 0, 8, 9, 8, 0, 3, 4, 5, 6, 6, 7, 1, 2, 1, 2, 1, 2}));
  EXPECT_EQ(image.rgb[3 * 2 + 1], 255 - 16 * 8);

  // Cut before the top row's pixels: the rows that came stay, and the
  // caller is told.
  Image cut;
  const ImageResult shorter = loadimage(cut, rle4bmp({data.begin(), data.end() - 4}));
  ASSERT_EQ(shorter.status, 1);
  EXPECT_TRUE(shorter.cutshort);
  EXPECT_EQ(indicesof(cut), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 3, 4, 5, 6, 6, 7, 1, 2, 1, 2, 1, 2}));
}

// 32-bit pixels carry opacity only where a bit-field mask names it, as
// Windows reads them; a named mask that is empty everywhere means opaque.
TEST_F(Tools, BmpOpacityComesFromItsMask) {
  if (!havetool("convert")) GTEST_SKIP() << "ImageMagick is missing";
  python(dir, std::string(kMakePicture) + R"(
im = picture(7, 5).convert('RGBA')
im.putdata([p[:3] + ((i * 37) % 256,) for i, p in enumerate(im.getdata())])
im.save('a.png')
im.save('pillow.bmp')
open('alpha.raw', 'wb').write(im.getchannel('A').tobytes())
)");
  shell(dir, "convert a.png BMP:masked.bmp");
  Loaded masked = loadpath(dir / "masked.bmp");
  ASSERT_EQ(masked.result, 1);
  ASSERT_TRUE(masked.image.alpha);
  EXPECT_EQ((std::vector<uint8_t>(masked.image.alpha.get(), masked.image.alpha.get() + 35)), readbytes(dir / "alpha.raw"));
  EXPECT_EQ(rgbof(masked.image), pillowrgb(dir, "a.png"));

  // The same file with every opacity byte cleared.
  auto bytes = readbytes(dir / "masked.bmp");
  const uint32_t offset = bytes[10] | bytes[11] << 8;
  for (size_t i = offset + 3; i < bytes.size(); i += 4) bytes[i] = 0;
  writebytes(dir / "cleared.bmp", bytes);
  Loaded cleared = loadpath(dir / "cleared.bmp");
  ASSERT_EQ(cleared.result, 1);
  EXPECT_FALSE(cleared.image.alpha);

  // Pillow writes its 32-bit pixels without masks: the fourth byte is no opacity.
  Loaded plain = loadpath(dir / "pillow.bmp");
  ASSERT_EQ(plain.result, 1);
  EXPECT_FALSE(plain.image.alpha);
  EXPECT_EQ(rgbof(plain.image), pillowrgb(dir, "a.png"));
}

}  // namespace
}  // namespace torvex::test
