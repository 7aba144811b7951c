// The built program, run as a user runs it.
#include <gtest/gtest.h>

#include "support.h"

namespace torvex {
namespace {

const char kUsage[] =
    "\n"
    " TORVEX 0.56 (16.11.2001) BMP/GIF/JPG/PCX/PNG<->EA-SHPI converter by\n"
    " the torvex developers\n"
    "\n"
    "*replace images:\n"
    "  -r(p) (-real) (-pal <palfile>) <path> <img1> <SHPI1> <img2> <SHPI2> ...\n"
    "*create new SHPI-file and replace images:\n"
    "  -c(p) (-real) (-pal <palfile>) <path> <SHPI-file> <img1> <SHPI1> ...\n"
    "*update pack file:\n"
    "  -p (-real) <pack file> <file1> <file2> ...\n"
    "*delete file(s) inside pack file:\n"
    "  -d <path> name1 name2...\n"
    "*list pack file contents:\n"
    "  -l <pack-file path>\n"
    "*extract and decompress images from pack file:\n"
    "  -e(gif/bmp/jpeg/pcx/png) <pack file path> (<name1> <name2> ...)\n"
    "*extract and decompress data from pack file:\n"
    "  -u <pack-file path> (<name1> <name2> ...)\n"
    "*compress/decompress file:\n"
    "  -de/compress (-real) <source file> <destination file>\n"
    "*add new NHL'98/'99 face(s):\n"
    "  -face <game basedir> <face number> <another face number> ...\n";

const char kUnknown[] = "\nunknown command or not enough parameters\n";

TEST(CommandLine, EndToEnd) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
    int status;
  };
  const Case cases[] = {
      {{}, kUsage, 0},
      {{"-l"}, kUsage, 0},
      {{"-real", "-notrans"}, kUsage, 0},       // switches do not count
      {{"-patch", "x.pat"}, "***********\nFatal Error\n***********\n-- couldn't open patch file 'x.pat'\n", 1},
      {{"-PATCH", "a", "b"}, "***********\nFatal Error\n***********\n-- couldn't open patch file 'a'\n", 1},
      {{"-makepatch", "info.txt", "new.viv"}, kUnknown, 2},  // no reference folder
      {{"-MakePatch", "info.txt"}, kUnknown, 2},
      {{"-frobnicate", "x"}, kUnknown, 2},
      {{"-ejpeg", "pack.viv"}, kUnknown, 2},
      {{"-p", "pack.viv"}, kUnknown, 2},        // too few arguments
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const test::RunResult r = test::runtorvex(c.args, dir.path());
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.out, c.out) << line;
    EXPECT_EQ(r.status, c.status) << line;
    EXPECT_EQ(r.err, "") << line;
  }
}

}  // namespace
}  // namespace torvex
