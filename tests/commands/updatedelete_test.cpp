// The update and delete commands: compression of new members, refusals that
// must leave the pack as it was, compressed and read-only packs, the
// temporary file, and a real pack rewritten without loss.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "../pack/writerfixtures.h"
#include "support.h"
#include "torvex/commands/updatedelete.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/platform.h"

namespace torvex {
namespace {

using packtest::Bytes;
using packtest::Member;
using test::TempDir;
namespace fs = std::filesystem;

const Bytes kBigfTwo = {
    'B', 'I', 'G', 'F', 0, 0, 0, 0x38, 0, 0, 0, 2, 0, 0, 0, 0x2C,      //
    0, 0, 0, 0x2C, 0, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,             //
    0, 0, 0, 0x34, 0, 0, 0, 3, 'B', '.', 'f', 's', 'h', 0,             //
    'h', 'e', 'l', 'l', 'o', 0, 0, 0,                                  //
    'x', 'y', 'z', 0};

Bytes expand(const Bytes& block) {
  FbStatus status;
  const Block out = fbdecompress(block, status);
  if (!out) return {};
  return Bytes(out.get(), out.get() + out.size);
}

// The bytes of member `name` of a BIGF pack file.
Bytes memberof(const fs::path& pack, const std::string& name) {
  const auto members = packtest::bigfmembers(test::readbytes(pack));
  if (!members) return {};
  for (const Member& m : *members)
    if (m.name == name) return m.bytes;
  return {};
}

TEST(UpdatePack, P1CompressesNewMembersUnlessAlreadyCompressed) {
  const Bytes plain(400, 'a');
  const Bytes precompressed = packtest::fbstored(packtest::bytesof("already compressed"));
  struct Case {
    const char* what;
    std::vector<std::string> switches;
    Bytes content;
  };
  const Case cases[] = {
      {"store encoder", {}, plain},
      {"real encoder", {"-real"}, plain},
      {"compressed file, store", {}, precompressed},
      {"compressed file, real", {"-real"}, precompressed},
  };
  size_t stored = 0;
  size_t real = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    test::writebytes(dir / "pack.viv", kBigfTwo);
    test::writebytes(dir / "c.dat", c.content);
    std::vector<std::string> args{"-p1", "pack.viv", "c.dat"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    const auto r = test::runtorvex(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    const Bytes member = memberof(dir / "pack.viv", "c.dat");
    if (c.content == precompressed) {
      EXPECT_EQ(member, precompressed);
      continue;
    }
    ASSERT_GE(member.size(), 5u);
    EXPECT_EQ(member[0], 0x10);
    EXPECT_EQ(member[1], 0xFB);
    EXPECT_EQ(expand(member), plain);
    (c.switches.empty() ? stored : real) = member.size();
    // Unchanged members stay as they were.
    EXPECT_EQ(memberof(dir / "pack.viv", "a.txt"), packtest::bytesof("hello"));
  }
  EXPECT_LT(real, stored);  // the real encoder finds the repeats
}

// Commands that must fail before anything is written: the pack keeps its
// bytes and no temporary file is left.
TEST(UpdatePack, RefusalsLeaveThePackUntouched) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {"13-character name", {"-p", "pack.viv", "ok.dat", "abcdefghi.fsh"}, "-- filename 'abcdefghi.fsh' is too long\n"},
      {"missing file", {"-p", "pack.viv", "ok.dat", "nothere.dat"}, "-- couldn't open 'nothere.dat' for reading\n"},
      {"missing pack", {"-p", "other.viv", "ok.dat"}, "-- couldn't open packfile 'other.viv'\n"},
      {"delete of a missing name", {"-d", "pack.viv", "a.txt", "nothere"}, "-- can't find 'nothere'"},
      {"C0FB member too large", {"-p", "c0fb.viv", "big.dat"},
       "-- 'big.dat' has 16777216 bytes, more than the 16777215 a C0FB packfile can hold"},
      {"an SHPI file", {"-p", "pics.fsh", "ok.dat"}, "-- 'pics.fsh' is SHPI file, use -r/-rp to replace images\n"},
      {"a MAS pack", {"-d", "p.mas", "m"}, "-- 'p.mas' is not supported packfile\n"},
      // The member name is what follows the last "/", "\\" or ":": here
      // nothing, and a member without a name would end the directory.
      {"a folder for a file", {"-p", "pack.viv", "ok.dat", "sub/"},
       "-- 'sub/' gives no member name (the text after its last '/', '\\' or ':')\n"},
      {"a drive for a file", {"-p", "c0fb.viv", "ok.dat:"}, "-- 'ok.dat:' gives no member name"},
      {"no pack at all", {"-d", "ok.dat"}, "couldn't scan packfile 'ok.dat'\n"},
  };
  const Bytes c0fb = {0xC0, 0xFB, 0, 0x0C, 0, 1, 0, 0, 0x10, 0, 0, 1, 'a', 0, 0, 0, 'z', 0, 0, 0};
  // An SHPI file of no records: its header only.
  const Bytes shpi = {'S', 'H', 'P', 'I', 16, 0, 0, 0, 0, 0, 0, 0, 'G', 'I', 'M', 'X'};
  // MAS: count 1, data length 4, one 32-byte record (name, offset 40, size 4), the data.
  Bytes mas = {1, 0, 0, 0, 4, 0, 0, 0, 'm'};
  mas.resize(8 + 16, 0);
  mas.insert(mas.end(), {40, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'd'});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    test::writebytes(dir / "pack.viv", kBigfTwo);
    test::writebytes(dir / "c0fb.viv", c0fb);
    test::writebytes(dir / "pics.fsh", shpi);
    test::writebytes(dir / "p.mas", mas);
    test::writetext(dir / "ok.dat", "fine");
    test::writetext(dir / "abcdefghi.fsh", "long name");
    if (std::string(c.what) == "C0FB member too large") test::writebytes(dir / "big.dat", Bytes(0x1000000, 7));
    const auto before = packtest::filesin(dir.path());
    const auto r = test::runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("writing data"), std::string::npos) << r.out;
    EXPECT_EQ(test::readbytes(dir / "pack.viv"), kBigfTwo);
    EXPECT_EQ(test::readbytes(dir / "c0fb.viv"), c0fb);
    EXPECT_EQ(test::readbytes(dir / "pics.fsh"), shpi);
    EXPECT_EQ(test::readbytes(dir / "p.mas"), mas);
    EXPECT_EQ(packtest::filesin(dir.path()), before);
  }
}

