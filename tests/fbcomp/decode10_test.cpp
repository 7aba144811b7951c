// The header, fbdecompress and the 10 FB decoder, on streams written by hand
// from the command table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "torvex/fbcomp/fb.h"

namespace torvex {
namespace {

using Bytes8 = std::vector<uint8_t>;

Bytes8 header(uint8_t kind, uint32_t size) {
  return {kind, 0xFB, static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
}

Bytes8 cat(Bytes8 a, const Bytes8& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes8 text(const std::string& s) { return {s.begin(), s.end()}; }

Bytes8 decode(const Bytes8& stream, FbStatus& status) {
  const Block b = fbdecompress(stream, status);
  if (!b) return {};
  return {b.get(), b.get() + b.size};
}

TEST(FbHeader, RecognisesTheThreeKindsOnly) {
  int32_t size = -7;
  EXPECT_TRUE(fbinfo(header(0x10, 0x123456), size));
  EXPECT_EQ(size, 0x123456);
  EXPECT_TRUE(fbinfo(header(0x30, 0xFFFFFF), size));
  EXPECT_EQ(size, 0xFFFFFF);
  EXPECT_TRUE(fbinfo(header(0x46, 0), size));
  EXPECT_EQ(size, 0);
  for (const Bytes8& other : {header(0x11, 5), header(0x31, 5), header(0x47, 5), Bytes8{0x10, 0xFA, 0, 0, 5},
                              Bytes8{0x10, 0xFB, 0, 0}}) {
    size = -7;
    EXPECT_FALSE(fbinfo(other, size));
    EXPECT_EQ(size, -7);
    FbStatus status = FbStatus::kOk;
    EXPECT_FALSE(fbdecompress(other, status));
    EXPECT_EQ(status, FbStatus::kNotCompressed);
  }
}

struct Case {
  const char* name;
  Bytes8 stream;
  Bytes8 expected;
};

TEST(Fb10, DecodesEveryCommandForm) {
  Bytes8 ab70000;  // 70,000 bytes in 625 literal runs of 112, then a far copy
  Bytes8 far = header(0x10, 70005);
  for (int run = 0; run < 625; ++run) {
    far.push_back(0xFB);
    for (int i = 0; i < 112; ++i) {
      const auto v = static_cast<uint8_t>((run * 112 + i) * 7 + (run * 112 + i) / 256);
      far.push_back(v);
      ab70000.push_back(v);
    }
  }
  // Four-byte form, distance 70000 (d = 69999 = 0x1116F needs bit 0x10 of
  // b0), length 5, no literals.
  far = cat(far, {0xD0, 0x11, 0x6F, 0x00, 0xFC});
  Bytes8 farexpected = ab70000;
  farexpected.insert(farexpected.end(), ab70000.begin(), ab70000.begin() + 5);

  // Four-byte form at its longest: length 1028 at distance 1.
  Bytes8 longest = cat(header(0x10, 1029), {0xCD, 0x00, 0x00, 0xFF, 'q', 0xFC});

  const std::vector<Case> cases = {
      {"empty", cat(header(0x10, 0), {0xFC}), {}},
      {"literal run and end literal", cat(header(0x10, 5), {0xE0, 'a', 'b', 'c', 'd', 0xFD, 'e'}), text("abcde")},
      // 2-byte form: one literal, then distance 1 length 10 (overlapping).
      {"overlapping copy", cat(header(0x10, 11), {0x1D, 0x00, 'x', 0xFC}), text("xxxxxxxxxxx")},
      // 3-byte form: the literal count sits in the top bits of the second byte.
      {"three-byte form", cat(header(0x10, 6), {0x80, 0x80, 0x01, 'a', 'b', 0xFC}), text("ababab")},
      // 2-byte form at distance 1024: d = 1023 is (0x60 << 3) + 0xFF.
      {"two-byte form far", [] {
         Bytes8 s = header(0x10, 1027);
         for (int i = 0; i < 1024; i += 64) {
           s.push_back(0xEF);
           for (int j = 0; j < 64; ++j) s.push_back(static_cast<uint8_t>(i + j));
         }
         return cat(s, {0x60, 0xFF, 0xFC});
       }(),
       [] {
         Bytes8 e;
         for (int i = 0; i < 1024; ++i) e.push_back(static_cast<uint8_t>(i));
         return cat(e, {0, 1, 2});
       }()},
      {"four-byte form beyond 65536", far, farexpected},
      {"four-byte form longest", longest, Bytes8(1029, 'q')},
      {"short distances repeat their pattern", cat(header(0x10, 23), {0xE0, 'a', 'b', 'c', 'd', 0x8F, 0x00, 0x02, 0xFC}),
       text("abcdbcdbcdbcdbcdbcdbcdb")},
  };
  for (const Case& c : cases) {
    FbStatus status;
    EXPECT_EQ(decode(c.stream, status), c.expected) << c.name;
    EXPECT_EQ(status, FbStatus::kOk) << c.name;
  }
}

TEST(Fb10, LeavesTheSpareBytesZero) {
  // The last copy (distance 20, length 5) would be moved in a wide unit.
  Bytes8 s = header(0x10, 25);
  s.push_back(0xE4);
  for (int i = 1; i <= 20; ++i) s.push_back(static_cast<uint8_t>(i));
  s = cat(s, {0x81, 0x00, 0x13, 0xFC});  // 3-byte form, length 5, distance 20
  FbStatus status;
  const Block b = fbdecompress(s, status);
  ASSERT_TRUE(b);
  ASSERT_EQ(b.size, 25);
  EXPECT_EQ(b.get()[20], 1);
  EXPECT_EQ(b.get()[24], 5);
  for (int i = 25; i < 25 + 32; ++i) EXPECT_EQ(b.get()[i], 0) << i;
}

// The densest stream there is: four literals, then only four-byte copies of
// the longest length (1,028) from one byte back. A stated size is checked
// against what the stream's length could give before anything is
// allocated; that check must let this one through.
TEST(Fb10, DensestStreamDecodes) {
  for (int copies : {1, 5, 40}) {
    Bytes8 s = header(0x10, 4 + 1028 * static_cast<uint32_t>(copies));
    s = cat(s, {0xE0, 'a', 'b', 'c', 'd'});
    for (int i = 0; i < copies; ++i) s = cat(s, {0xCC, 0x00, 0x00, 0xFF});
    s.push_back(0xFC);
    FbStatus status;
    const Bytes8 out = decode(s, status);
    ASSERT_EQ(status, FbStatus::kOk) << copies;
    ASSERT_EQ(out.size(), 4 + 1028u * static_cast<size_t>(copies));
    EXPECT_EQ(out.back(), 'd');
  }
  FbStatus status = FbStatus::kOk;
  EXPECT_FALSE(fbdecompress(cat(header(0x10, 0xFFFFFF), {0xE0, 'a', 'b', 'c', 'd', 0xCC, 0x00, 0x00, 0xFF, 0xFC}), status));
  EXPECT_EQ(status, FbStatus::kCorrupt);
}

TEST(Fb10, RefusesCorruptStreams) {
  const std::vector<Case> cases = {
      {"no end command", header(0x10, 0), {}},
      {"two-byte command cut short", cat(header(0x10, 4), {0x00}), {}},
      {"three-byte command cut short", cat(header(0x10, 4), {0x80, 0x00}), {}},
      {"four-byte command cut short", cat(header(0x10, 5), {0xC0, 0x00, 0x00}), {}},
      {"literals past the input", cat(header(0x10, 8), {0xE1, 'a', 'b', 'c'}), {}},
      {"end literals past the input", cat(header(0x10, 3), {0xFF, 'a', 'b'}), {}},
      {"copy literals past the input", cat(header(0x10, 6), {0x03, 0x00, 'a'}), {}},
      {"copy before the start", cat(header(0x10, 4), {0x01, 0x01, 'a', 0xFC}), {}},
      {"copy from nothing", cat(header(0x10, 3), {0x00, 0x00, 0xFC}), {}},
      {"far copy before the start", cat(header(0x10, 9), {0xD0, 0xFF, 0xFF, 0x00, 0xE0, 'a', 'b', 'c', 'd', 0xFC}), {}},
      {"copy past the stated size", cat(header(0x10, 5), {0x1D, 0x00, 'x', 0xFC}), {}},
      {"literals past the stated size", cat(header(0x10, 3), {0xE0, 'a', 'b', 'c', 'd', 0xFC}), {}},
      {"ends before the stated size", cat(header(0x10, 6), {0xE0, 'a', 'b', 'c', 'd', 0xFD, 'e'}), {}},
      {"full size but no end command", cat(header(0x10, 4), {0xE0, 'a', 'b', 'c', 'd'}), {}},
  };
  for (const Case& c : cases) {
    FbStatus status = FbStatus::kOk;
    EXPECT_FALSE(fbdecompress(c.stream, status)) << c.name;
    EXPECT_EQ(status, FbStatus::kCorrupt) << c.name;
  }
}

}  // namespace
}  // namespace torvex
