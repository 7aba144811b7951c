// Picture records held in memory: every picture type decoded to exact
// pixels, palettes from attachments and the directory, the run's palette
// cache, records that claim more than they hold, and encoding.
#include <gtest/gtest.h>

#include "records.h"
#include "torvex/shpi/shpi.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::record;
using test::withattachment;

ByteVec plane(const Bytes& p, size_t n) { return p ? ByteVec(p.get(), p.get() + n) : ByteVec{}; }

class ShpiPixels : public testing::Test {
 protected:
  void SetUp() override { resetshpipalettecache(); }
  void TearDown() override { resetshpipalettecache(); }
  ShpiPicture pic;
};

TEST(ShpiType, TableRowsAndTheCompressionBit) {
  struct Row {
    int code, bytes;
    bool indexed;
  } rows[] = {{0x40, 1, true},  {0x41, 1, true},  {0x7B, 1, true},  {0x7C, 1, true}, {0x6D, 2, false},
              {0x78, 2, false}, {0x7E, 2, false}, {0x7F, 3, false}, {0x7D, 4, false}};
  for (const Row& r : rows) {
    for (int code : {r.code, r.code | 0x80}) {
      const ShpiType* t = shpitype(code);
      ASSERT_NE(t, nullptr) << code;
      EXPECT_EQ(t->code, r.code);
      EXPECT_EQ(t->pixelBytes, r.bytes);
      EXPECT_EQ(t->indexed, r.indexed);
    }
  }
  for (int code : {0x00, 0x22, 0x24, 0x2A, 0x7A, 0xFF & 0x22}) EXPECT_EQ(shpitype(code), nullptr) << code;
  EXPECT_EQ(shpipixelsize(*shpitype(0x40), 3, 3), 5);
  EXPECT_EQ(shpipixelsize(*shpitype(0x7D), 3, 3), 36);
}

struct TrueCase {
  const char* what;
  uint8_t type;
  int width, height;
  ByteVec pixels;
  ByteVec rgb;
  ByteVec alpha;  // empty: no opacity plane
};

// Expected values worked out from the pixel layout table.
const TrueCase kTrueCases[] = {
    {"32-bit: b g r a", 0x7D, 2, 1, {1, 2, 3, 4, 10, 20, 30, 40}, {3, 2, 1, 30, 20, 10}, {4, 40}},
    {"16-bit 4444", 0x6D, 2, 1, {0xA5, 0x3C, 0x0F, 0xF0}, {0xA0, 0x50, 0xC0, 0x00, 0xF0, 0x00}, {0x30, 0xF0}},
    {"16-bit 555, top bit ignored", 0x7E, 3, 1, {0x00, 0x7C, 0x00, 0x80, 0xE0, 0x83},
     {248, 0, 0, 0, 0, 0, 0, 248, 0}, {}},
    {"24-bit: b g r", 0x7F, 1, 2, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}, {}},
    {"16-bit 565, bit 5 ignored", 0x78, 4, 1, {0x00, 0xF8, 0x20, 0x00, 0xC0, 0x07, 0x1F, 0x00},
     {248, 0, 0, 0, 0, 0, 0, 248, 0, 0, 0, 248}, {}},
};

TEST_F(ShpiPixels, TruecolourTypesDecodeToExactPixels) {
  for (const TrueCase& c : kTrueCases) {
    SCOPED_TRACE(c.what);
    for (uint8_t type : {c.type, uint8_t(c.type | 0x80)}) {  // bit 7 without an FB header: raw pixels
      ASSERT_EQ(decodepicture(record(type, 0, c.width, c.height, c.pixels), pic, {}), 1);
      EXPECT_EQ(pic.width, c.width);
      EXPECT_EQ(pic.height, c.height);
      const size_t n = static_cast<size_t>(c.width * c.height);
      EXPECT_EQ(plane(pic.rgb, 3 * n), c.rgb);
      EXPECT_EQ(plane(pic.alpha, n), c.alpha);
      EXPECT_EQ(pic.indexed, nullptr);
    }
  }
}

