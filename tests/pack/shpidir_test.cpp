// The SHPI directory reader: the "????" entry, sizes from offsets, content
// and picture kinds, and directories that claim more than the file holds.
#include <gtest/gtest.h>

#include "../shpi/records.h"
#include "support.h"
#include "torvex/pack/shpidir.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::record;

class ScanShpi : public testing::Test {
 protected:
  // Writes `bytes` as a disk file and opens it in stored order.
  std::span<PackEntry> open(const ByteVec& bytes, const char* name = "t.fsh") {
    const std::string path = (tmp / name).string();
    test::writebytes(path, bytes);
    pack = openpack(PackPath{path, {}}, kScanKeepOrder);
    if (!pack) return {};
    return pack.directory->members();
  }
  test::TempDir tmp;
  OpenedPack pack;
};

TEST_F(ScanShpi, BytesBeforeTheFirstRecordGetAPseudoEntry) {
  // Three entries: the directory ends at 40, the first record is at 64.
  const ByteVec f = test::shpifile(
      "GIMX", {{"r1", record(0x7B, 0, 2, 2, ByteVec(4, 1))}, {"r2", record(0x22, 0, 1, 1, {1, 2, 3})}, {"r3", ByteVec(7, 0)}},
      ByteVec(24, 0xEE));
  const auto m = open(f);
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].name, "????");
  EXPECT_EQ(m[0].offset, 40);
  EXPECT_EQ(m[0].size, 24);
  EXPECT_EQ(m[0].width, -1);
  EXPECT_EQ(m[0].contentkind(), kContentPlain);
  EXPECT_EQ(m[1].name, "r1");
  EXPECT_EQ(m[1].offset, 64);
  EXPECT_EQ(m[1].size, 20);
  EXPECT_EQ(m[3].size, 7);
  for (const PackEntry& e : m) EXPECT_EQ(e.parent, m[0].parent);
}

TEST_F(ScanShpi, SizesComeFromTheOffsetsWhateverTheDirectoryOrder) {
  ByteVec f = test::shpifile("GIMX", {{"a", ByteVec(8, 1)}, {"b", ByteVec(12, 2)}, {"c", ByteVec(5, 3)}});
  // Swap the last two directory entries, and claim a total size beyond
  // the file's end: the last record's size follows the header.
  for (int k = 0; k < 8; ++k) std::swap(f[24 + k], f[32 + k]);
  test::put32(f, 4, static_cast<uint32_t>(f.size() + 100));
  const auto m = open(f);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].name, "a");
  EXPECT_EQ(m[0].size, 8);
  EXPECT_EQ(m[1].name, "c");
  EXPECT_EQ(m[1].size, 5 + 100);
  EXPECT_EQ(m[2].name, "b");
  EXPECT_EQ(m[2].size, 12);
}

TEST_F(ScanShpi, ContentKindsFollowTheDirectoryIdAndTheName) {
  const ByteVec pal = record(0x24, 0, 1, 1, {1, 2, 3});
  const ByteVec pic = record(0x7B, 0, 1, 1, {0, 0, 0, 0});
  for (const char* id : {"GIMX", "FACE", "WRAP", "SPIT", "LN32", "gimx"}) {
    SCOPED_TRACE(id);
    const bool pictures = std::string_view(id) == "GIMX" || std::string_view(id) == "FACE" ||
                          std::string_view(id) == "WRAP" || std::string_view(id) == "SPIT";
    const auto m = open(test::shpifile(id, {{"!pal", pal}, {"ab", pic}, {"!xyz", pal}, {"!PAL", pal}}));
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].contentkind(), kContentPlain);
    EXPECT_EQ(m[1].contentkind(), pictures ? kContentPicture : kContentPlain);
    EXPECT_EQ(m[2].contentkind(), kContentPlain);
    EXPECT_EQ(m[3].contentkind(), kContentPlain);
    EXPECT_EQ(m[1].label, id);
  }
}

TEST_F(ScanShpi, PictureKindAndSizeComeFromTheRecordHeader) {
  const auto m = open(test::shpifile("GIMX", {{"fb", record(0xFB, 0, 300, 200, ByteVec(8, 0))},
                                             {"tc", record(0x7D, 0, 1, 2, ByteVec(8, 0))},
                                             {"pal", record(0x22, 0, 256, 1, ByteVec(6, 0))}}));
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].picturekind(), 1);
  EXPECT_EQ(m[0].width, 300);
  EXPECT_EQ(m[0].height, 200);
  EXPECT_EQ(m[1].picturekind(), 2);
  EXPECT_EQ(m[1].height, 2);
  EXPECT_EQ(m[2].picturekind(), 0);
  EXPECT_EQ(m[2].width, -1);
}

TEST_F(ScanShpi, UntrustedCountsAndOffsetsStayInsideTheFile) {
  ByteVec f = test::shpifile("GIMX", {{"a", record(0x7B, 0, 1, 1, {0, 0, 0, 0})}, {"b", ByteVec(4, 0)}});
  test::put32(f, 8, 0x7FFFFFFF);            // far more entries than the file holds
  test::put32(f, 16 + 8 + 4, 0x00FFFFF0);  // "b" lies beyond the end
  const auto m = open(f);
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m[0].name, "a");
  EXPECT_EQ(m[0].width, 1);
  EXPECT_EQ(m[1].name, "b");
  EXPECT_EQ(m[1].width, -1);
}

TEST_F(ScanShpi, ThreeLettersOfTheMagicAreEnough) {
  ByteVec f = test::shpifile("GIMX", {{"a", record(0x7B, 0, 1, 1, {0, 0, 0, 0})}});
  f[3] = 'X';
  const auto m = open(f);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].width, 1);
}

TEST_F(ScanShpi, DirectoryOfMoreThan3000EntriesIsReadWhole) {
  std::vector<std::pair<std::string, ByteVec>> records;
  for (int i = 0; i < 3500; ++i) records.push_back({std::to_string(i), record(0x7B, 0, 1, 1, {0, 0, 0, 0})});
  const auto m = open(test::shpifile("GIMX", records));
  ASSERT_EQ(m.size(), 3500u);
  EXPECT_EQ(m[3499].name, "3499");
  EXPECT_EQ(m[3499].size, 20);
}

TEST_F(ScanShpi, DirectoryIdOfTheFile) {
  const auto m = open(test::shpifile("WRAP", {{"a", record(0x7B, 0, 1, 1, {0, 0, 0, 0})}}));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(shpidirectoryid(*m[0].parent), "WRAP");
  // A file shorter than its header has no id: four zero bytes.
  PackEntry loose;
  loose.path = loose.name = (tmp / "short.fsh").string();
  test::writebytes(loose.path, {'S', 'H', 'P', 'I'});
  EXPECT_EQ(shpidirectoryid(loose), std::string(4, '\0'));
}

}  // namespace
}  // namespace torvex
