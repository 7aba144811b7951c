// The byte reader, strict and zero-filling, and the checked LZ output.
#include "torvex/platform/bytereader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvex {
namespace {

using Bytes8 = std::vector<uint8_t>;

TEST(ByteReader, NumbersInBothByteOrders) {
  const Bytes8 b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
  ByteReader in(b);
  EXPECT_EQ(in.u8(), 0x01);
  EXPECT_EQ(in.u16le(), 0x0302);
  EXPECT_EQ(in.u16be(), 0x0405);
  EXPECT_EQ(in.u24be(), 0x060708u);
  EXPECT_EQ(in.u32le(), 0x0C0B0A09u);
  EXPECT_EQ(in.u32be(), 0x0D0E0F10u);
  EXPECT_TRUE(in.atend());
  EXPECT_FALSE(in.overrun());
}

// A strict reader refuses a read that passes the end and does not move.
TEST(ByteReader, StrictReadsPastTheEndFailWithoutMoving) {
  const Bytes8 b = {1, 2, 3};
  const struct {
    const char* what;
    void (*read)(ByteReader&);
  } cases[] = {
      {"u32le", [](ByteReader& r) { r.u32le(); }},
      {"u32be", [](ByteReader& r) { r.u32be(); }},
      {"u24be", [](ByteReader& r) { r.u24be(); }},
      {"bytes", [](ByteReader& r) { r.bytes(3); }},
      {"skip", [](ByteReader& r) { r.skip(3); }},
      {"read", [](ByteReader& r) {
         uint8_t to[3];
         r.read(to);
       }},
      {"seek", [](ByteReader& r) { r.seek(4); }},
  };
  for (const auto& c : cases) {
    ByteReader in(b);
    in.u8();
    EXPECT_THROW(c.read(in), ParseError) << c.what;
    EXPECT_EQ(in.pos(), 1u) << c.what;
    EXPECT_EQ(in.u16be(), 0x0203) << c.what;
    EXPECT_THROW(in.u8(), ParseError) << c.what;
  }
}

TEST(ByteReader, ZeroFillingReadsGiveWhatIsLeftThenZeros) {
  const Bytes8 b = {0xAA, 0xBB, 0xCC};
  ByteReader in(b, PastEnd::kZeros);
  in.skip(1);
  EXPECT_EQ(in.u32be(), 0xBBCC0000u);  // two bytes there, two zeros
  EXPECT_TRUE(in.atend());
  EXPECT_EQ(in.zerosread(), 2u);
  EXPECT_EQ(in.u8(), 0);
  EXPECT_EQ(in.u16le(), 0);
  EXPECT_EQ(in.zerosread(), 5u);

  ByteReader block(b, PastEnd::kZeros);
  uint8_t to[5] = {9, 9, 9, 9, 9};
  block.read(to);
  EXPECT_EQ(Bytes8(to, to + 5), (Bytes8{0xAA, 0xBB, 0xCC, 0, 0}));
  EXPECT_EQ(block.zerosread(), 2u);

  ByteReader skipping(b, PastEnd::kZeros);
  skipping.skip(10);
  EXPECT_TRUE(skipping.atend());
  EXPECT_EQ(skipping.zerosread(), 7u);

  // Nothing past the end is counted while the reads stay inside.
  ByteReader inside(b, PastEnd::kZeros);
  EXPECT_EQ(inside.u24be(), 0xAABBCCu);
  EXPECT_FALSE(inside.overrun());
}

TEST(ByteReader, ZeroFillingReadersStillHandOutOnlyRealBytes) {
  const Bytes8 b = {1, 2};
  ByteReader in(b, PastEnd::kZeros);
  EXPECT_THROW(in.bytes(3), ParseError);
  EXPECT_THROW(in.peek(3), ParseError);
  EXPECT_THROW(in.seek(3), ParseError);
  EXPECT_EQ(in.pos(), 0u);
  EXPECT_FALSE(in.overrun());
}

// ---- LzOutput ----------------------------------------------------------------

// What a copy of `count` bytes from `distance` back gives, byte by byte.
Bytes8 copiedbytes(Bytes8 out, size_t distance, size_t count) {
  for (size_t i = 0; i < count; ++i) out.push_back(out[out.size() - distance]);
  return out;
}

// Distances 1 to 20 cover every wide path (1, 2-7, 8-15, 16 and more), at
// lengths from 1 to past two units, in a buffer with and without spare bytes.
TEST(LzOutput, CopiesLikeAByteByByteCopy) {
  const Bytes8 start = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200};
  for (const size_t spare : {size_t{0}, size_t{32}}) {
    for (size_t distance = 1; distance <= start.size(); ++distance) {
      for (size_t count = 1; count <= 40; ++count) {
        const Bytes8 expected = copiedbytes(start, distance, count);
        Bytes8 buffer(expected.size() + spare, 0xEE);
        LzOutput out(buffer, expected.size());
        ByteReader in(start);
        out.literal(in, start.size());
        out.copy(distance, count);
        EXPECT_TRUE(out.full());
        out.finish();
        EXPECT_EQ(Bytes8(buffer.begin(), buffer.begin() + static_cast<long>(expected.size())), expected)
            << "distance " << distance << " count " << count << " spare " << spare;
        EXPECT_EQ(Bytes8(buffer.begin() + static_cast<long>(expected.size()), buffer.end()), Bytes8(spare, 0))
            << "the spare bytes are cleared";
      }
    }
  }
}

