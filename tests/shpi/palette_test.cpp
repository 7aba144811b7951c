// Palette records of every type: decoding, the transparent-colour rule of
// the 8-bit type, start index and size limits, and writing entries back.
#include <gtest/gtest.h>

#include "records.h"
#include "torvex/shpi/shpi.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::record;

constexpr Rgba kUntouched{9, 9, 9, 9};

Palette untouched() {
  Palette p;
  p.fill(kUntouched);
  return p;
}

struct DecodeCase {
  uint8_t type;
  ByteVec entries;  // two stored entries
  Rgba first, second;
};

// Expected colours worked out by hand from the layout table.
const DecodeCase kDecodeCases[] = {
    {0x22, {0x3F, 0x20, 0x01, 0x00, 0x10, 0x3E}, {252, 128, 4, 255}, {0, 64, 248, 255}},
    {0x40, {0x3F, 0x20, 0x01, 0x00, 0x10, 0x3E}, {252, 128, 4, 255}, {0, 64, 248, 255}},
    {0xC0, {0x3F, 0x20, 0x01, 0x00, 0x10, 0x3E}, {252, 128, 4, 255}, {0, 64, 248, 255}},
    // v = 0x7C1F: red and blue fields full; v = 0x03E0: green full.
    {0x23, {0x1F, 0x7C, 0xE0, 0x03}, {248, 0, 248, 255}, {0, 248, 0, 255}},
    {0x2D, {0x1F, 0x7C, 0xE0, 0x03}, {248, 0, 248, 255}, {0, 248, 0, 255}},
    {0x24, {10, 20, 30, 40, 50, 60}, {10, 20, 30, 255}, {40, 50, 60, 255}},
    // v = 0xF800: red; v = 0x07DF: green (bits 6-10) and blue.
    {0x29, {0x00, 0xF8, 0xDF, 0x07}, {248, 0, 0, 255}, {0, 248, 248, 255}},
    {0x6F, {0x00, 0xF8, 0xDF, 0x07}, {248, 0, 0, 255}, {0, 248, 248, 255}},
    {0x2A, {1, 2, 3, 4, 200, 100, 50, 0}, {3, 2, 1, 4}, {50, 100, 200, 0}},
    {0x7C, {1, 2, 3, 4, 200, 100, 50, 0}, {3, 2, 1, 4}, {50, 100, 200, 0}},
    // 16-bit colour with red in the low bits, then an alpha byte.
    {0x2E, {0x1F, 0x7C, 0x00, 0x80, 0xE0, 0x03, 0x00, 0x11}, {248, 0, 248, 128}, {0, 248, 0, 0x11}},
};

TEST(DecodePalette, EveryTypeGivesTheColoursOfItsLayout) {
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << int(c.type));
    Palette p = untouched();
    EXPECT_EQ(decodepalette(record(c.type, 0, 2, 1, c.entries), p), 8);
    EXPECT_EQ(p[0], c.first);
    EXPECT_EQ(p[1], c.second);
    EXPECT_EQ(p[2], kUntouched);
  }
}

TEST(DecodePalette, RawTypeTakes256EntriesWhateverItsCount) {
  ByteVec body;
  for (int i = 0; i < 256; ++i) body.insert(body.end(), {uint8_t(i), uint8_t(255 - i), 7, uint8_t(i / 2)});
  Palette p = untouched();
  EXPECT_EQ(decodepalette(record(0xFF, 0, 2, 0, body), p), 1024);
  EXPECT_EQ(p[0], (Rgba{0, 255, 7, 0}));
  EXPECT_EQ(p[255], (Rgba{255, 0, 7, 127}));
}

TEST(DecodePalette, UnknownTypeAndShortRecordDecodeNothing) {
  Palette p = untouched();
  EXPECT_EQ(decodepalette(record(0x99, 0, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}), p), 0);
  const ByteVec shortrecord{0x24, 0, 0, 0, 1, 0};
  EXPECT_EQ(decodepalette(shortrecord, p), 0);
  EXPECT_EQ(p, untouched());
}

