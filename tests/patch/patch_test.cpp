// The patch library on its own: the info-file reader, the partial SHPI
// built one picture at a time, and the patch reader's refusals.
#include "torvex/patch/patch.h"

#include <gtest/gtest.h>

#include "patchfixtures.h"

namespace torvex {
namespace {

using namespace patchtest;
using Bytes = patchtest::Bytes;  // not the Block buffer of torvex

TEST(PatchInfo, MessageAndFiles) {
  struct Case {
    const char* what;
    std::string text;
    bool ok;
    std::string message;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {"plain", "!message\nHello\nWorld\n!message\na.viv\nsub\\b.viv\n", true, "HelloWorld", {"a.viv", "sub\\b.viv"}},
      {"any run of CR and LF ends a line; empty lines vanish, at the start too",
       "\r\n\r\nintro\r\n\n!message\r\r\nHi\n\n\n!message\r\na.viv", true, "Hi", {"a.viv"}},
      {"comments everywhere, the marks in any case",
       ";c\n#c\n!MESSAGE\n;c\nA\n# c\nB\n!Message\n;a.viv\n#b.viv\nc.viv\n", true, "AB", {"c.viv"}},
      {"an empty message and no files", "!message\n!message\n", true, "", {}},
      {"lines keep their blanks", "!message\n two words \n!message\na.viv \n", true, " two words ", {"a.viv "}},
      {"the text ends at a NUL", std::string("!message\nm\n!message\na.viv\n\0b.viv\n", 30), true, "m", {"a.viv"}},
      {"no first mark", "a.viv\n", false, "", {}},
      {"no second mark", "!message\nm\na.viv\n", false, "", {}},
      {"a commented mark is no mark", "!message\nm\n;!message\n", false, "", {}},
      {"empty", "", false, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PatchInfo info = readpatchinfo(c.text);
    EXPECT_EQ(info.ok, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(info.message, c.message);
    EXPECT_EQ(info.files, c.files);
  }
}

// Each added picture moves the data behind the directory up by one entry.
TEST(PartialShpi, PicturesAddedOneByOne) {
  const Bytes working = {'S', 'H', 'P', 'S', 99, 0, 0, 0, 7, 0, 0, 0, 'G', 'I', 'M', 'X', 'r', 'e', 's', 't'};
  PartialShpi partial = startpartial(working);
  appendshpiimage(partial, "ab", text("12345"));
  appendshpiimage(partial, "wxyz", text("678"));
  const Bytes want = {
      'S', 'H', 'P', 'S', 40, 0, 0, 0, 2, 0, 0, 0, 'G', 'I', 'M', 'X',  // the working tag and id; total 16 + 16 + 8
      'a', 'b', 0, 0, 32, 0, 0, 0,                                      // first picture at 16 + 2 x 8
      'w', 'x', 'y', 'z', 37, 0, 0, 0,                                  // the second right after it, unpadded
      '1', '2', '3', '4', '5', '6', '7', '8'};
  EXPECT_EQ(partial.bytes, want);
  EXPECT_EQ(partial.count, 2u);
  EXPECT_EQ(partial.datalength, 8u);
}

TEST(PatchReader, RefusesDamagedPatches) {
  const Bytes inner = bigf({{"a.txt", text("Hello")}});
  const Bytes good = bigf({{"data\\..game.viv", inner}, {"#README.TXT", text("hi")}});
  Bytes cut = good;
  cut.resize(cut.size() - 8);
  Bytes outside = good;
  outside[16 + 7] = 0xFF;  // the first entry's size reaches past the end
  struct Case {
    const char* what;
    Bytes patch;
    std::string damage;
  };
  const Case cases[] = {
      {"no BIGF", text("BIGG and more"), "not a whole BIGF pack"},
      {"cut short", cut, "not a whole BIGF pack"},
      {"an entry outside", outside, "not a whole BIGF pack"},
      {"a per-file entry that is no pack", bigf({{"game.viv", text("plain")}}), "'game.viv' is not a whole BIGF pack"},
      {"a file listed twice", bigf({{"game.viv", inner}, {"GAME.VIV", inner}}), "'GAME.VIV' is listed twice"},
      {"a file above the game folder", bigf({{"..\\game.viv", inner}}), "'..\\game.viv' lies outside the game folder"},
      {"a file in a folder above", bigf({{"data/../../game.viv", inner}}), "'data/../../game.viv' lies outside the game folder"},
      {"a file from the root", bigf({{"\\game.viv", inner}}), "'\\game.viv' lies outside the game folder"},
      {"a file on a drive", bigf({{"c:game.viv", inner}}), "'c:game.viv' lies outside the game folder"},
      {"a member without a name", bigf({{"game.viv", bigf({{"", text("x")}})}}), "'game.viv' holds a member without a name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PatchContents p = parsepatch(copyblock(c.patch));
    EXPECT_EQ(p.status, PatchContents::kDamaged);
    EXPECT_EQ(p.damage, c.damage);
    EXPECT_TRUE(p.targets.empty());
  }
  const PatchContents p = parsepatch(copyblock(good));
  ASSERT_EQ(p.status, PatchContents::kRead);
  EXPECT_EQ(p.message, "hi");
  ASSERT_EQ(p.targets.size(), 1u);
  ASSERT_EQ(p.targets[0].members.size(), 1u);
  EXPECT_EQ(p.targets[0].members[0].name, "a.txt");
  EXPECT_EQ(Bytes(p.targets[0].members[0].bytes.begin(), p.targets[0].members[0].bytes.end()), text("Hello"));
}

}  // namespace
}  // namespace torvex