TEST(LzOutput, RefusesBeforeAByteMoves) {
  const Bytes8 literals = {1, 2, 3, 4};
  const struct {
    const char* what;
    void (*step)(LzOutput&);
  } cases[] = {
      {"zero distance", [](LzOutput& o) { o.copy(0, 1); }},
      {"distance reaching before the start", [](LzOutput& o) { o.copy(5, 1); }},
      {"copy past the end", [](LzOutput& o) { o.copy(1, 5); }},
      {"literal past the end", [](LzOutput& o) {
         const Bytes8 more(5, 9);
         ByteReader in(more);
         o.literal(in, 5);
       }},
      {"literal past the input", [](LzOutput& o) {
         const Bytes8 more(2, 9);
         ByteReader in(more);
         o.literal(in, 3);
       }},
  };
  for (const auto& c : cases) {
    Bytes8 buffer(8 + 32, 0);
    LzOutput out(buffer, 8);
    ByteReader in(literals);
    out.literal(in, 4);
    const Bytes8 before = buffer;
    EXPECT_THROW(c.step(out), ParseError) << c.what;
    EXPECT_EQ(out.size(), 4u) << c.what;
    EXPECT_EQ(buffer, before) << c.what;
  }

  Bytes8 one(1 + 32, 0);
  LzOutput full(one, 1);
  full.put(7);
  EXPECT_THROW(full.put(8), ParseError);
  EXPECT_THROW(full.copy(1, 1), ParseError);
  EXPECT_EQ(one[1], 0);
}

TEST(LzOutput, WideLiteralsNeverReadPastTheInput) {
  // Wide moves read whole 16-byte units only when the input holds them; a
  // literal at the very end of the input is copied exactly. (The sanitized
  // build catches a read past this vector.)
  for (size_t count = 0; count <= 40; ++count) {
    for (size_t after = 0; after <= 20; ++after) {
      Bytes8 input(count + after);
      for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i + 1);
      Bytes8 buffer(count + 32, 0);
      LzOutput out(buffer, count);
      ByteReader in(input);
      out.literal(in, count);
      EXPECT_EQ(in.pos(), count);
      EXPECT_EQ(Bytes8(buffer.begin(), buffer.begin() + static_cast<long>(count)),
                Bytes8(input.begin(), input.begin() + static_cast<long>(count)));
    }
  }
}

}  // namespace
}  // namespace torvex
