// The file list: direct and in-memory streams, expansion on opening, the
// position rules and the faults it refuses with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fixtures.h"
#include "support.h"
#include "torvex/pack/packentry.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::Member;

// The fault the file list throws from `call`, in words: its kind, and for a
// member outside its container everything the command's message names.
std::string faultof(auto&& call) {
  try {
    call();
  } catch (const ListFault& f) {
    switch (f.kind) {
      case ListFault::kNoEntry: return "no entry";
      case ListFault::kNegativeLength: return "negative length";
      case ListFault::kPastEnd: return "past the end";
      case ListFault::kNegativeSeek: return "negative seek";
      case ListFault::kOutside: break;
    }
    return "'" + f.member + "' outside '" + f.container + "' at " + std::to_string(f.offset) + " size " +
           std::to_string(f.size) + " of " + std::to_string(f.containersize);
  }
  return "(no fault)";
}

class ListStreamTest : public ::testing::Test {
 protected:
  // Writes `bytes` as a file and makes it the root of `roots_`.
  PackEntry& root(const ByteVec& bytes, const char* name = "pack.viv") {
    const auto file = dir_ / name;
    test::writebytes(file, bytes);
    EXPECT_TRUE(setroot(roots_, file.string()));
    return roots_.root();
  }
  PackEntry& member(PackEntry& container, std::string_view name) {
    if (!container.directory) {
      EXPECT_NE(scandir(container, 0), nullptr);
    }
    for (PackEntry& m : container.directory->members())
      if (m.name == name) return m;
    ADD_FAILURE() << "no member " << name;
    return container;
  }

  test::TempDir dir_;
  RootArray roots_;
};

TEST_F(ListStreamTest, PlainRootIsReadInPlaceAndMembersAreCopiedOut) {
  const ByteVec a = test::pattern(5000, 1), b = test::pattern(20000, 2);
  PackEntry& pack = root(test::bigf({{"a.dat", a}, {"b.dat", b}}));
  PackEntry& mb = member(pack, "b.dat");
  const Block got = loadlist(mb);
  ASSERT_TRUE(got);
  EXPECT_EQ(ByteVec(got.get(), got.get() + got.size), b);
  ASSERT_TRUE(pack.stream);
  EXPECT_TRUE(pack.stream->direct);
  EXPECT_EQ(pack.stream->data, nullptr);
  EXPECT_FALSE(pack.compressed());
  EXPECT_FALSE(mb.compressed());
  // The member's copy is its own.
  EXPECT_NE(mb.stream->data, nullptr);
  closelist(mb, true);
  EXPECT_EQ(mb.stream, nullptr);
  EXPECT_EQ(pack.stream, nullptr);
}

TEST_F(ListStreamTest, CompressedRootAndMembersExpandOnOpening) {
  const ByteVec plain = test::pattern(65536, 3);
  const ByteVec stored = test::fblit(plain);
  const ByteVec inner = test::bigf({{"x.dat", test::fblit(plain)}, {"y.dat", test::bytesof("why")}});
  PackEntry& pack = root(test::fblit(test::bigf({{"m.dat", stored}, {"inner.viv", inner}})));
  PackEntry& m = member(pack, "m.dat");
  const Block got = loadlist(m);
  ASSERT_TRUE(got);
  EXPECT_EQ(got.size, 65536);
  EXPECT_EQ(ByteVec(got.get(), got.get() + got.size), plain);
  EXPECT_TRUE(pack.compressed());
  EXPECT_FALSE(pack.stream->direct);
  EXPECT_TRUE(m.compressed());
  EXPECT_EQ(m.size, static_cast<int32_t>(stored.size()));  // the stored size stays

  // A compressed member of a member held in memory.
  PackEntry& x = member(member(pack, "inner.viv"), "x.dat");
  const Block gx = loadlist(x);
  ASSERT_TRUE(gx);
  EXPECT_EQ(ByteVec(gx.get(), gx.get() + gx.size), plain);
  EXPECT_TRUE(x.compressed());
}