TEST_F(ShpiPixels, SixteenBitTopBitGivesNoColour) {
  // 0x8000 and 0x0000 are both black in the 555 type.
  ASSERT_EQ(decodepicture(record(0x7E, 0, 2, 1, {0x00, 0x80, 0x00, 0x00}), pic, {}), 1);
  EXPECT_EQ(plane(pic.rgb, 6), ByteVec(6, 0));
}

// Three colours in an 8-bit palette record.
const ByteVec kPal24 = record(0x24, 0, 3, 1, {10, 20, 30, 40, 50, 60, 70, 80, 90});

TEST_F(ShpiPixels, IndexedTypesTakeTheAttachedPalette) {
  for (uint8_t type : {0x41, 0x7B, 0x7C}) {
    SCOPED_TRACE(int(type));
    ASSERT_EQ(decodepicture(withattachment(record(type, 0, 3, 1, {2, 0, 1, 0}), kPal24), pic, {}), 1);
    EXPECT_EQ(plane(pic.indexed, 3), (ByteVec{2, 0, 1}));
    EXPECT_EQ(plane(pic.rgb, 9), (ByteVec{70, 80, 90, 10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(pic.alpha, nullptr);
    EXPECT_EQ(pic.palette[2], (Rgba{70, 80, 90, 255}));
    EXPECT_EQ(pic.palette[3], (Rgba{3, 3, 3, 255}));  // the grey ramp beyond the record
  }
}

TEST_F(ShpiPixels, FourBitTypeHoldsTwoPixelsPerByteLowNibbleFirst) {
  // Indices 1 2 0 / 1 2 2 packed as 0x21 0x10 0x22.
  ASSERT_EQ(decodepicture(withattachment(record(0x40, 0, 3, 2, {0x21, 0x10, 0x22, 0}), kPal24), pic, {}), 1);
  EXPECT_EQ(plane(pic.indexed, 6), (ByteVec{1, 2, 0, 1, 2, 2}));
  EXPECT_EQ(plane(pic.rgb, 6), (ByteVec{40, 50, 60, 70, 80, 90}));
}

TEST_F(ShpiPixels, FourBitOddPixelCount) {
  // Width 3, height 1: the third pixel is the low nibble of a second byte
  // when the record holds one...
  ASSERT_EQ(decodepicture(record(0x40, 0, 3, 1, {0x21, 0x02}), pic, {}), 1);
  EXPECT_EQ(plane(pic.indexed, 3), (ByteVec{1, 2, 2}));
  // ...and index 0 when the record ends after one byte.
  ASSERT_EQ(decodepicture(record(0x40, 0, 3, 1, {0x21}), pic, {}), 1);
  EXPECT_EQ(plane(pic.indexed, 3), (ByteVec{1, 2, 0}));
  // An attachment right after the one byte is not read as pixels.
  ASSERT_EQ(decodepicture(withattachment(record(0x40, 0, 3, 1, {0x21}), kPal24), pic, {}), 1);
  EXPECT_EQ(plane(pic.indexed, 3), (ByteVec{1, 2, 0}));
  EXPECT_EQ(plane(pic.rgb, 9), (ByteVec{40, 50, 60, 70, 80, 90, 10, 20, 30}));
}

TEST_F(ShpiPixels, TransparentPaletteEntryGivesAnOpacityPlane) {
  for (const ByteVec& last : {ByteVec{255, 0, 255}, ByteVec{0, 255, 0}}) {
    ByteVec entries{10, 20, 30, 40, 50, 60};
    test::append(entries, last);
    const ByteVec pal = record(0x24, 0, 3, 1, entries);
    ASSERT_EQ(decodepicture(withattachment(record(0x7B, 0, 2, 1, {2, 0, 0, 0}), pal), pic, {}), 1);
    EXPECT_EQ(plane(pic.alpha, 2), (ByteVec{0, 255}));
    EXPECT_EQ(plane(pic.rgb, 6), (ByteVec{last[0], last[1], last[2], 10, 20, 30}));
  }
  // The transparent entry unused by any pixel: no opacity plane.
  const ByteVec pal = record(0x24, 0, 2, 1, {10, 20, 30, 255, 0, 255});
  ASSERT_EQ(decodepicture(withattachment(record(0x7B, 0, 2, 1, {0, 0, 0, 0}), pal), pic, {}), 1);
  EXPECT_EQ(pic.alpha, nullptr);
}

// A finder that supplies a palette with entry 1 red and counts its calls.
struct Finder {
  int calls = 0;
  int32_t result = 4;
  ShpiPaletteFinder fn() {
    return [this](Palette& p) {
      ++calls;
      if (result > 0) p[1] = {255, 0, 0, 255};
      return result;
    };
  }
};

TEST_F(ShpiPixels, AttachmentsThatAreNoPaletteLeaveTheSearchToTheDirectory) {
  const ByteVec pixels{1, 1, 0, 0};
  struct Case {
    const char* what;
    ByteVec rec;
  } cases[] = {
      {"no attachment", record(0x7B, 0, 2, 1, pixels)},
      {"attached 0x7B picture", withattachment(record(0x7B, 0, 2, 1, pixels), record(0x7B, 0, 1, 1, {3, 0, 0, 0}))},
      {"attached 0xFB picture", withattachment(record(0x7B, 0, 2, 1, pixels), record(0xFB, 0, 1, 1, {3, 0, 0, 0}))},
      {"attached 0x41 picture", withattachment(record(0x7B, 0, 2, 1, pixels), record(0x41, 0, 1, 1, {3, 0, 0, 0}))},
      {"attached 0x7D picture", withattachment(record(0x7B, 0, 2, 1, pixels), record(0x7D, 0, 1, 1, {3, 0, 0, 0}))},
      {"attached 0x7C record", withattachment(record(0x7B, 0, 2, 1, pixels), record(0x7C, 0, 1, 1, {3, 0, 0, 0}))},
      {"attached unknown type", withattachment(record(0x7B, 0, 2, 1, pixels), record(0x99, 0, 1, 1, {3, 0, 0, 0}))},
      {"negative offset", record(0x7B, 0xFFFFF0, 2, 1, pixels)},
      {"offset past the record", record(0x7B, 0x100, 2, 1, pixels)},
      {"offset at the last byte", record(0x7B, 19, 2, 1, {1, 1, 0, 0x24})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    resetshpipalettecache();
    Finder f;
    ASSERT_EQ(decodepicture(c.rec, pic, f.fn()), 1);
    EXPECT_EQ(f.calls, 1);
    EXPECT_EQ(plane(pic.rgb, 6), (ByteVec{255, 0, 0, 255, 0, 0}));
  }
}

TEST_F(ShpiPixels, AttachedPaletteIsPreferredToTheDirectory) {
  Finder f;
  ASSERT_EQ(decodepicture(withattachment(record(0x7B, 0, 1, 1, {1, 0, 0, 0}), kPal24), pic, f.fn()), 1);
  EXPECT_EQ(f.calls, 0);
  EXPECT_EQ(plane(pic.rgb, 3), (ByteVec{40, 50, 60}));
}

TEST_F(ShpiPixels, NoPaletteAnywhereShowsTheGreyRamp) {
  Finder f;
  f.result = 0;
  ASSERT_EQ(decodepicture(record(0x7B, 0, 2, 1, {7, 200, 0, 0}), pic, f.fn()), 1);
  EXPECT_EQ(plane(pic.rgb, 6), (ByteVec{7, 7, 7, 200, 200, 200}));
  EXPECT_FALSE(shpipalettecache().filled);
}

TEST_F(ShpiPixels, FirstFoundPaletteCarriesToLaterPicturesWithout) {
  // The first picture finds a palette in its directory...
  Finder f;
  ASSERT_EQ(decodepicture(record(0x7B, 0, 1, 1, {1, 0, 0, 0}), pic, f.fn()), 1);
  ASSERT_TRUE(shpipalettecache().filled);
  // ...a second picture with no palette anywhere shows that palette, not the grey ramp...
  ASSERT_EQ(decodepicture(record(0x41, 0, 1, 1, {1, 0, 0, 0}), pic, {}), 1);
  EXPECT_EQ(plane(pic.rgb, 3), (ByteVec{255, 0, 0}));
  // ...a third with its own palette shows its own and leaves the cache as it was.
  ASSERT_EQ(decodepicture(withattachment(record(0x7B, 0, 1, 1, {1, 0, 0, 0}), kPal24), pic, {}), 1);
  EXPECT_EQ(plane(pic.rgb, 3), (ByteVec{40, 50, 60}));
  EXPECT_EQ(shpipalettecache().entries[1], (Rgba{255, 0, 0, 255}));
  // Truecolour pictures neither use nor fill it.
  resetshpipalettecache();
  ASSERT_EQ(decodepicture(record(0x7F, 0, 1, 1, {1, 2, 3}), pic, f.fn()), 1);
  EXPECT_EQ(f.calls, 1);
  EXPECT_FALSE(shpipalettecache().filled);
}

TEST_F(ShpiPixels, RecordsClaimingMoreThanTheyHoldAreRefused) {
  // Each type claims 4 x 4 pixels and holds one byte less than that takes.
  for (int type : {0x40, 0x41, 0x7B, 0x7C, 0x6D, 0x78, 0x7E, 0x7F, 0x7D}) {
    SCOPED_TRACE(type);
    const ShpiType* t = shpitype(type);
    const size_t holds = static_cast<size_t>(type == 0x40 ? 8 : 16 * t->pixelBytes) - 1;
    EXPECT_EQ(decodepicture(record(uint8_t(type), 0, 4, 4, ByteVec(holds, 1)), pic, {}), 0);
    EXPECT_EQ(pic.rgb, nullptr);
    EXPECT_EQ(pic.indexed, nullptr);
    EXPECT_EQ(decodepicture(record(uint8_t(type), 0, 4, 4, ByteVec(holds + 1, 1)), pic, {}), 1);
  }
  EXPECT_EQ(decodepicture(record(0x7D, 0, 0xFFFF, 0xFFFF, ByteVec(64, 0)), pic, {}), 0);
  EXPECT_EQ(decodepicture(record(0x7B, 0, 0x8000, 1, ByteVec(0x8000, 0)), pic, {}), 0);
  EXPECT_EQ(decodepicture(ByteVec{0x7B, 0, 0, 0, 1, 0, 1}, pic, {}), 0);
  EXPECT_EQ(decodepicture(record(0x22, 0, 1, 1, {1, 2, 3}), pic, {}), 0);
}

TEST_F(ShpiPixels, CompressedPixelDataIsExpanded) {
  // 0xFB: an indexed picture of 4 x 2 whose pixels are one 10 FB block,
  // with the palette attached after the compressed bytes.
  const ByteVec indices{0, 1, 2, 1, 2, 2, 0, 0};
  const ByteVec rec = withattachment(record(0xFB, 0, 4, 2, test::fbliteral(indices)), kPal24);
  ASSERT_EQ(decodepicture(rec, pic, {}), 1);
  EXPECT_EQ(plane(pic.indexed, 8), indices);
  EXPECT_EQ(plane(pic.rgb, 6), (ByteVec{10, 20, 30, 40, 50, 60}));

  // 0xFD: 32-bit pixels, 2 x 1.
  ASSERT_EQ(decodepicture(record(0xFD, 0, 2, 1, test::fbliteral({1, 2, 3, 4, 5, 6, 7, 8})), pic, {}), 1);
  EXPECT_EQ(plane(pic.rgb, 6), (ByteVec{3, 2, 1, 7, 6, 5}));
  EXPECT_EQ(plane(pic.alpha, 2), (ByteVec{4, 8}));

  // The block expands to fewer bytes than the picture needs.
  EXPECT_EQ(decodepicture(record(0xFB, 0, 4, 4, test::fbliteral(indices)), pic, {}), 0);
  // A block that claims more than its commands give is corrupt.
  ByteVec bad = test::fbliteral(indices);
  bad[4] = 64;
  EXPECT_EQ(decodepicture(record(0xFB, 0, 4, 2, bad), pic, {}), 0);
}

Image twopixels(bool withalpha) {
  Image im;
  im.width = 2;
  im.height = 1;
  im.rgb = std::move(allocblock(10).data);
  const uint8_t rgb[] = {252, 128, 4, 0, 64, 248};
  std::copy(rgb, rgb + 6, im.rgb.get());
  if (withalpha) {
    im.alpha = std::move(allocblock(2).data);
    im.alpha[0] = 7, im.alpha[1] = 255;
  }
  im.indexed = std::move(allocblock(2).data);
  im.indexed[0] = 5, im.indexed[1] = 9;
  return im;
}

TEST(EncodePixels, EveryTypeWritesItsLayout) {
  // Pixels (252,128,4, alpha 7) and (0,64,248, alpha 255), indices 5 and 9.
  struct Case {
    int type;
    bool alpha;
    ByteVec expected;
  } cases[] = {
      {0x78, false, {0x00, 0xFC, 0x1F, 0x02}},
      {0x7E, false, {0x00, 0x7E, 0x1F, 0x01}},
      {0x7F, false, {4, 128, 252, 248, 64, 0}},
      {0x7D, true, {4, 128, 252, 7, 248, 64, 0, 255}},
      {0x7D, false, {4, 128, 252, 255, 248, 64, 0, 255}},
      {0x6D, true, {0xF8, 0x00, 0x04, 0xFF}},
      {0x41, false, {5, 9}},
      {0x7B, false, {5, 9}},
      {0xFC, false, {5, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const Image im = twopixels(c.alpha);
    const Block b = encodepixels(c.type, im);
    ASSERT_TRUE(b);
    EXPECT_EQ(ByteVec(b.get(), b.get() + b.size), c.expected);
  }
}

TEST(EncodePixels, FourBitPacksTwoIndicesAndKeepsAnOddLastOne) {
  Image im;
  im.width = 3;
  im.height = 1;
  im.indexed = std::move(allocblock(3).data);
  im.indexed[0] = 1, im.indexed[1] = 2, im.indexed[2] = 3;
  const Block b = encodepixels(0x40, im);
  ASSERT_TRUE(b);
  EXPECT_EQ(ByteVec(b.get(), b.get() + b.size), (ByteVec{0x21, 0x03}));
}

TEST(EncodePixels, MissingPlaneOrUnknownTypeGivesNothing) {
  Image im;
  im.width = 1;
  im.height = 1;
  im.rgb = std::move(allocblock(7).data);
  EXPECT_FALSE(encodepixels(0x7B, im));
  EXPECT_FALSE(encodepixels(0x22, im));
  EXPECT_TRUE(encodepixels(0x7F, im));
}

TEST_F(ShpiPixels, SixteenBit565LosesTheLowestGreenBit) {
  Image im;
  im.width = 1;
  im.height = 1;
  im.rgb = std::move(allocblock(7).data);
  im.rgb[0] = 0x10, im.rgb[1] = 0x0C, im.rgb[2] = 0x18;
  const Block b = encodepixels(0x78, im);
  ASSERT_EQ(decodepicture(record(0x78, 0, 1, 1, ByteVec(b.get(), b.get() + b.size)), pic, {}), 1);
  EXPECT_EQ(plane(pic.rgb, 3), (ByteVec{0x10, 0x08, 0x18}));
}

}  // namespace
}  // namespace torvex
