// "-l", "-u" and the "-e" family: through the built program, and the
// writing of one member in process.
#include <gtest/gtest.h>

#include "../pack/fixtures.h"
#include "support.h"
#include "torvex/commands/listextract.h"
#include "torvex/platform/platform.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::Member;
namespace fs = std::filesystem;

const std::vector<Member> kMembers = {
    {"Zeta.dat", test::pattern(300, 1)},
    {"alpha.dat", test::pattern(1, 2)},
    {"mid.dat", test::pattern(70, 3)},
};

std::string listing(const std::string& pack) {
  return "pack file '" + pack + "' opened\nDirectory '" + pack + "'\n       1 alpha.dat\n      70 mid.dat\n     300 Zeta.dat\n";
}

TEST(PackCommands, ListAndUnpackEveryLayout) {
  struct Case {
    const char* name;
    ByteVec bytes;
  };
  const Case cases[] = {
      {"p.viv", test::bigf(kMembers)},  {"p.c0", test::c0fb(kMembers)},
      {"p.fst", test::fst(kMembers)},   {"p.mas", test::mas(kMembers)},
      {"p.apk", test::apuk(kMembers)},  {"whole.viv", test::fblit(test::bigf(kMembers))},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    test::writebytes(dir / c.name, c.bytes);
    const auto l = test::runtorvex({"-l", c.name}, dir.path());
    EXPECT_EQ(l.status, 0) << c.name;
    EXPECT_EQ(l.out, listing(c.name)) << c.name;
    const auto u = test::runtorvex({"-unpack", c.name}, dir.path());
    EXPECT_EQ(u.status, 0) << c.name << u.out;
    for (const Member& m : kMembers) EXPECT_EQ(test::readbytes(dir / m.name), m.data) << c.name << " " << m.name;
  }
}

TEST(PackCommands, QppAndOripLinesShowTheirLabels) {
  test::TempDir dir;
  test::writebytes(dir / "data.QPP", test::qpp({{"ab", ByteVec(5, 1)}, {"!pl", ByteVec(3, 2)}}));
  const auto q = test::runtorvex({"-l", "data.QPP"}, dir.path());
  EXPECT_EQ(q.out, "pack file 'data.QPP' opened\nDirectory 'data.QPP'\n       3 !pl\n       5 ab -1*-1 (ab)\n");
  EXPECT_EQ(test::runtorvex({"-u", "data.QPP"}, dir.path()).status, 0);
  EXPECT_EQ(test::readbytes(dir / "ab"), ByteVec(5, 1));
  EXPECT_EQ(test::readbytes(dir / "!pl"), ByteVec(3, 2));

  const ByteVec orip = test::orip("self", {"one"});
  test::writebytes(dir / "x.orp", orip);
  const auto o = test::runtorvex({"-l", "x.orp"}, dir.path());
  EXPECT_EQ(o.out, "pack file 'x.orp' opened\nDirectory 'x.orp'\n       0 one\n      85 self -1*-1 (ORIP)\n");
  // The whole-file record is the file itself; name-only records are empty.
  EXPECT_EQ(test::runtorvex({"-u", "x.orp"}, dir.path()).status, 0);
  EXPECT_EQ(test::readbytes(dir / "self"), orip);
  EXPECT_TRUE(test::readbytes(dir / "one").empty());
}

TEST(PackCommands, CompressedMembersListAndUnpackExpanded) {
  test::TempDir dir;
  const ByteVec plain = test::pattern(65536, 4);
  test::writebytes(dir / "p.viv", test::bigf({{"big.qfs", test::fblit(plain)}, {"small.txt", test::bytesof("hi")}}));
  const auto l = test::runtorvex({"-l", "p.viv"}, dir.path());
  EXPECT_NE(l.out.find("   65536 big.qfs\n"), std::string::npos) << l.out;
  const auto u = test::runtorvex({"-u", "p.viv", "BIG.QFS"}, dir.path());
  EXPECT_EQ(u.status, 0);
  EXPECT_EQ(u.out, "pack file 'p.viv' opened\n   65536 big.qfs\n");
  EXPECT_EQ(test::readbytes(dir / "big.qfs"), plain);
  EXPECT_FALSE(fs::exists(dir / "small.txt"));  // not selected
}