TEST_F(ListStreamTest, PositionsAndTheEndOfAnInMemoryContent) {
  ByteVec content = test::pattern(120, 4);
  PackEntry& pack = root(test::bigf({{"m.dat", content}, {"big.dat", test::pattern(9000, 5)}}));
  PackEntry& m = member(pack, "m.dat");
  ASSERT_EQ(openlist(&m, 0), 1);

  uint8_t buf[100];
  seeklist(m, 90, 0);
  readlist(m, buf, 100);
  EXPECT_EQ(0, std::memcmp(buf, content.data() + 90, 30));
  for (int i = 30; i < 100; ++i) ASSERT_EQ(buf[i], 0) << i;
  EXPECT_EQ(m.stream->position, 120);
  readlist(m, buf, 10);  // at the end: nothing taken, no error
  EXPECT_EQ(m.stream->position, 120);

  seeklist(m, 2, 0);
  seeklist(m, -5, 1);
  EXPECT_EQ(m.stream->position, 0);
  seeklist(m, 7, 3);  // unknown whence: unchanged
  EXPECT_EQ(m.stream->position, 0);

  PackEntry& big = member(pack, "big.dat");
  ASSERT_EQ(openlist(&big, 0), 1);
  std::vector<uint8_t> chunk(8192);
  readlist(big, chunk.data(), 8192);
  seeklist(big, -8192, 1);
  EXPECT_EQ(big.stream->position, 0);

  seeklist(m, 121, 0);
  EXPECT_EQ(faultof([&] { readlist(m, buf, 1); }), "past the end");
  EXPECT_EQ(faultof([&] { readlist(m, buf, -1); }), "negative length");
  EXPECT_EQ(faultof([&] { seeklist(m, -1, 0); }), "negative seek");
  EXPECT_EQ(faultof([] { openlist(nullptr, 0); }), "no entry");
}

TEST_F(ListStreamTest, ShortFilesOpenAsPlainAndReadPastTheirEndAsZero) {
  for (const ByteVec& bytes : {ByteVec{}, ByteVec{0x10, 0xFB, 0}, ByteVec{'a', 'b', 'c', 'd', 'e', 'f'}}) {
    PackEntry& f = root(bytes, "short.bin");
    ASSERT_EQ(openlist(&f, 0), 1);
    EXPECT_TRUE(f.stream->direct);
    EXPECT_FALSE(f.compressed());
    uint8_t buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    readlist(f, buf, 16);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buf));
    for (size_t i = bytes.size(); i < 16; ++i) ASSERT_EQ(buf[i], 0);
    EXPECT_EQ(f.stream->position, 16);
    closelist(f, true);
  }
}

TEST_F(ListStreamTest, MemberOutsideItsContainerIsRefusedByName) {
  // Direct parent: the member claims bytes past the end of the file.
  ByteVec pack = test::bigf({{"good.dat", test::pattern(50, 6)}, {"bad.dat", test::pattern(50, 7)}});
  pack[16 + 17 + 4 + 2] = 0x01;  // size of the second member: 0x132 bytes
  PackEntry& p = root(pack);
  EXPECT_TRUE(loadlist(member(p, "good.dat")));
  EXPECT_EQ(faultof([&] { loadlist(member(p, "bad.dat")); }), "'bad.dat' outside '" + p.name + "' at 99 size 306 of 149");

  // Parent in memory: a negative offset in a nested pack.
  ByteVec inner = test::bigf({{"neg.dat", test::pattern(10, 8)}});
  inner[16] = 0xFF;
  PackEntry& q = root(test::bigf({{"inner.viv", inner}}), "outer.viv");
  const std::string text = faultof([&] { loadlist(member(member(q, "inner.viv"), "neg.dat")); });
  EXPECT_EQ(text.rfind("'neg.dat' outside 'inner.viv' at -", 0), 0u) << text;
}

TEST_F(ListStreamTest, CorruptCompressedMemberDoesNotOpen) {
  ByteVec bad{0x10, 0xFB, 0x00, 0x10, 0x00, 0x00, 0x05};  // a copy from before the start
  PackEntry& p = root(test::bigf({{"bad.qfs", bad}, {"ok.dat", test::bytesof("fine")}}));
  EXPECT_FALSE(loadlist(member(p, "bad.qfs")));
  EXPECT_TRUE(loadlist(member(p, "ok.dat")));
}

TEST_F(ListStreamTest, CloseAllMarksEveryStreamNotOpenButKeepsTheState) {
  PackEntry& p = root(test::bigf({{"inner.viv", test::bigf({{"z.dat", test::pattern(40, 9)}})}}));
  PackEntry& inner = member(p, "inner.viv");
  PackEntry& z = member(inner, "z.dat");
  ASSERT_TRUE(loadlist(z));
  closealllist(*inner.directory);
  for (PackEntry* e : {&z, &inner, &p}) {
    ASSERT_NE(e->stream, nullptr);
    EXPECT_EQ(e->stream->size, 0);
    EXPECT_EQ(e->stream->data, nullptr);
    EXPECT_FALSE(e->stream->handle);
  }
  const Block again = loadlist(z);
  ASSERT_TRUE(again);
  EXPECT_EQ(ByteVec(again.get(), again.get() + again.size), test::pattern(40, 9));
}

}  // namespace
}  // namespace torvex
