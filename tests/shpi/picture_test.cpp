// Pictures reached through a directory: the five-step palette search, the
// palette cache across files, and loading records by entry.
#include <gtest/gtest.h>

#include "records.h"
#include "support.h"
#include "torvex/shpi/shpi.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::record;

// An 8-bit palette whose entry 1 is (tag, tag, tag); `padding` bytes more
// make the record bigger without adding entries.
ByteVec palette(uint8_t tag, size_t padding = 0) {
  ByteVec entries(6 + padding, 0);
  entries[3] = entries[4] = entries[5] = tag;
  return record(0x24, 0, 2, 1, entries);
}

const ByteVec kPicture = record(0x7B, 0, 1, 1, {1, 0, 0, 0});  // one pixel of index 1

// Decodes the picture that `entry` stands for, from its content.
int16_t loadpicture(PackEntry& entry, ShpiPicture& picture) {
  const Block content = loadlist(entry);
  return loadpicture(entry, content.span(), picture);
}

class ShpiPicturesInFiles : public testing::Test {
 protected:
  void SetUp() override { resetshpipalettecache(); }
  void TearDown() override { resetshpipalettecache(); }
  PackEntry* openfile(const ByteVec& bytes, const std::string& name, const std::string& member) {
    const std::string path = (tmp / name).string();
    test::writebytes(path, bytes);
    pack = openpack(PackPath{path, {}}, 0);
    if (!pack) return nullptr;
    for (PackEntry& m : pack.directory->members())
      if (m.name == member) return &m;
    return nullptr;
  }
  // The red of the picture's one pixel: which palette it found.
  int loadedtag(const std::vector<std::pair<std::string, ByteVec>>& records, const ByteVec& gap = {}) {
    resetshpipalettecache();
    PackEntry* e = openfile(test::shpifile("GIMX", records, gap), "p.fsh", "ABCD");
    if (!e) return -1;
    ShpiPicture pic;
    if (loadpicture(*e, pic) != 1) return -2;
    return pic.rgb[0];
  }
  test::TempDir tmp;
  OpenedPack pack;
};

TEST_F(ShpiPicturesInFiles, PaletteSearchOrder) {
  // !pal, then !BCD (named after ABCD), then another small "!" record, then
  // pal..., then a small "????"; names are sorted, so "!BIG" (too big for a
  // loose palette) comes before "!XYZ" in the directory.
  const std::pair<std::string, ByteVec> pal{"!pal", palette(10)}, own{"!BCD", palette(20)}, big{"!BIG", palette(25, 1500)},
      loose{"!XYZ", palette(30)}, named{"pal0", palette(40)}, pic{"ABCD", kPicture};
  const ByteVec gap = palette(50);
  EXPECT_EQ(loadedtag({pic, named, loose, big, own, pal}, gap), 10);
  EXPECT_EQ(loadedtag({pic, named, loose, big, own}, gap), 20);
  EXPECT_EQ(loadedtag({pic, named, loose, big}, gap), 30);
  EXPECT_EQ(loadedtag({pic, named, big}, gap), 40);
  EXPECT_EQ(loadedtag({pic, big}, gap), 50);
  EXPECT_EQ(loadedtag({pic, big}), 1);  // nothing: the grey ramp
  // Upper-case variants of the names with a meaning of their own.
  EXPECT_EQ(loadedtag({pic, {"!PAL", palette(11)}, own}), 11);
  EXPECT_EQ(loadedtag({pic, {"PAL9", palette(41)}}), 41);
  // Case matters in the search: "!Pal" is no shared palette, only a loose one after !BCD.
  EXPECT_EQ(loadedtag({pic, {"!Pal", palette(12)}, own}), 20);
  // A "????" entry bigger than a loose palette is not taken.
  EXPECT_EQ(loadedtag({pic}, palette(50, 1500)), 1);
}

TEST_F(ShpiPicturesInFiles, PictureRecordStandingForThePaletteCarriesItAsAttachment) {
  // "!pal" of type 0x78 with a palette attached: the attachment is decoded.
  const ByteVec carrier = test::withattachment(record(0x78, 0, 1, 1, {0, 0, 0, 0}), palette(60));
  EXPECT_EQ(loadedtag({{"ABCD", kPicture}, {"!pal", carrier}}), 60);
  // An attachment offset outside the record: the record itself is decoded,
  // and a 0x7B record is no palette.
  EXPECT_EQ(loadedtag({{"ABCD", kPicture}, {"!pal", record(0x7B, 0x400, 1, 1, {0, 0, 0, 0})}}), 1);
}

TEST_F(ShpiPicturesInFiles, FirstFilesPaletteShowsForASecondFileWithout) {
  ShpiPicture pic;
  PackEntry* first = openfile(test::shpifile("GIMX", {{"!pal", palette(70)}, {"ABCD", kPicture}}), "a.fsh", "ABCD");
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(loadpicture(*first, pic), 1);
  EXPECT_EQ(pic.rgb[0], 70);
  PackEntry* second = openfile(test::shpifile("GIMX", {{"ABCD", kPicture}}), "b.fsh", "ABCD");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(loadpicture(*second, pic), 1);
  EXPECT_EQ(pic.rgb[0], 70);
}

TEST_F(ShpiPicturesInFiles, EntriesThatAreNoPicture) {
  ShpiPicture pic;
  PackEntry* e = openfile(test::shpifile("GIMX", {{"ABCD", palette(1)}}), "c.fsh", "ABCD");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(loadpicture(*e, pic), 0);
  EXPECT_EQ(pic.rgb, nullptr);
  e = openfile(test::shpifile("GIMX", {{"ABCD", kPicture}}), "d.fsh", "ABCD");
  ASSERT_NE(e, nullptr);
  e->setcontentkind(kContentWholeFile);
  EXPECT_EQ(loadpicture(*e, pic), 0);
}

}  // namespace
}  // namespace torvex
