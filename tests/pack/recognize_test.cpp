// Recognition of the layouts by their first bytes, in the order that
// matters, and the writable layout the pack writer takes from them.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "support.h"
#include "torvex/pack/packentry.h"
#include "torvex/pack/packwriter.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::Member;

class RecognizeTest : public ::testing::Test {
 protected:
  PackEntry& root(const ByteVec& bytes, const char* name = "pack.bin") {
    const auto file = dir_ / name;
    test::writebytes(file, bytes);
    EXPECT_TRUE(setroot(roots_, file.string()));
    return roots_.root();
  }
  // Member names of the scanned bytes in stored order, or "-" when not a directory.
  std::string scan(const ByteVec& bytes, const char* name = "pack.bin") {
    PackEntry& r = root(bytes, name);
    DirArray* d = scandir(r, kScanKeepOrder);
    std::string out;
    if (!d) return "-";
    for (const PackEntry& m : d->members()) out += m.name + "(" + std::to_string(m.offset) + "," + std::to_string(m.size) + ")";
    return out;
  }

  test::TempDir dir_;
  RootArray roots_;
};

const std::vector<Member> kTwo = {{"one", ByteVec(10, 1)}, {"two", ByteVec(6, 2)}};

TEST_F(RecognizeTest, EveryLayoutReadsItsDirectory) {
  struct Case {
    const char* what;
    ByteVec bytes;
    const char* name;
    std::string expected;
  };
  const Case cases[] = {
      {"BIGF", test::bigf(kTwo), "p.viv", "one(40,10)two(50,6)"},
      {"C0FB", test::c0fb(kTwo), "p.viv", "one(26,10)two(36,6)"},
      {"FST", test::fst(kTwo), "p.fst", "one(208,10)two(218,6)"},
      {"MAS", test::mas(kTwo), "p.mas", "one(72,10)two(82,6)"},
      {"APUK", test::apuk(kTwo), "p.apk", "one(96,10)two(106,6)"},
      {".qpp", test::qpp({{"ab", ByteVec(10, 1)}, {"!cd", ByteVec(6, 2)}}), "data.QPP", "ab(22,10)!cd(32,6)"},
      {".ppv", test::qpp({{"ab", ByteVec(3, 1)}}), "x.ppv", "ab(14,3)"},
      {"ORIP", test::orip("self.orp", {"first", "second"}), "p.orp", "self.orp(0,113)first(0,0)second(0,0)"},
  };
  for (const Case& c : cases) EXPECT_EQ(scan(c.bytes, c.name), c.expected) << c.what;
}

TEST_F(RecognizeTest, PlausibilityTestsStandInForAMagicNumber) {
  // FST: one member (two records) is too small for the arithmetic to trust;
  // two members are enough (a pack of one passes the stricter test below).
  EXPECT_FALSE(fsttest(1000, 140, 2));
  EXPECT_TRUE(fsttest(1000, 208, 3));
  EXPECT_FALSE(fsttest(208 - 8, 208, 3));  // the size must pass the directory
  EXPECT_FALSE(fsttest(1000, 209, 3));
  EXPECT_FALSE(fsttest(1000, 208, 0));
  EXPECT_FALSE(fsttest(1000, 208, 0xFFFFFFFD));
  EXPECT_EQ(scan(test::fst(kTwo)), "one(208,10)two(218,6)");

  EXPECT_TRUE(mastest(32 * 2 + 16 + 8, 16, 2));
  EXPECT_FALSE(mastest(32 * 2 + 16 + 8 + 1, 16, 2));
  EXPECT_FALSE(mastest(0, 0, 0));
  EXPECT_FALSE(mastest(8, 0, 0));
  // No 32-bit wrap-around: 32 * 0x08000000 is 2^32, not 0.
  EXPECT_FALSE(mastest(24, 16, 0x08000000));
  ByteVec mas = test::mas(kTwo);
  mas.push_back(0);  // one byte off
  EXPECT_EQ(scan(mas, "p.mas"), "-");
}

TEST_F(RecognizeTest, SchAndBnkAreRefusedBeforeTheLaterTests) {
  // A .qpp container ignores its first four bytes, so without the refusal
  // these would be read by the last test.
  ByteVec b = test::qpp({{"ab", ByteVec(8, 1)}});
  ASSERT_EQ(scan(b, "data.qpp"), "ab(14,8)");
  for (const char* magic : {"SCHl", "SCH!", "BNKl", "BNK "}) {
    std::copy(magic, magic + 4, b.begin());
    EXPECT_EQ(scan(b, "data.qpp"), "-") << magic;
  }
  // Exact bytes: lower case is not the magic.
  std::copy_n("schl", 4, b.begin());
  EXPECT_EQ(scan(b, "data.qpp"), "ab(14,8)");
}

