// The dispatcher against a table of every command row, with bodies that
// only record how they were called.
#include "torvex/cli/dispatch.h"

#include <gtest/gtest.h>

#include "support.h"
#include "torvex/platform/platform.h"
#include "torvex/platform/settings.h"

namespace torvex {
namespace {

int called = 0;
Invocation seen;

template <int Row>
int record(const Invocation& inv) {
  called = Row;
  seen = inv;
  return kExitOk;
}

// The rows of the program, in their order, with their least counts.
constexpr Command kAllRows[] = {
    {words::makepatch, 3, false, record<1>},  {words::patch, 3, false, record<2>},
    {words::compress, 3, false, record<3>},   {words::decompress, 3, false, record<4>},
    {words::replace, 5, true, record<5>},     {words::create, 6, true, record<6>},
    {words::update, 4, false, record<7>},     {words::remove, 3, false, record<8>},
    {words::face, 4, false, record<9>},       {words::list, 3, false, record<10>},
    {words::extract, 3, false, record<11>},
};

int run(std::vector<const char*> args) {
  args.insert(args.begin(), "torvex");
  called = 0;
  resetsettings();
  const Invocation inv = workinglist(static_cast<int>(args.size()), args.data());
  return dispatch(inv, kAllRows);
}

TEST(Dispatch, WordsAndCounts) {
  struct Case {
    std::vector<const char*> args;
    int row;  // 0: the unknown-command message
  };
  const Case cases[] = {
      {{"-makepatch", "info.txt"}, 1},
      {{"-patch", "x"}, 2},
      {{"-compress", "a"}, 3},               // the destination may be absent
      {{"-Compress", "a", "b"}, 3},          // tried before the create row
      {{"-DECOMPRESS", "a", "b"}, 4},
      {{"-r", "p.fsh", "a.png", "ABCD"}, 5},
      {{"-RP", "p.fsh", "a.png", "ABCD"}, 5},
      {{"-r", "p.fsh", "a.png"}, 0},
      {{"-c", "p.fsh", "o.fsh", "a.png", "ABCD"}, 6},
      {{"-cfoo", "p.fsh", "o.fsh", "a.png", "ABCD"}, 6},
      {{"-C1P", "p.fsh", "o.fsh", "a.png"}, 0},
      {{"-p", "pack.viv"}, 0},               // a pack and no file
      {{"-p1", "pack.viv", "a.fsh"}, 7},
      {{"-P", "pack.viv", "a.fsh"}, 7},
      {{"-d", "pack.viv"}, 8},               // no names: rewrite unchanged
      {{"-face", "game"}, 0},
      {{"-face", "game", "12"}, 9},
      {{"-LIST", "pack.viv"}, 10},
      {{"-l", "pack.viv", "extra"}, 10},
      {{"-Unpack", "pack.viv"}, 11},
      {{"-EPNG", "pack.viv"}, 11},
      {{"-ejpg", "pack.viv"}, 11},
      {{"-ejpeg", "pack.viv"}, 0},           // not a word of the extraction table
      {{"-x", "pack.viv"}, 0},
      {{"-l", "-real", "pack.viv"}, 10},     // a switch anywhere
  };
  for (const Case& c : cases) {
    test::ConsoleCapture out;
    const int status = run(c.args);
    EXPECT_EQ(called, c.row) << c.args[0] << " with " << c.args.size() << " arguments";
    if (c.row == 0) {
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
  EXPECT_EQ(called, 10);
  ASSERT_EQ(seen.n(), 3);
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
  EXPECT_EQ(called, 0);
  EXPECT_TRUE(settings().user_palette_loaded);
  EXPECT_EQ(settings().user_palette[0], 'P');
}

TEST_F(PaletteOption, ShiftsTheArguments) {
  test::writetext("game.pal", "P");
  test::ConsoleCapture out;
  EXPECT_EQ(run({"-r", "-PAL", "game.pal", "p.fsh", "a.png", "ABCD"}), kExitOk);
  EXPECT_EQ(called, 5);
  EXPECT_EQ(seen.k, 2);
  EXPECT_STREQ(seen.at(2 + seen.k), "p.fsh");
}

TEST_F(PaletteOption, MissingFileStopsTheRun) {
  test::ConsoleCapture out;
  EXPECT_THROW(run({"-c", "-pal", "none.pal", "p.fsh", "o.fsh", "a.png", "ABCD"}), FatalError);
  EXPECT_EQ(out.text(), "couldn't open palette file 'none.pal'\n");
  EXPECT_EQ(called, 0);
}

TEST_F(PaletteOption, OnlyRightAfterTheCommandWord) {
  test::ConsoleCapture out;
  // "-pal" in entry 3 is an ordinary argument.
  EXPECT_EQ(run({"-r", "p.fsh", "-pal", "x", "ABCD"}), kExitOk);
  EXPECT_EQ(seen.k, 0);
  EXPECT_FALSE(settings().user_palette_loaded);
}

}  // namespace
}  // namespace torvex
