// The 30 FB decoder, on bit streams written here from the layout: numbers,
// code-length counts, the symbol list, canonical codes, runs, literals and
// the end mark.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "torvex/fbcomp/fb.h"

namespace torvex {
namespace {

using Bytes8 = std::vector<uint8_t>;

class BitWriter {
 public:
  void bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1);
  }
  void bit(uint32_t b) {
    if (used_ % 8 == 0) out_.push_back(0);
    if (b) out_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
    ++used_;
  }
  // z zero bits, a one bit, then z + 2 bits: 2^(z+2) + those bits.
  void number(uint32_t v) {
    int z = 0;
    while ((v >> (z + 3)) != 0) ++z;
    bits(0, z);
    bit(1);
    bits(v - (1u << (z + 2)), z + 2);
  }
  void header(uint32_t size, uint8_t escape) {
    bits(0x30FB, 16);
    bits(size, 24);
    bits(escape, 8);
  }
  size_t used() const { return used_; }
  Bytes8 bytes() const { return out_; }

 private:
  Bytes8 out_;
  size_t used_ = 0;
};

Bytes8 decode(const Bytes8& stream, FbStatus& status) {
  const Block b = fbdecompress(stream, status);
  if (!b) return {};
  return {b.get(), b.get() + b.size};
}

TEST(Fb30, NumbersAreWrittenAsTheLayoutSays) {
  const std::vector<std::pair<uint32_t, std::string>> table = {
      {4, "100"}, {5, "101"}, {6, "110"}, {7, "111"}, {8, "01000"}, {15, "01111"}, {16, "0010000"}};
  for (const auto& [value, pattern] : table) {
    BitWriter w;
    w.number(value);
    std::string got;
    for (size_t i = 0; i < w.used(); ++i) got += (w.bytes()[i / 8] & (0x80 >> (i % 8))) ? '1' : '0';
    EXPECT_EQ(got, pattern) << value;
  }
}

// Four codes of length 2: 'a' 00, 'b' 01, 'c' 10 and the escape 'z' 11.
void twobitcode(BitWriter& w, uint32_t size) {
  w.header(size, 'z');
  w.number(4);  // no codes of length 1
  w.number(8);  // four of length 2: the code space is full
  // The list: 'a' is the 98th unused value after 255 (0 .. 0x61), then 'b'
  // and 'c' follow directly, and 'z' is the 23rd after 'c'.
  for (uint32_t k : {98u, 1u, 1u, 23u}) w.number(k + 3);
}

TEST(Fb30, DecodesSymbolsRunsLiteralsAndTheEnd) {
  BitWriter w;
  twobitcode(w, 8);
  w.bits(0b00, 2);  // a
  w.bits(0b01, 2);  // b
  w.bits(0b10, 2);  // c
  w.bits(0b11, 2);  // escape, run of 3 more
  w.number(4 + 3);
  w.bits(0b11, 2);  // escape, literal 'z' (the escape byte itself)
  w.number(4);
  w.bit(0);
  w.bits('z', 8);
  w.bits(0b11, 2);  // escape, literal 0xFF
  w.number(4);
  w.bit(0);
  w.bits(0xFF, 8);
  w.bits(0b11, 2);  // end
  w.number(4);
  w.bit(1);
  FbStatus status;
  const Bytes8 expected = {'a', 'b', 'c', 'c', 'c', 'c', 'z', 0xFF};
  EXPECT_EQ(decode(w.bytes(), status), expected);
  EXPECT_EQ(status, FbStatus::kOk);

  // The encoders pad after the end mark, sometimes with one more zero byte.
  Bytes8 padded = w.bytes();
  padded.push_back(0);
  EXPECT_EQ(decode(padded, status), expected);
  EXPECT_EQ(status, FbStatus::kOk);
}

TEST(Fb30, ATableThatIsNotYetFullGoesOn) {
  // No codes of length 1 or 2, four of length 3 (4 of 8 codes), eight of
  // length 4: full. Symbols 0 .. 11 (each the next unused value); the
  // escape is 11, the last code 1111.
  BitWriter w;
  w.header(3, 11);
  for (uint32_t n : {0u, 0u, 4u, 8u}) w.number(n + 4);
  for (int i = 0; i < 12; ++i) w.number(1 + 3);
  w.bits(0b011, 3);   // 3
  w.bits(0b1000, 4);  // 4
  w.bits(0b1110, 4);  // 10
  w.bits(0b1111, 4);  // end
  w.number(4);
  w.bit(1);
  FbStatus status;
  EXPECT_EQ(decode(w.bytes(), status), (Bytes8{3, 4, 10}));
  EXPECT_EQ(status, FbStatus::kOk);
}