TEST_F(RecognizeTest, ShpiMagicIsComparedOnThreeBytes) {
  // SHPX goes where SHPI goes, even when the bytes after it look like MAS.
  ByteVec shpx = test::mas(kTwo);
  const ByteVec shpi = test::bytesof("SHPI");
  std::copy(shpi.begin(), shpi.end(), shpx.begin());
  PackEntry& a = root(shpx, "a.fsh");
  const DirReader forx = recognize(a);
  ByteVec real = shpx;
  real[3] = 'I';
  PackEntry& b = root(real, "b.fsh");
  EXPECT_EQ(forx, recognize(b));
  shpx[3] = 'X';
  EXPECT_EQ(recognize(root(shpx, "c.fsh")), forx);
}

TEST_F(RecognizeTest, QppIsKnownByNameOnlyAndLast) {
  const ByteVec b = test::qpp({{"ab", ByteVec(4, 1)}});
  EXPECT_EQ(scan(b, "data.QPP"), "ab(14,4)");
  EXPECT_EQ(scan(b, "data.qp"), "-");
  // A BIGF pack named .qpp is read as BIGF.
  EXPECT_EQ(scan(test::bigf(kTwo), "p.qpp"), "one(40,10)two(50,6)");
}

// An FST pack of one member or none is what the writer leaves after "-d"
// of all but one member (or all): it must read back, but only in exactly
// the writer's form, so that other small files do not pass for FST.
TEST_F(RecognizeTest, FstPacksOfOneMemberOrNoneReadInTheWritersFormOnly) {
  const ByteVec one = test::fst({{"only", ByteVec(10, 1)}});  // R 2, first data at 4 + 68 * 2
  ByteVec empty;  // R 1: the closing record alone, its offset the end
  test::put32le(empty, 1);
  test::put32le(empty, 72);
  test::putfield(empty, "", 64);
  auto changed = [](ByteVec b, size_t at, uint8_t value) {
    b[at] = value;
    return b;
  };
  ByteVec longer = one;
  longer.push_back(0);
  struct Case {
    const char* what;
    ByteVec bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"one member", one, "only(140,10)"},
      {"no member", empty, ""},
      // 140 + 72 = 64 + 140 + 8: the sizes MAS's arithmetic takes for its own.
      {"one member of 72 bytes", test::fst({{"only", ByteVec(72, 1)}}), "only(140,72)"},
      {"compressed as a whole", test::fblit(one), "only(140,10)"},
      {"a byte past the end offset", longer, "-"},
      {"closing record with a name", changed(one, 76, 'x'), "-"},
      {"member without a name", changed(one, 8, 0), "-"},
      {"first data offset off by one", changed(one, 4, 141), "-"},
      {"no zero in the name field", [&] {
         ByteVec b = one;
         std::fill(b.begin() + 8, b.begin() + 72, 'n');
         return b;
       }(), "-"},
      {"three records", changed(empty, 0, 3), "-"},
      {"72 zero bytes", ByteVec(72, 0), "-"},
  };
  for (const Case& c : cases) EXPECT_EQ(scan(c.bytes, "p.fst"), c.expected) << c.what;
}

// The writer's layout from the same first bytes: its own order, C0FB, BIGF,
// FST, and an SHPI file recognised in any letter case to be pointed to the
// replace commands.
WriteLayout writable(ByteVec bytes) {
  const auto storedsize = static_cast<int64_t>(bytes.size());
  bytes.resize(kProbeBytes, 0);
  Probe probe;
  probe.bytes = bytes;
  probe.storedsize = storedsize;
  probe.contentsize = storedsize;
  probe.name = "pack.bin";
  return writablelayout(probe);
}

TEST(WritableLayout, OfEachLayout) {
  EXPECT_EQ(writable(test::c0fb(kTwo)), WriteLayout::kC0fb);
  EXPECT_EQ(writable(test::bigf(kTwo)), WriteLayout::kBigf);
  EXPECT_EQ(writable(test::fst(kTwo)), WriteLayout::kFst);
  const ByteVec one = test::fst({{"only", ByteVec(10, 1)}});
  EXPECT_EQ(writable(one), WriteLayout::kFst);
  EXPECT_EQ(writable(test::mas(kTwo)), WriteLayout::kNone);
  EXPECT_EQ(writable(test::apuk(kTwo)), WriteLayout::kNone);
  ByteVec shpi = test::bytesof("sHpI");
  shpi.resize(64, 0);
  EXPECT_EQ(writable(shpi), WriteLayout::kShpiFile);
}

}  // namespace
}  // namespace torvex
