// Paths written the Windows way, and member names that Windows would take
// to somewhere other than a file in the current folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "replacefixtures.h"
#include "support.h"
#include "writerfixtures.h"

namespace torvex {
namespace {

using packtest::Bytes;
using packtest::bytesof;
using packtest::Member;
using test::TempDir;
namespace fs = std::filesystem;

// A member's line in a listing: its size in 8 places, its name.
std::string line(const Member& m) {
  std::string size = std::to_string(m.bytes.size());
  return std::string(8 - size.size(), ' ') + size + " " + m.name + "\n";
}

std::vector<std::string> filesin(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    names.push_back(fs::relative(e.path(), folder).generic_string());
  std::sort(names.begin(), names.end());
  return names;
}

// A game folder as it comes from a Windows disk: mixed case, and member
// names with backslashes.
class GameFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "Game" / "Data");
    test::writebytes(pack(), packtest::bigfpack(members_));
  }
  fs::path pack() const { return dir_ / "Game" / "Data" / "Pack.VIV"; }

  const std::vector<Member> inner_ = {{"in.dat", bytesof("inside")}};
  const std::vector<Member> members_ = {
      {"Sub\\Deep\\Member.DAT", bytesof("deep")},
      {"Inner.viv", packtest::bigfpack(inner_)},
      {"plain.txt", bytesof("plain")},
      {"Pics.FSH", test::shpifile("GIMX", {{"TEXT", bytesof("notes")}})},
  };
  TempDir dir_;
};

TEST_F(GameFolder, ThePackIsFoundWhateverTheCaseAndSeparators) {
  for (const std::string spelling : {"Game\\Data\\Pack.VIV", "game\\data\\pack.viv", "GAME/DATA/PACK.VIV", "game/Data\\pack.VIV"}) {
    SCOPED_TRACE(spelling);
    const auto r = test::runtorvex({"-l", spelling}, dir_.path());
    EXPECT_EQ(r.status, 0);
    // Listed in name order, ignoring case.
    EXPECT_EQ(r.out, "pack file '" + spelling + "' opened\nDirectory '" + spelling + "'\n" + line(members_[1]) +
                         line(members_[3]) + line(members_[2]) + line(members_[0]));
  }
}