TEST(Fb30, CodesLongerThanEightBits) {
  // One code of each length 1 .. 8, then two of length 9: 0, 10, 110, ...,
  // 11111110, 111111110, 111111111 for the values 0 .. 9; 9 is the escape.
  BitWriter w;
  w.header(3, 9);
  for (int len = 1; len <= 8; ++len) w.number(1 + 4);
  w.number(2 + 4);
  for (int i = 0; i < 10; ++i) w.number(1 + 3);
  w.bits(0b111111110, 9);  // 8
  w.bits(0b0, 1);          // 0
  w.bits(0b11111110, 8);   // 7
  w.bits(0b111111111, 9);  // end
  w.number(4);
  w.bit(1);
  FbStatus status;
  EXPECT_EQ(decode(w.bytes(), status), (Bytes8{8, 0, 7}));
  EXPECT_EQ(status, FbStatus::kOk);
}

TEST(Fb30, RefusesCorruptStreams) {
  struct Case {
    const char* name;
    Bytes8 stream;
  };
  std::vector<Case> cases;
  {
    BitWriter w;  // the counts never fill the code space
    w.header(1, 0);
    for (int i = 0; i < 40; ++i) w.number(4);
    cases.push_back({"table never full", w.bytes()});
  }
  {
    BitWriter w;  // three codes of length 1
    w.header(1, 0);
    w.number(3 + 4);
    for (int i = 0; i < 8; ++i) w.number(4);
    cases.push_back({"table overfull", w.bytes()});
  }
  {
    BitWriter w;  // a run with nothing to repeat
    twobitcode(w, 4);
    w.bits(0b11, 2);
    w.number(4 + 4);
    w.bits(0b11, 2);
    w.number(4);
    w.bit(1);
    cases.push_back({"run at the start", w.bytes()});
  }
  {
    BitWriter w;  // a run beyond the stated size
    twobitcode(w, 4);
    w.bits(0b00, 2);
    w.bits(0b11, 2);
    w.number(4 + 4);
    w.bits(0b11, 2);
    w.number(4);
    w.bit(1);
    cases.push_back({"run past the size", w.bytes()});
  }
  {
    BitWriter w;  // symbols beyond the stated size
    twobitcode(w, 1);
    w.bits(0b0001, 4);
    w.bits(0b11, 2);
    w.number(4);
    w.bit(1);
    cases.push_back({"symbols past the size", w.bytes()});
  }
  {
    BitWriter w;  // the end mark comes early
    twobitcode(w, 3);
    w.bits(0b00, 2);
    w.bits(0b11, 2);
    w.number(4);
    w.bit(1);
    cases.push_back({"ends before the size", w.bytes()});
  }
  {
    BitWriter w;  // no end mark: the input ends inside the data
    twobitcode(w, 1000);
    for (int i = 0; i < 12; ++i) w.bits(0b01, 2);
    cases.push_back({"no end mark", w.bytes()});
  }
  {
    BitWriter w;  // cut inside the header fields
    w.header(1, 0);
    Bytes8 b = w.bytes();
    b.resize(5);
    cases.push_back({"only the header", b});
  }
  for (const Case& c : cases) {
    FbStatus status = FbStatus::kOk;
    EXPECT_FALSE(fbdecompress(c.stream, status)) << c.name;
    EXPECT_EQ(status, FbStatus::kCorrupt) << c.name;
  }
}

TEST(Fb30, EndMarkInTheLastBitsNeedsThem) {
  // Enough 'a' codes that the end mark finishes exactly at a byte boundary:
  // the whole block decodes, one byte less is refused rather than read past.
  int count = 1;
  while ((80 + 2 * count + 6) % 8 != 0) ++count;
  BitWriter w;
  twobitcode(w, static_cast<uint32_t>(count));
  ASSERT_EQ(w.used(), 80u);
  for (int i = 0; i < count; ++i) w.bits(0b00, 2);
  w.bits(0b11, 2);
  w.number(4);
  w.bit(1);
  ASSERT_EQ(w.used() % 8, 0u);
  FbStatus status;
  EXPECT_EQ(decode(w.bytes(), status), Bytes8(static_cast<size_t>(count), 'a'));
  EXPECT_EQ(status, FbStatus::kOk);
  Bytes8 cut = w.bytes();
  cut.pop_back();
  EXPECT_FALSE(fbdecompress(cut, status));
  EXPECT_EQ(status, FbStatus::kCorrupt);
}

}  // namespace
}  // namespace torvex
