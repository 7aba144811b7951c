// "-l", "-u" and the "-e" family: through the built program, and the
// writing of one member in process.
#include <sys/stat.h>
#include <unistd.h>

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


// ---- Nothing lost, nothing hidden -----------------------------------------------------

std::vector<std::string> filesbelow(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    names.push_back(fs::relative(e.path(), folder).generic_string());
  std::sort(names.begin(), names.end());
  return names;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(PackCommands, MembersWhoseNamesDifferOnlyInCaseAllComeOut) {
  // A real pack holds both trafcfg.dat and TRAFCFG.DAT. Where the file system
  // tells the names apart, each comes out under its own name (a file of the
  // user's in another case is not taken for it either); where one file stands
  // for both names, as on Windows, a WARNING says so for each pair.
  test::TempDir dir;
  const std::vector<Member> members = {
      {"trafcfg.dat", test::bytesof("lower")}, {"TRAFCFG.DAT", test::bytesof("UPPER")},
      {"Sub\\Team.txt", test::bytesof("first")}, {"sub\\TEAM.TXT", test::bytesof("second")},
      {"notes.txt", test::bytesof("the pack's notes")},
  };
  test::writebytes(dir / "p.viv", test::bigf(members));
  test::writetext(dir / "NOTES.TXT", "the user's own notes");
  const auto r = test::runtorvex({"-u", "p.viv"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string pair1 = "WARNING: 'TRAFCFG.DAT' was written over 'trafcfg.dat': the names differ only in letter "
                            "case, which this file system does not tell apart\n";
  const std::string pair2 = "WARNING: 'sub\\TEAM.TXT' was written over 'Sub\\Team.txt': the names differ only in "
                            "letter case, which this file system does not tell apart\n";
  if (test::emulated()) {
    EXPECT_EQ(count(r.out, "WARNING"), 2u) << r.out;
    EXPECT_NE(r.out.find("       5 TRAFCFG.DAT\n" + pair1), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("       6 sub\\TEAM.TXT\n" + pair2), std::string::npos) << r.out;
    return;
  }
  EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
  EXPECT_EQ(filesbelow(dir.path()), (std::vector<std::string>{"NOTES.TXT", "Sub", "Sub/TEAM.TXT", "Sub/Team.txt",
                                                               "TRAFCFG.DAT", "notes.txt", "p.viv", "trafcfg.dat"}));
  for (const Member& m : members) {
    std::string path = m.name;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.front() == 's') path[0] = 'S';  // the folder made for the first member is found for the second
    EXPECT_EQ(test::readbytes(dir / path), m.data) << m.name;
  }
  EXPECT_EQ(test::readbytes(dir / "NOTES.TXT"), test::bytesof("the user's own notes"));
}

TEST(PackCommands, NamesThatMatchNothingAreReported) {
  test::TempDir dir;
  const ByteVec inner = test::bigf({{"in.dat", test::bytesof("inside")}});
  std::vector<Member> members = kMembers;
  members.push_back({"Inner.viv", inner});
  test::writebytes(dir / "p.viv", test::bigf(members));
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      // Reported once each, after the members that were found, in the order given.
      {{"-u", "p.viv", "NOPE", "alpha.dat", "gone", "nope"},
       "pack file 'p.viv' opened\n       1 alpha.dat\n"
       "couldn't find 'NOPE' inside 'p.viv'\ncouldn't find 'gone' inside 'p.viv'\n"},
      {{"-e", "p.viv", "mid.dat", "x"},
       "pack file 'p.viv' opened\n      70 mid.dat\nNot an image file!\ncouldn't find 'x' inside 'p.viv'\n"},
      {{"-u", "p.viv\\inner.viv", "IN.DAT", "out.dat"},
       "pack file 'p.viv' opened\n       6 in.dat\ncouldn't find 'out.dat' inside 'p.viv\\inner.viv'\n"},
      {{"-u", "p.viv", "missing"}, "pack file 'p.viv' opened\ncouldn't find 'missing' inside 'p.viv'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[2]);
    const auto r = test::runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(test::readbytes(dir / "alpha.dat"), test::pattern(1, 2));
  EXPECT_EQ(test::readbytes(dir / "in.dat"), test::bytesof("inside"));
}

TEST(PackCommands, CorruptCompressedDataIsNamed) {
  // A 10 FB header promising 100 bytes, then the end command: nothing.
  const ByteVec bad = {0x10, 0xFB, 0x00, 0x00, 0x64, 0xFC};
  test::TempDir dir;
  test::writebytes(dir / "p.viv", test::bigf({{"a.dat", test::bytesof("first")},
                                               {"bad.qfs", bad},
                                               {"inner.viv", bad},
                                               {"z.dat", test::bytesof("last")}}));
  test::writebytes(dir / "whole.viv", bad);
  test::writetext(dir / "new.dat", "new");
  const std::string corrupt = " is corrupt (bad compressed data)\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"-l", "p.viv"},
       "pack file 'p.viv' opened\nDirectory 'p.viv'\n       5 a.dat\nfile 'p.viv\\bad.qfs'" + corrupt +
           "file 'p.viv\\inner.viv'" + corrupt + "       4 z.dat\n"},
      {{"-u", "p.viv", "bad.qfs", "z.dat"},
       "pack file 'p.viv' opened\nfile 'p.viv\\bad.qfs'" + corrupt + "       4 z.dat\n"},
      {{"-l", "p.viv\\inner.viv"}, "pack file 'p.viv' opened\nfile 'p.viv\\inner.viv'" + corrupt},
      {{"-l", "whole.viv"}, "pack file 'whole.viv' opened\nfile 'whole.viv'" + corrupt},
      {{"-u", "whole.viv"},
       "pack file 'whole.viv' opened\nfile 'whole.viv'" + corrupt + "Couldn't load directory 'whole.viv'\n"},
      {{"-d", "whole.viv", "a.dat"}, "deletes files from packfile 'whole.viv'\nfile 'whole.viv'" + corrupt},
      {{"-p", "whole.viv", "new.dat"}, "updating packfile 'whole.viv'\nfile 'whole.viv'" + corrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto r = test::runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_FALSE(fs::exists(dir / "bad.qfs"));
  EXPECT_EQ(test::readbytes(dir / "z.dat"), test::bytesof("last"));
  EXPECT_EQ(test::readbytes(dir / "whole.viv"), bad);
}

TEST(PackCommands, UnpackNeverWritesOverThePackItReads) {
  // Written over while it is read, the pack would be gone: the member of its
  // name is refused, the others come out.
  test::TempDir dir;
  const ByteVec inner = test::bigf({{"p.viv", test::bytesof("from inside")}, {"b.txt", test::bytesof("b")}});
  const ByteVec pack = test::bigf({{"a.txt", test::bytesof("a")},
                                   {"p.viv", test::bytesof("self")},
                                   {"P.VIV", test::bytesof("SELF")},
                                   {"inner.viv", inner}});
  test::writebytes(dir / "p.viv", pack);
  const std::string refused = "refused to write 'p.viv': it is the packfile being read\n";
  auto r = test::runtorvex({"-u", "p.viv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("       4 p.viv\n" + refused), std::string::npos) << r.out;
  EXPECT_EQ(test::readbytes(dir / "p.viv"), pack);
  EXPECT_EQ(test::readbytes(dir / "a.txt"), test::bytesof("a"));
  if (test::emulated()) {
    // One file for both names: the other spelling is the pack as well.
    EXPECT_NE(r.out.find("refused to write 'P.VIV': it is the packfile being read\n"), std::string::npos) << r.out;
  } else {
    EXPECT_EQ(test::readbytes(dir / "P.VIV"), test::bytesof("SELF"));
  }
  // A member of a pack inside would land on the disk file being read just the same.
  r = test::runtorvex({"-u", "p.viv\\inner.viv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(refused), std::string::npos) << r.out;
  EXPECT_EQ(test::readbytes(dir / "p.viv"), pack);
  EXPECT_EQ(test::readbytes(dir / "b.txt"), test::bytesof("b"));
}

TEST(PackCommands, FilesOf4GiBOrMoreAreRefusedNamingThem) {
  // The services report one size for every file past 32 bits; it must not
  // be taken for a size, nor turn into "couldn't allocate -1 bytes".
  test::TempDir dir;
  test::writetext(dir / "big.dat", "hello world");
  fs::resize_file(dir / "big.dat", (uint64_t{1} << 32) + 11);  // sparse: no room taken
  const ByteVec pack = test::bigf({{"a.txt", test::bytesof("hello")}});
  test::writebytes(dir / "pack.viv", pack);
  // An SHPI file of one data record "TEXT", from the table: "SHPI", size,
  // count, directory id, then the record's name and offset, its bytes.
  const ByteVec shpi = {'S', 'H', 'P', 'I', 29, 0, 0, 0, 1, 0, 0, 0, 'G', 'I', 'M', 'X',
                        'T', 'E', 'X', 'T', 24, 0, 0, 0, 'n', 'o', 't', 'e', 's'};
  test::writebytes(dir / "pics.fsh", shpi);
  const std::string fatal = "***********\nFatal Error\n***********\n-- ";
  const std::string replacing = "scanning original pack file\npack file 'pics.fsh' opened\nreading data/image files..\n";
  const std::string asread = "file 'big.dat' is too large (4 GiB or more, at most 2147483632 can be read)\n";
  const std::string aspack = "file 'big.dat' is too large (4 GiB or more, at most 2147483647 can be read)\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"-compress", "big.dat", "out"}, fatal + asread},
      {{"-decompress", "big.dat", "out"}, fatal + asread},
      {{"-l", "big.dat"}, "pack file 'big.dat' opened\n" + aspack},
      {{"-u", "big.dat"}, "pack file 'big.dat' opened\n" + aspack + "Couldn't load directory 'big.dat'\n"},
      {{"-d", "big.dat", "x"}, "deletes files from packfile 'big.dat'\n" + aspack},
      {{"-p", "pack.viv", "big.dat"},
       "updating packfile 'pack.viv'\n" + fatal + "'big.dat' has 4 GiB or more, more than a packfile can hold\n"},
      {{"-r", "pics.fsh", "big.dat", "TEXT"}, replacing + fatal + asread},
      {{"-makepatch", "big.dat", "p.viv", "ref"}, fatal + asread},
      {{"-patch", "big.dat"},
       fatal + "'big.dat' is no patch or is damaged (larger than a packfile can be), nothing patched\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const auto r = test::runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(filesbelow(dir.path()), (std::vector<std::string>{"big.dat", "pack.viv", "pics.fsh"}));
  EXPECT_EQ(test::readbytes(dir / "pack.viv"), pack);
  EXPECT_EQ(test::readbytes(dir / "pics.fsh"), shpi);
}

// ---- Files written beside their names -------------------------------------------------

fs::path sample(const char* name) {
  const fs::path root = test::samplesdir();
  return root.empty() ? fs::path{} : root / name;
}

TEST(PackCommands, APictureThatCannotBeWrittenLeavesNoHalfFile) {
  // 3dobj.fsh holds 256x256 pictures: 196,662 bytes as BMP, past the limit.
  const fs::path fsh = sample("shpi/3dobj.fsh");
  if (fsh.empty() || !fs::exists(fsh)) GTEST_SKIP() << "no sample SHPI files";
  test::TempDir dir;
  fs::copy_file(fsh, dir / "3dobj.fsh");
  fs::permissions(dir / "3dobj.fsh", fs::perms::owner_write, fs::perm_options::add);
  test::writetext(dir / "chr1.bmp", "the picture that was there");
  for (const char* name : {"chr0", "chr1"}) {
    SCOPED_TRACE(name);
    const auto r = test::runtorvex({"-ebmp", "3dobj.fsh", name}, dir.path(), 100000);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(std::string("-- image '") + name + "' write failed\n"), std::string::npos) << r.out;
  }
  EXPECT_EQ(test::readbytes(dir / "chr1.bmp"), test::bytesof("the picture that was there"));
  EXPECT_EQ(filesbelow(dir.path()), (std::vector<std::string>{"3dobj.fsh", "chr1.bmp"}));
}

TEST(PlantedLinks, AreReplacedNeverWrittenThrough) {
  // Someone planted links at the names of members and pictures, pointing at
  // files outside the folder: unpacking replaces the links and leaves the
  // files they point at as they were.
  const fs::path fsh = sample("shpi/3dobj.fsh");
  if (fsh.empty() || !fs::exists(fsh)) GTEST_SKIP() << "no sample SHPI files";
  test::TempDir dir;
  fs::create_directories(dir / "work");
  const fs::path work = dir / "work";
  fs::copy_file(fsh, work / "3dobj.fsh");
  fs::permissions(work / "3dobj.fsh", fs::perms::owner_write, fs::perm_options::add);
  test::writebytes(work / "p.viv", test::bigf({{"x.txt", test::bytesof("member")}}));
  const std::vector<std::string> outputs = {"x.txt",    "engs.bmp", "engs.gif", "engs.pcx",
                                            "engs.png", "engs.jpg", "out.fb"};
  for (const std::string& name : outputs) {
    test::writetext(dir / ("precious-" + name), "precious");
    fs::create_symlink(dir / ("precious-" + name), work / name);
  }
  EXPECT_EQ(test::runtorvex({"-u", "p.viv"}, work).status, 0);
  for (const char* word : {"-ebmp", "-egif", "-epcx", "-epng", "-ejpg"})
    EXPECT_EQ(test::runtorvex({word, "3dobj.fsh", "engs"}, work).status, 0) << word;
  EXPECT_EQ(test::runtorvex({"-compress", "p.viv", "out.fb"}, work).status, 0);
  for (const std::string& name : outputs) {
    SCOPED_TRACE(name);
    EXPECT_EQ(test::readbytes(dir / ("precious-" + name)), test::bytesof("precious"));
    EXPECT_FALSE(fs::is_symlink(work / name));
    EXPECT_TRUE(fs::is_regular_file(work / name));
  }
  EXPECT_EQ(test::readbytes(work / "x.txt"), test::bytesof("member"));
}

}  // namespace
}  // namespace torvex