TEST(PackCommands, NestedPathsUnpackTheInnerContainer) {
  test::TempDir dir;
  const ByteVec inner = test::c0fb({{"in.dat", test::bytesof("inside")}});
  test::writebytes(dir / "p.viv", test::bigf({{"inner.viv", inner}}));
  const auto u = test::runtorvex({"-u", "p.viv\\Inner.viv"}, dir.path());
  EXPECT_EQ(u.status, 0) << u.out;
  EXPECT_EQ(test::readbytes(dir / "in.dat"), test::bytesof("inside"));

  const auto missing = test::runtorvex({"-u", "p.viv\\nope"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out,
            "pack file 'p.viv' opened\ncouldn't find 'nope' inside 'p.viv'\nCouldn't load directory 'p.viv\\nope'\n");
  const auto nolist = test::runtorvex({"-l", "p.viv\\nope"}, dir.path());
  EXPECT_EQ(nolist.status, 1);
  const auto nofile = test::runtorvex({"-l", "none.viv\\x"}, dir.path());
  EXPECT_EQ(nofile.status, 1);
  EXPECT_NE(nofile.out.find("-- couldn't open pack file 'none.viv\\x'"), std::string::npos) << nofile.out;
}

TEST(PackCommands, UnpackStaysInsideTheCurrentFolder) {
  test::TempDir dir;
  fs::create_directories(dir / "work");
  const std::vector<Member> members = {
      {"..\\escape1.txt", test::bytesof("1")},   {"../escape2.txt", test::bytesof("2")},
      {"/tmp/escape3.txt", test::bytesof("3")},  {"\\escape4.txt", test::bytesof("4")},
      {"C:\\escape5.txt", test::bytesof("5")},   {"sub\\..\\..\\escape6.txt", test::bytesof("6")},
      {"sub\\deeper/ok.txt", test::bytesof("7")}, {"plain.txt", test::bytesof("8")},
      {"..", test::bytesof("9")},
  };
  test::writebytes(dir / "work" / "p.viv", test::bigf(members));
  const auto u = test::runtorvex({"-u", "p.viv"}, dir / "work");
  EXPECT_EQ(u.status, 1);
  for (int i = 1; i <= 6; ++i) {
    const std::string n = "escape" + std::to_string(i) + ".txt";
    EXPECT_FALSE(fs::exists(dir / n)) << n;
    EXPECT_FALSE(fs::exists(fs::path("/tmp") / n)) << n;
  }
  EXPECT_NE(u.out.find("refused to write '..\\escape1.txt': the name leads outside the current folder\n"), std::string::npos)
      << u.out;
  EXPECT_NE(u.out.find("refused to write 'C:\\escape5.txt'"), std::string::npos);
  EXPECT_EQ(test::readbytes(dir / "work" / "sub" / "deeper" / "ok.txt"), test::bytesof("7"));
  EXPECT_EQ(test::readbytes(dir / "work" / "plain.txt"), test::bytesof("8"));
}

TEST(PackCommands, AMemberThatCannotBeWrittenLeavesNoFile) {
  // The disk takes nothing: a half-written member would pass for a whole one,
  // and a file of the member's name that was there must stay as it was.
  test::TempDir dir;
  test::CurrentFolder in(dir.path());
  test::writetext("Kept.dat", "the user's own file");
  const auto savedwrite = services().filewrite;
  services().filewrite = [](FileHandle, const void*, uint32_t) -> uint32_t { return 0; };
  const std::vector<uint8_t> content(100, 7);
  for (const char* name : {"m.dat", "kept.dat"}) {
    PackEntry member;
    member.name = name;
    test::ConsoleCapture console;
    EXPECT_THROW(writemember(member, content, 0, -2), FatalError);
    EXPECT_NE(console.text().find(std::string("-- couldn't write '") + name + "'\n"), std::string::npos)
        << console.text();
  }
  services().filewrite = savedwrite;
  EXPECT_FALSE(fs::exists(dir / "m.dat"));
  EXPECT_EQ(test::readbytes(dir / "Kept.dat"), test::bytesof("the user's own file"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
}

TEST(PackCommands, UnpackAndPictureWordsAreRegisteredForExtraction) {
  test::TempDir dir;
  test::writebytes(dir / "p.viv", test::bigf(kMembers));
  EXPECT_EQ(test::runtorvex({"-U", "p.viv", "mid.dat"}, dir.path()).status, 0);
  EXPECT_TRUE(fs::exists(dir / "mid.dat"));
  EXPECT_FALSE(fs::exists(dir / "alpha.dat"));
  // Pack members are plain data: the picture words name them and write nothing.
  const auto e = test::runtorvex({"-e", "p.viv", "mid.dat"}, dir.path());
  EXPECT_EQ(e.status, 0);
  EXPECT_NE(e.out.find("Not an image file!\n"), std::string::npos) << e.out;
}

TEST(PackCommands, AMemberOutsideItsPackEndsTheCommandNamingIt) {
  test::TempDir dir;
  ByteVec pack = test::bigf({{"a.dat", test::pattern(50, 6)}, {"b.dat", test::pattern(50, 7)}});
  pack[16 + 14 + 4 + 2] = 0x01;  // the size of b.dat: 0x132 bytes, past the end
  test::writebytes(dir / "p.viv", pack);
  const std::string fault =
      "***********\nFatal Error\n***********\n"
      "-- member 'b.dat' lies outside its container 'p.viv' (offset 94, size 306, container 144 bytes)\n";
  auto r = test::runtorvex({"-l", "p.viv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "pack file 'p.viv' opened\nDirectory 'p.viv'\n      50 a.dat\n" + fault);
  r = test::runtorvex({"-u", "p.viv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "pack file 'p.viv' opened\n      50 a.dat\n" + fault);
  EXPECT_FALSE(fs::exists(dir / "b.dat"));
}

TEST(PackCommands, RealCarPackLists) {
  const fs::path car = test::samplesdir() / "packs" / "car.viv";
  if (test::samplesdir().empty() || !fs::exists(car)) GTEST_SKIP() << "no samples";
  test::TempDir dir;
  fs::copy_file(car, dir / "car.viv");
  const auto l = test::runtorvex({"-l", "car.viv"}, dir.path());
  EXPECT_EQ(l.status, 0);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = l.out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(l.out.substr(start, nl - start));
  ASSERT_EQ(lines.size(), 18u) << l.out;
  EXPECT_EQ(lines[1], "Directory 'car.viv'");
  EXPECT_EQ(lines[2], "  226236 car.bnk");
  EXPECT_EQ(lines[6], " 1615856 dash.qfs");  // listed expanded
  EXPECT_EQ(lines[17], "  130072 scar.bnk");
  const auto u = test::runtorvex({"-u", "car.viv", "carp.txt", "DASH.QFS"}, dir.path());
  EXPECT_EQ(u.status, 0);
  EXPECT_EQ(fs::file_size(dir / "carp.txt"), 5028u);
  const auto dash = test::readbytes(dir / "dash.qfs");
  ASSERT_EQ(dash.size(), 1615856u);
  EXPECT_EQ(std::string(dash.begin(), dash.begin() + 3), "SHP");
}

}  // namespace
}  // namespace torvex
