// The dispatcher against the program's own command table, with bodies that
// only record how they were called.
#include "torvex/cli/dispatch.h"

#include <gtest/gtest.h>

#include <map>

#include "support.h"
#include "torvex/platform/platform.h"
#include "torvex/platform/settings.h"

namespace torvex {
namespace {

std::string called;  // the command whose body ran, "" for none
Invocation seen;

// What each row of the table is, by its word test.
const std::map<bool (*)(std::string_view), std::string> kRowNames = {
    {words::makepatch, "makepatch"}, {words::patch, "patch"}, {words::compress, "compress"}, {words::decompress, "decompress"},
    {words::replace, "replace"}, {words::create, "create"},   {words::update, "update"},
    {words::remove, "delete"}, {words::face, "face"},         {words::list, "list"},
    {words::extract, "extract"},
};

std::vector<Command> rows;

template <size_t Row>
int record(const Invocation& inv) {
  called = kRowNames.at(rows[Row].matches);
  seen = inv;
  return kExitOk;
}

// The program's table, its order and counts, each body replaced by a recorder.
void recordingtable() {
  static constexpr int (*kRecorders[])(const Invocation&) = {record<0>, record<1>, record<2>, record<3>, record<4>,
                                                             record<5>, record<6>, record<7>, record<8>, record<9>,
                                                             record<10>, record<11>};
  rows.assign(commandtable().begin(), commandtable().end());
  ASSERT_LE(rows.size(), std::size(kRecorders));
  for (size_t i = 0; i < rows.size(); ++i) rows[i].body = kRecorders[i];
}

int run(std::vector<const char*> args) {
  if (rows.empty()) recordingtable();
  args.insert(args.begin(), "torvex");
  called.clear();
  resetsettings();
  const Invocation inv = workinglist(static_cast<int>(args.size()), args.data());
  return dispatch(inv, rows);
}

TEST(Dispatch, WordsAndCounts) {
  struct Case {
    std::vector<const char*> args;
    std::string row;  // "": the unknown-command message
  };
  const Case cases[] = {
      {{"-makepatch", "info.txt", "p.viv"}, ""},  // the reference folder is missing
      {{"-MAKEPATCH", "info.txt", "p.viv", "ref"}, "makepatch"},
      {{"-patch", "x"}, "patch"},
      {{"-makepatchx", "a", "b", "c"}, ""},
      {{"-compress", "a"}, "compress"},          // the destination may be absent
      {{"-Compress", "a", "b"}, "compress"},     // tried before the create row
      {{"-DECOMPRESS", "a", "b"}, "decompress"},
      {{"-r", "p.fsh", "a.png", "ABCD"}, "replace"},
      {{"-RP", "p.fsh", "a.png", "ABCD"}, "replace"},
      {{"-r", "p.fsh", "a.png"}, ""},
      {{"-c", "p.fsh", "o.fsh", "a.png", "ABCD"}, "create"},
      {{"-cfoo", "p.fsh", "o.fsh", "a.png", "ABCD"}, "create"},
      {{"-C1P", "p.fsh", "o.fsh", "a.png"}, ""},
      {{"-p", "pack.viv"}, ""},                  // a pack and no file
      {{"-p1", "pack.viv", "a.fsh"}, "update"},
      {{"-P", "pack.viv", "a.fsh"}, "update"},
      {{"-d", "pack.viv"}, "delete"},            // no names: rewrite unchanged
      {{"-face", "game", "12"}, "face"},
      {{"-FACE", "game", "12", "13"}, "face"},
      {{"-face", "game"}, ""},                   // a game folder and no face number
      {{"-LIST", "pack.viv"}, "list"},
      {{"-l", "pack.viv", "extra"}, "list"},
      {{"-Unpack", "pack.viv"}, "extract"},
      {{"-EPNG", "pack.viv"}, "extract"},
      {{"-ejpg", "pack.viv"}, "extract"},
      {{"-ejpeg", "pack.viv"}, ""},              // not a word of the extraction table
      {{"-x", "pack.viv"}, ""},
      {{"-l", "-real", "pack.viv"}, "list"},     // a switch anywhere
  };
  for (const Case& c : cases) {
    test::ConsoleCapture out;
    const int status = run(c.args);
    EXPECT_EQ(called, c.row) << c.args[0] << " with " << c.args.size() << " arguments";
    if (c.row.empty()) {
      EXPECT_EQ(status, kExitUnknown);
      EXPECT_EQ(out.text(), "\nunknown command or not enough parameters\n");
    } else {
      EXPECT_EQ(status, kExitOk);
    }
  }
}

TEST(Dispatch, SwitchesAreRemovedWhereverTheyStand) {
  test::ConsoleCapture out;
  run({"-l", "-REAL", "pack.viv", "-notrans"});
  EXPECT_EQ(called, "list");
  ASSERT_EQ(seen.count(), 3);
  EXPECT_EQ(seen.args[2], "pack.viv");
  EXPECT_TRUE(settings().real_compression);
  EXPECT_EQ(settings().transparency_option, 0);
}

TEST(Dispatch, CreateOptionBits) {
  struct Case {
    const char* word;
    int bits;
  };
  const Case cases[] = {{"-c", 0}, {"-cp", 2}, {"-c1", 1}, {"-c1p", 3}, {"-C1P", 3}, {"-cfoo", 0}, {"-cP", 2}};
  for (const Case& c : cases) EXPECT_EQ(createoptions(c.word), c.bits) << c.word;
}

TEST(Dispatch, ExtractionTable) {
  struct Case {
    const char* word;
    int picture;
    int format;
  };
  const Case cases[] = {
      {"-u", 0, -2},    {"-unpack", 0, -2}, {"-e", 1, 5},    {"-extract", 1, 5}, {"-ebmp", 1, 0},
      {"-extractgif", 1, 1}, {"-ejpg", 1, 3}, {"-EPCX", 1, 4}, {"-extractpng", 1, 5},
  };
  for (const Case& c : cases) {
    ExtractMode m{};
    ASSERT_TRUE(extractmode(c.word, m)) << c.word;
    EXPECT_EQ(m.picture, c.picture) << c.word;
    EXPECT_EQ(m.format, c.format) << c.word;
  }
  ExtractMode m{};
  EXPECT_FALSE(extractmode("-ejpeg", m));
}

class PaletteOption : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  test::TempDir dir_;
  std::filesystem::path old_;
};

TEST_F(PaletteOption, IsReadBeforeTheCountIsChecked) {
  test::writetext("game.pal", "PALETTEBYTES");
  test::ConsoleCapture out;
  // 5 + 2 entries are needed after "-pal game.pal"; there are 6.
  EXPECT_EQ(run({"-r", "-pal", "game.pal", "p.fsh", "a.png"}), kExitUnknown);
  EXPECT_EQ(called, "");
  EXPECT_TRUE(settings().user_palette_loaded);
  EXPECT_EQ(settings().user_palette[0], 'P');
}

TEST_F(PaletteOption, ShiftsTheArguments) {
  test::writetext("game.pal", "P");
  test::ConsoleCapture out;
  EXPECT_EQ(run({"-r", "-PAL", "game.pal", "p.fsh", "a.png", "ABCD"}), kExitOk);
  EXPECT_EQ(called, "replace");
  EXPECT_EQ(seen.paletteArgs, 2);
  EXPECT_STREQ(seen.at(2 + seen.paletteArgs), "p.fsh");
}

TEST_F(PaletteOption, MissingFileStopsTheRun) {
  test::ConsoleCapture out;
  EXPECT_THROW(run({"-c", "-pal", "none.pal", "p.fsh", "o.fsh", "a.png", "ABCD"}), FatalError);
  EXPECT_EQ(out.text(), "couldn't open palette file 'none.pal'\n");
  EXPECT_EQ(called, "");
}

TEST_F(PaletteOption, OnlyRightAfterTheCommandWord) {
  test::ConsoleCapture out;
  // "-pal" in entry 3 is an ordinary argument.
  EXPECT_EQ(run({"-r", "p.fsh", "-pal", "x", "ABCD"}), kExitOk);
  EXPECT_EQ(seen.paletteArgs, 0);
  EXPECT_FALSE(settings().user_palette_loaded);
}

}  // namespace
}  // namespace torvex