TEST(DeletePack, ANameGivenTwiceIsCountedTwice) {
  TempDir dir;
  test::writebytes(dir / "pack.viv", kBigfTwo);
  const auto r = test::runtorvex({"-d", "pack.viv", "A.TXT", "a.txt"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("total 2, deleted 2\n"), std::string::npos) << r.out;
  const auto members = packtest::bigfmembers(test::readbytes(dir / "pack.viv"));
  ASSERT_TRUE(members);
  EXPECT_EQ(*members, (std::vector<Member>{{"B.fsh", packtest::bytesof("xyz")}}));
}

TEST(DeletePack, ACompressedPackIsWrittenBackCompressed) {
  TempDir dir;
  test::writebytes(dir / "pack.viv", packtest::fbstored(kBigfTwo));
  const auto r = test::runtorvex({"-d", "pack.viv", "a.txt"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  const Bytes written = test::readbytes(dir / "pack.viv");
  ASSERT_GE(written.size(), 5u);
  EXPECT_EQ(written[0], 0x10);
  EXPECT_EQ(written[1], 0xFB);
  const Bytes expected = {
      'B', 'I', 'G', 'F', 0, 0, 0, 0x24, 0, 0, 0, 1, 0, 0, 0, 0x20,       //
      0, 0, 0, 0x20, 0, 0, 0, 3, 'B', '.', 'f', 's', 'h', 0, 0, 0,        //
      'x', 'y', 'z', 0};
  EXPECT_EQ(expand(written), expected);
  EXPECT_EQ(packtest::filesin(dir.path()), std::vector<std::string>{"pack.viv"});
}

TEST(DeletePack, AReadOnlyPackIsMadeWritable) {
  TempDir dir;
  test::writebytes(dir / "pack.viv", kBigfTwo);
  fs::permissions(dir / "pack.viv", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto r = test::runtorvex({"-d", "pack.viv", "a.txt"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("'pack.viv': removed read-only flag\n"), std::string::npos) << r.out;
  EXPECT_EQ(memberof(dir / "pack.viv", "B.fsh"), packtest::bytesof("xyz"));
  EXPECT_TRUE((fs::status(dir / "pack.viv").permissions() & fs::perms::owner_write) != fs::perms::none);
}

TEST(UpdatePack, AFileOfTheUsersAtTheTemporaryNameIsLeftAlone) {
  TempDir dir;
  test::writebytes(dir / "pack.viv", kBigfTwo);
  test::writetext(dir / "pack.tmp", "the user's own file");
  fs::create_directories(dir / "pack.tmp.1");  // the next name is taken too
  test::writetext(dir / "c.dat", "new");
  auto r = test::runtorvex({"-p", "pack.viv", "c.dat"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(memberof(dir / "pack.viv", "c.dat"), packtest::bytesof("new"));
  r = test::runtorvex({"-d", "pack.viv", "nothere"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::readbytes(dir / "pack.tmp"), packtest::bytesof("the user's own file"));
  EXPECT_TRUE(fs::is_empty(dir / "pack.tmp.1"));
  EXPECT_EQ(packtest::filesin(dir.path()), (std::vector<std::string>{"c.dat", "pack.tmp", "pack.tmp.1", "pack.viv"}));
}

TEST(UpdatePack, NoTemporaryFileMeansNoHeaderLine) {
  // Every name the writer may try is taken: the rewrite ends before it has a
  // file to write to, so it must not announce the header.
  TempDir dir;
  test::writebytes(dir / "pack.viv", kBigfTwo);
  fs::create_directories(dir / "pack.tmp");
  for (int n = 1; n <= 100; ++n) fs::create_directories(dir / ("pack.tmp." + std::to_string(n)));
  const auto r = test::runtorvex({"-d", "pack.viv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "deletes files from packfile 'pack.viv'\n"
            "total 2, deleted 0\n"
            "***********\nFatal Error\n***********\n"
            "-- couldn't open 'pack.tmp' for writing\n");
  EXPECT_EQ(test::readbytes(dir / "pack.viv"), kBigfTwo);
}

// ---- In-process: a base folder, and a write that fails halfway -------------------

class InFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override {
    services().filewrite = savedwrite_;
    fs::current_path(old_);
  }
  TempDir dir_;
  fs::path old_;
  decltype(PlatformServices::filewrite) savedwrite_ = services().filewrite;
};

TEST_F(InFolder, UpdateJoinsTheBaseFolderAndPackPath) {
  fs::create_directories("game/data");
  test::writebytes("game/data/pack.viv", kBigfTwo);
  test::writetext("c.dat", "new");
  test::ConsoleCapture console;
  const std::vector<std::string> files{"c.dat"};
  EXPECT_TRUE(updatepack("game", "data\\pack.viv", files, false));
  EXPECT_NE(console.text().find("packfile 'game\\data\\pack.viv' updated successfully\n"), std::string::npos)
      << console.text();
  EXPECT_EQ(memberof("game/data/pack.viv", "c.dat"), packtest::bytesof("new"));
  EXPECT_EQ(packtest::filesin("game/data"), std::vector<std::string>{"pack.viv"});
}

uint32_t budget = 0;
uint32_t failingwrite(FileHandle, const void*, uint32_t count) {
  const uint32_t n = std::min(count, budget);
  budget -= n;
  return n;  // a full disk: fewer bytes than asked, then none
}

TEST_F(InFolder, AWriteThatFailsHalfwayLeavesTheOldPack) {
  // Members large enough that the failure comes in the middle of the data.
  const Bytes old = packtest::bigfpack({{"a.dat", Bytes(300000, 1)}, {"b.dat", Bytes(300000, 2)}});
  test::writebytes("pack.viv", old);
  test::writebytes("b.dat", Bytes(5000, 3));
  test::ConsoleCapture console;
  budget = 200000;
  services().filewrite = failingwrite;
  const std::vector<std::string> files{"b.dat"};
  EXPECT_THROW(updatepack("", "pack.viv", files, false), FatalError);
  services().filewrite = savedwrite_;
  EXPECT_NE(console.text().find("-- write error while writing to packfile (disk full?)\n"), std::string::npos)
      << console.text();
  EXPECT_EQ(test::readbytes("pack.viv"), old);
  EXPECT_EQ(packtest::filesin("."), (std::vector<std::string>{"b.dat", "pack.viv"}));
}

// ---- Packs that stay whole and readable -----------------------------------------------

TEST(UpdatePack, AnFstPackReadsBackDownToOneMemberAndNone) {
  // The writer gives a pack of one member two records and an empty one a
  // single record; every "-p" and "-d" must leave a pack that "-l" lists.
  TempDir dir;
  // From the table: the record count R, then R records of a 4-byte offset
  // and a 64-byte name, the last with the end offset and no name; the data.
  auto fst = [](const std::vector<Member>& members) {
    Bytes out;
    const auto records = static_cast<uint32_t>(members.size() + 1);
    for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(records >> s));
    uint32_t at = 4 + 68 * records;
    for (const Member& m : members) {
      packtest::fstrecord(out, at, m.name);
      at += static_cast<uint32_t>(m.bytes.size());
    }
    packtest::fstrecord(out, at, "");
    for (const Member& m : members) out.insert(out.end(), m.bytes.begin(), m.bytes.end());
    return out;
  };
  const Member a{"a.dat", packtest::bytesof("aa")};
  const Member b{"b.dat", packtest::bytesof("bbb")};
  const Member c{"c.dat", packtest::bytesof("cccc")};
  test::writebytes(dir / "p.fst", fst({a, b}));
  test::writebytes(dir / "c.dat", c.bytes);
  struct Step {
    std::vector<std::string> args;
    std::vector<Member> after;
    std::string listing;  // the member lines of "-l" afterwards
  };
  const Step steps[] = {
      {{"-d", "p.fst", "a.dat"}, {b}, "       3 b.dat\n"},
      {{"-d", "p.fst", "b.dat"}, {}, ""},
      {{"-p", "p.fst", "c.dat"}, {c}, "       4 c.dat\n"},
      {{"-p", "p.fst", "c.dat"}, {c}, "       4 c.dat\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + step.args[2]);
    const auto r = test::runtorvex(step.args, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::readbytes(dir / "p.fst"), fst(step.after));
    const auto l = test::runtorvex({"-l", "p.fst"}, dir.path());
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.out, "pack file 'p.fst' opened\nDirectory 'p.fst'\n" + step.listing);
  }
  fs::remove(dir / "c.dat");
  EXPECT_EQ(test::runtorvex({"-u", "p.fst"}, dir.path()).status, 0);
  EXPECT_EQ(test::readbytes(dir / "c.dat"), c.bytes);
}

// Mode bits are POSIX's own (Windows keeps other attributes; the Win32
// backend is checked under Wine), so these run against the Linux program.
TEST(ModeBits, RewrittenAndReplacedFilesKeepThem) {
  // An SHPI file of one data record "TEXT" ("notes"), laid out by hand:
  // "SHPI", size, count, directory id, then name and offset per record.
  const Bytes shpi = {'S', 'H', 'P', 'I', 29, 0, 0, 0, 1, 0, 0, 0, 'G', 'I', 'M', 'X',
                      'T', 'E', 'X', 'T', 24, 0, 0, 0, 'n', 'o', 't', 'e', 's'};
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* target;
    fs::perms before;
    fs::perms after;
  };
  using P = fs::perms;
  const P rw = P::owner_read | P::owner_write;
  const Case cases[] = {
      {"pack updated", {"-p", "pack.viv", "new.txt"}, "pack.viv", rw | P::group_read, rw | P::group_read},
      {"pack member deleted", {"-d", "pack.viv", "a.txt"}, "pack.viv", rw, rw},
      {"read-only pack", {"-d", "pack.viv", "B.fsh"}, "pack.viv", P::owner_read | P::group_read | P::others_read,
       rw | P::group_read | P::others_read},
      {"compressed pack", {"-d", "packed.viv", "a.txt"}, "packed.viv", rw | P::others_read, rw | P::others_read},
      {"SHPI file rebuilt", {"-r", "pics.fsh", "new.txt", "TEXT"}, "pics.fsh", rw, rw},
      {"member unpacked over a file", {"-u", "pack.viv", "a.txt"}, "a.txt", rw, rw},
      {"compressed file written over one", {"-compress", "new.txt", "out.fb"}, "out.fb", rw | P::group_all,
       rw | P::group_all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    test::writebytes(dir / "pack.viv", kBigfTwo);
    test::writebytes(dir / "packed.viv", packtest::fbstored(kBigfTwo));
    test::writebytes(dir / "pics.fsh", shpi);
    test::writetext(dir / "new.txt", "brand new");
    if (!fs::exists(dir / c.target)) test::writetext(dir / c.target, "the old contents");
    const Bytes old = test::readbytes(dir / c.target);
    fs::permissions(dir / c.target, c.before);
    const auto r = test::runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(test::readbytes(dir / c.target), old);  // it was written
    EXPECT_EQ(fs::symlink_status(dir / c.target).permissions(), c.after);
  }
}

// ---- A real pack --------------------------------------------------------------------

TEST(DeletePack, ARealPackKeepsEveryMemberAfterANoOpDelete) {
  const fs::path sample = test::samplesdir() / "packs" / "car.viv";
  if (test::samplesdir().empty() || !fs::exists(sample)) GTEST_SKIP() << "no sample packs";
  TempDir dir;
  fs::copy_file(sample, dir / "car.viv");
  fs::permissions(dir / "car.viv", fs::perms::owner_write, fs::perm_options::add);
  const auto before = packtest::bigfmembers(test::readbytes(sample));
  ASSERT_TRUE(before);
  ASSERT_EQ(before->size(), 16u);
  const auto r = test::runtorvex({"-d", "car.viv"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  const auto after = packtest::bigfmembers(test::readbytes(dir / "car.viv"));
  ASSERT_TRUE(after);
  EXPECT_EQ(*after, *before);
  // Listing through the program's own reader agrees on the names.
  const auto l = test::runtorvex({"-l", "car.viv"}, dir.path());
  if (l.status == 0) {
    for (const Member& m : *before) EXPECT_NE(l.out.find(m.name), std::string::npos) << m.name;
  }
}

}  // namespace
}  // namespace torvex
