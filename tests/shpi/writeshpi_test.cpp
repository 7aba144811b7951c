// Laying out and writing SHPI files: offsets, padding, the "????" member
// that has data but no directory entry, compression, and what cannot be
// written.
#include <gtest/gtest.h>

#include <cstring>

#include "records.h"
#include "support.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/shpi/shpi.h"

namespace torvex {
namespace {

using test::ByteVec;

ShpiMember member(const char* name, const ByteVec& bytes) {
  ShpiMember m;
  m.data = bytes.data();
  m.size = static_cast<uint32_t>(bytes.size());
  for (size_t i = 0; i < 4 && name[i]; ++i) m.name[i] = name[i];
  return m;
}

ByteVec bytesof(const Block& b) { return ByteVec(b.get(), b.get() + b.size); }

TEST(LayoutShpi, MembersArePaddedToFourBytesExceptTheLast) {
  const ByteVec a{1, 2, 3, 4, 5}, b{6, 7, 8, 9, 10};
  const ShpiMember members[] = {member("ab", a), member("cdef", b)};
  // Header, two directory entries (32 bytes), then 5 + 3 padding + 5.
  const ByteVec expected{'S', 'H', 'P', 'I', 45, 0, 0, 0, 2, 0, 0, 0, 'G', 'I', 'M', 'X',
                         'a', 'b', 0, 0, 32, 0, 0, 0, 'c', 'd', 'e', 'f', 40, 0, 0, 0,
                         1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10};
  EXPECT_EQ(bytesof(layoutshpi(members, "GIMX")), expected);
}

TEST(LayoutShpi, PseudoMemberHasDataButNoDirectoryEntry) {
  // Three named records and the 24 bytes that stood between the directory
  // and the first record: three directory entries, and those bytes right
  // after the directory again.
  const ByteVec gap(24, 0xEE), r1{1, 1, 1, 1}, r2{2, 2}, r3{3};
  const ShpiMember members[] = {member("????", gap), member("r1", r1), member("r2", r2), member("r3", r3)};
  const ByteVec f = bytesof(layoutshpi(members, "FACE"));
  ASSERT_EQ(f.size(), 16u + 24 + 24 + 4 + 4 + 1);
  EXPECT_EQ(f[8], 3);
  EXPECT_EQ(ByteVec(f.begin() + 40, f.begin() + 64), gap);
  const uint32_t offsets[] = {64, 68, 72};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(f[16 + 8 * i], 'r');
    EXPECT_EQ(f[16 + 8 * i + 4], offsets[i]);
  }
  EXPECT_EQ(f.back(), 3);
}

TEST(WriteShpi, WritesTheFileAndNothingBeside) {
  test::TempDir dir;
  const ByteVec a{1, 2, 3, 4, 5};
  const ShpiMember members[] = {member("one", a)};
  const std::string path = (dir / "out.fsh").string();
  test::writetext(path, "an earlier file of that name");
  EXPECT_EQ(writeshpi(members, "WRAP", path.c_str(), false).status, ShpiWrite::kWritten);
  EXPECT_EQ(std::distance(test::fs::directory_iterator(dir.path()), test::fs::directory_iterator{}), 1);
  const ByteVec f = test::readbytes(path);
  ASSERT_EQ(f.size(), 29u);
  EXPECT_EQ(ByteVec(f.begin() + 12, f.begin() + 16), (ByteVec{'W', 'R', 'A', 'P'}));
}

TEST(WriteShpi, CompressedFileExpandsToTheLayout) {
  test::TempDir dir;
  ByteVec a(300);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 7);
  const ShpiMember members[] = {member("pic", a), member("!pal", a)};
  const std::string path = (dir / "out.qfs").string();
  EXPECT_EQ(writeshpi(members, "GIMX", path.c_str(), true).status, ShpiWrite::kWritten);
  const ByteVec f = test::readbytes(path);
  ASSERT_GE(f.size(), 5u);
  EXPECT_EQ(f[0], 0x10);
  EXPECT_EQ(f[1], 0xFB);
  FbStatus status{};
  const Block expanded = fbdecompress(f, status);
  ASSERT_TRUE(expanded);
  EXPECT_EQ(bytesof(expanded), bytesof(layoutshpi(members, "GIMX")));
}

TEST(WriteShpi, RefusesWhatItCannotWrite) {
  test::TempDir dir;
  const ByteVec a{1};
  const ShpiMember members[] = {member("one", a)};
  const std::string path = (dir / "missing" / "out.fsh").string();
  EXPECT_EQ(writeshpi(members, "GIMX", path.c_str(), false).status, ShpiWrite::kCantCreate);
  // Beyond what the size field and our buffers hold: refused before anything is made.
  const ShpiMember huge[] = {{a.data(), 0x7FFFFFF0u, "big"}};
  const ShpiWrite large = writeshpi(huge, "GIMX", (dir / "big.fsh").string().c_str(), false);
  EXPECT_EQ(large.status, ShpiWrite::kTooLarge);
  EXPECT_EQ(large.total, 16 + 8 + 0x7FFFFFF0LL);
  EXPECT_TRUE(test::fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace torvex
