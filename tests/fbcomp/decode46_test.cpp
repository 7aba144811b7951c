// The 46 FB byte-pair decoder, on streams written by hand.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "torvex/fbcomp/fb.h"

namespace torvex {
namespace {

using Bytes8 = std::vector<uint8_t>;

Bytes8 block46(uint32_t size, uint8_t escape, const std::vector<std::array<uint8_t, 3>>& pairs, const Bytes8& body) {
  Bytes8 s = {0x46, 0xFB, static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8),
              static_cast<uint8_t>(size), escape, static_cast<uint8_t>(pairs.size())};
  for (const auto& p : pairs) s.insert(s.end(), p.begin(), p.end());
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

Bytes8 decode(const Bytes8& stream, FbStatus& status) {
  const Block b = fbdecompress(stream, status);
  if (!b) return {};
  return {b.get(), b.get() + b.size};
}

TEST(Fb46, ExpandsNestedPairsLeftFirst) {
  // 0x80 = "ab", 0x81 = 0x80 'c' = "abc", 0x82 = 0x81 0x80 = "abcab".
  const auto pairs = std::vector<std::array<uint8_t, 3>>{{0x80, 'a', 'b'}, {0x81, 0x80, 'c'}, {0x82, 0x81, 0x80}};
  // Then a plain 'x', an escaped 0x80 (a pair code written plainly), the
  // escape byte written plainly, and the end.
  FbStatus status;
  const Bytes8 exact = block46(11, 0xFF, pairs, {0x82, 'x', 0xFF, 0x80, 0xFF, 0xFF, 0x81, 0xFF, 0x00});
  EXPECT_EQ(decode(exact, status), (Bytes8{'a', 'b', 'c', 'a', 'b', 'x', 0x80, 0xFF, 'a', 'b', 'c'}));
  EXPECT_EQ(status, FbStatus::kOk);
}

TEST(Fb46, ALaterDefinitionReplacesAnEarlierOne) {
  const Bytes8 s = block46(2, 0x00, {{0x80, 'a', 'b'}, {0x80, 'c', 'd'}}, {0x80, 0x00, 0x00});
  FbStatus status;
  EXPECT_EQ(decode(s, status), (Bytes8{'c', 'd'}));
  EXPECT_EQ(status, FbStatus::kOk);
}

TEST(Fb46, RefusesCorruptStreams) {
  struct Case {
    const char* name;
    Bytes8 stream;
  };
  const std::vector<Case> cases = {
      {"no end", block46(2, 0xFF, {}, {'a', 'b'})},
      {"escape at the very end", block46(1, 0xFF, {}, {'a', 0xFF})},
      {"pairs cut short", Bytes8{0x46, 0xFB, 0, 0, 1, 0xFF, 2, 0x80, 'a', 'b', 0x81}},
      {"no escape and count", Bytes8{0x46, 0xFB, 0, 0, 0, 0xFF}},
      // The escape defined as a pair cannot end the stream any more.
      {"escape redefined", block46(4, 0xFF, {{0xFF, 'a', 'b'}}, {0xFF, 0x00})},
      // A pair whose left is itself would expand for ever.
      {"pair that contains itself", block46(100, 0xFF, {{0x80, 0x80, 'a'}}, {0x80, 0xFF, 0x00})},
      {"pair that grows without end", block46(100, 0xFF, {{0x80, 'a', 0x80}}, {0x80, 0xFF, 0x00})},
      {"more than the stated size", block46(2, 0xFF, {{0x80, 'a', 'b'}}, {0x80, 'c', 0xFF, 0x00})},
      {"less than the stated size", block46(4, 0xFF, {{0x80, 'a', 'b'}}, {0x80, 'c', 0xFF, 0x00})},
  };
  for (const Case& c : cases) {
    FbStatus status = FbStatus::kOk;
    EXPECT_FALSE(fbdecompress(c.stream, status)) << c.name;
    EXPECT_EQ(status, FbStatus::kCorrupt) << c.name;
  }
}

}  // namespace
}  // namespace torvex