TEST(DecodePalette, StartIndexPlacesEntriesAndStopsAfter255) {
  // Start 250, ten entries stored: only entries 250-255 can be written.
  ByteVec body;
  for (int i = 0; i < 10; ++i) body.insert(body.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  Palette p = untouched();
  EXPECT_EQ(decodepalette(record(0x24, 0, 10, 1, body, 250), p), 6 * 4);
  EXPECT_EQ(p[249], kUntouched);
  EXPECT_EQ(p[250], (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(p[255], (Rgba{5, 5, 5, 255}));

  // A start index past the table writes nothing.
  Palette q = untouched();
  EXPECT_EQ(decodepalette(record(0x24, 0, 10, 1, body, 300), q), 0);
  EXPECT_EQ(q, untouched());
}

TEST(DecodePalette, CountBeyondTheRecordStopsAtTheLastCompleteEntry) {
  // Claims 200 entries, holds two and a half.
  Palette p = untouched();
  EXPECT_EQ(decodepalette(record(0x24, 0, 200, 1, {1, 2, 3, 4, 5, 6, 7, 8}), p), 8);
  EXPECT_EQ(p[1], (Rgba{4, 5, 6, 255}));
  EXPECT_EQ(p[2], kUntouched);
  // A count smaller than the entries held stops at the count.
  Palette q = untouched();
  EXPECT_EQ(decodepalette(record(0x24, 0, 1, 1, {1, 2, 3, 4, 5, 6}), q), 4);
  EXPECT_EQ(q[1], kUntouched);
}

TEST(DecodePalette, EightBitTypeMakesALastGreenOrMagentaEntryTransparent) {
  struct Case {
    ByteVec entries;
    int count;
    Rgba lastexpected;
  } cases[] = {
      {{1, 2, 3, 255, 0, 255}, 2, {255, 0, 255, 0}},
      {{1, 2, 3, 0, 255, 0}, 2, {0, 255, 0, 0}},
      {{1, 2, 3, 0, 255, 1}, 2, {0, 255, 1, 255}},  // nearly green is a colour
      // Count 1 ends at the first entry: the magenta second entry is not read.
      {{0, 255, 0, 255, 0, 255}, 1, {0, 255, 0, 0}},
  };
  for (const Case& c : cases) {
    Palette p = untouched();
    decodepalette(record(0x24, 0, static_cast<unsigned>(c.count), 1, c.entries), p);
    EXPECT_EQ(p[static_cast<size_t>(c.count - 1)], c.lastexpected);
  }
  // Only the last entry counts: green first, a colour after it.
  Palette p = untouched();
  decodepalette(record(0x24, 0, 2, 1, {0, 255, 0, 1, 2, 3}), p);
  EXPECT_EQ(p[0].a, 255);
  // Other types have no such rule.
  Palette q = untouched();
  decodepalette(record(0x2A, 0, 1, 1, {255, 0, 255, 255}), q);
  EXPECT_EQ(q[0].a, 255);
}

struct EncodeCase {
  uint8_t type;
  ByteVec expected;  // the two entries as stored
};

// Palette entries 0 (252,128,4,7) and 1 (0,64,248,255), encoded by hand.
const EncodeCase kEncodeCases[] = {
    {0x22, {63, 32, 1, 0, 16, 62}},
    {0x40, {63, 32, 1, 0, 16, 62}},
    {0xC0, {63, 32, 1, 0, 16, 62}},
    {0x23, {0x1F, 0x02, 0x00, 0x7D}},
    {0x2D, {0x1F, 0x02, 0x00, 0x7D}},
    {0x29, {0x00, 0xFC, 0x1F, 0x02}},
    {0x24, {252, 128, 4, 0, 64, 248}},
    {0x2A, {4, 128, 252, 7, 248, 64, 0, 255}},
    {0x7C, {4, 128, 252, 7, 248, 64, 0, 255}},
};

Palette twocolours() {
  Palette p{};
  p[0] = {252, 128, 4, 7};
  p[1] = {0, 64, 248, 255};
  p[2] = {1, 1, 1, 1};
  return p;
}

TEST(EncodePalette, EveryEncodableTypeWritesItsLayout) {
  for (const EncodeCase& c : kEncodeCases) {
    SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << int(c.type));
    // Room for three entries; the count says two, so the third stays.
    ByteVec r = record(c.type, 0, 2, 1, ByteVec(c.expected.size() / 2 * 3, 0xAA));
    encodepalette(r, twocolours());
    EXPECT_EQ(ByteVec(r.begin() + 16, r.begin() + 16 + static_cast<long>(c.expected.size())), c.expected);
    EXPECT_EQ(r.back(), 0xAA);
  }
}

TEST(EncodePalette, TypesWithoutEncodingKeepTheirEntries) {
  for (uint8_t type : {0x2E, 0x6F, 0xFF, 0x99}) {
    ByteVec r = record(type, 0, 2, 1, ByteVec(8, 0xAA));
    const ByteVec before = r;
    encodepalette(r, twocolours());
    EXPECT_EQ(r, before) << int(type);
  }
}

TEST(EncodePalette, ShortRecordIsWrittenOnlyAsFarAsItReaches) {
  // Count 4, room for one and a half entries: one entry written.
  ByteVec r = record(0x24, 0, 4, 1, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA});
  encodepalette(r, twocolours());
  EXPECT_EQ(r, record(0x24, 0, 4, 1, {252, 128, 4, 0xAA, 0xAA}));
}

TEST(EncodePalette, StartIndexMirrorsDecoding) {
  // A record whose entries start at palette index 250 keeps them there
  // through a decode and an encode of the decoded table.
  ByteVec r = record(0x24, 0, 3, 1, {10, 20, 30, 40, 50, 60, 70, 80, 90}, 250);
  Palette p{};
  ASSERT_EQ(decodepalette(r, p), 12);
  ByteVec copy = r;
  std::fill(copy.begin() + 16, copy.end(), 0);
  encodepalette(copy, p);
  EXPECT_EQ(copy, r);
}

}  // namespace
}  // namespace torvex