TEST_F(GameFolder, MembersComeOutWithTheirOwnNamesAndFolders) {
  auto r = test::runtorvex({"-u", "game\\DATA\\pack.viv", "SUB\\DEEP\\MEMBER.dat"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "pack file 'game\\DATA\\pack.viv' opened\n       4 Sub\\Deep\\Member.DAT\n");
  // The name as the pack spells it, backslashes made folders.
  EXPECT_EQ(test::readbytes(dir_ / "Sub" / "Deep" / "Member.DAT"), bytesof("deep"));

  r = test::runtorvex({"-u", "GAME\\DATA\\PACK.VIV\\INNER.VIV"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::readbytes(dir_ / "in.dat"), bytesof("inside"));
  EXPECT_EQ(filesin(dir_.path()), (std::vector<std::string>{"Game", "Game/Data", "Game/Data/Pack.VIV", "Sub",
                                                             "Sub/Deep", "Sub/Deep/Member.DAT", "in.dat"}));
}

TEST_F(GameFolder, ThePackIsRewrittenWhereItIs) {
  // Whatever the spelling on the command line, the file on the disk is the
  // one replaced: no second pack, no temporary file left beside it.
  test::writetext(dir_ / "PLAIN.TXT", "new plain");
  auto r = test::runtorvex({"-p", "game\\data\\pack.viv", "PLAIN.TXT"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("replaced 'plain.txt'\n"), std::string::npos) << r.out;
  r = test::runtorvex({"-d", "GAME/Data\\PACK.viv", "sub\\deep\\member.dat"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(filesin(dir_ / "Game"), (std::vector<std::string>{"Data", "Data/Pack.VIV"}));
  const auto members = packtest::bigfmembers(test::readbytes(pack()));
  ASSERT_TRUE(members);
  EXPECT_EQ(*members, (std::vector<Member>{members_[1], {"plain.txt", bytesof("new plain")}, members_[3]}));
}

TEST_F(GameFolder, ARecordOfAnShpiFileInsideIsReplaced) {
  test::writetext(dir_ / "note.txt", "new notes");
  const auto r = test::runtorvex({"-r", "GAME\\data\\PACK.viv\\PICS.fsh", "note.txt", "text"}, dir_.path());
  EXPECT_EQ(r.status, 0) << r.out;
  const auto members = packtest::bigfmembers(test::readbytes(pack()));
  ASSERT_TRUE(members);
  ASSERT_EQ(members->size(), 4u);
  // The member and its record keep the names the pack gave them; the SHPI
  // file made on the way is gone again.
  EXPECT_EQ((*members)[3].name, "Pics.FSH");
  const auto records = test::readshpi((*members)[3].bytes);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "TEXT");
  EXPECT_EQ(records[0].bytes, bytesof("new notes"));
  EXPECT_EQ(filesin(dir_.path()), (std::vector<std::string>{"Game", "Game/Data", "Game/Data/Pack.VIV", "note.txt"}));
}

// ---- Names that would leave the folder ---------------------------------------------

TEST(WindowsNames, MembersThatWouldLeaveTheFolderAreRefused) {
  // Drives, roots, UNC names and parent folders lead elsewhere on the disk;
  // device names, in any folder and with any extension, lead to a device:
  // "nul.txt" would swallow the bytes and "con" print them.
  const std::vector<std::string> refused = {
      "C:\\esc01.txt",       "c:esc02.txt",   "\\\\localhost\\share\\esc03.txt", "\\\\?\\C:\\esc04.txt",
      "\\esc05.txt",         "/esc06.txt",    "..\\esc07.txt",                   "sub\\..\\..\\esc08.txt",
      "sub/../../esc09.txt", "CON",           "nul.txt",                         "Com1",
      "LPT9.dat",            "aux",           "sub\\prn.txt",                    "conout$",
      "NUL .txt",            "con\\esc10.txt"};
  const std::vector<std::string> allowed = {"console.txt", "nullify.dat", "com10.txt", "lpt.txt",
                                            "sub\\auxiliary.dat", "..name.txt"};
  std::vector<Member> members;
  for (const auto& n : refused) members.push_back({n, bytesof("REFUSED " + n)});
  for (const auto& n : allowed) members.push_back({n, bytesof("allowed " + n)});
  TempDir dir;
  fs::create_directories(dir / "work");
  test::writebytes(dir / "work" / "p.viv", packtest::bigfpack(members));

  const auto r = test::runtorvex({"-u", "p.viv"}, dir / "work");
  EXPECT_EQ(r.status, 1);
  for (const auto& n : refused) {
    EXPECT_NE(r.out.find("refused to write '" + n + "': the name leads outside the current folder\n"), std::string::npos)
        << n << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("REFUSED"), std::string::npos) << "a member went to the console:\n" << r.out;
  EXPECT_EQ(r.err, "");
  for (const auto& n : allowed) {
    std::string path = n;
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_EQ(test::readbytes(dir / "work" / path), bytesof("allowed " + n)) << n;
  }
  EXPECT_EQ(filesin(dir / "work"), (std::vector<std::string>{"..name.txt", "com10.txt", "console.txt", "lpt.txt",
                                                               "nullify.dat", "p.viv", "sub", "sub/auxiliary.dat"}));
  // Nothing above the folder, at the root, or on a Windows drive C: (under Wine, its prefix).
  std::vector<fs::path> elsewhere = {dir.path(), "/"};
  if (const char* prefix = std::getenv("WINEPREFIX")) elsewhere.push_back(fs::path(prefix) / "drive_c");
  for (const fs::path& place : elsewhere) {
    for (int i = 1; i <= 10; ++i) {
      const std::string name = (i < 10 ? "esc0" : "esc") + std::to_string(i) + ".txt";
      EXPECT_FALSE(fs::exists(place / name)) << place / name;
    }
  }
}

}  // namespace
}  // namespace torvex
