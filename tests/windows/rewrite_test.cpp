// Files that are rewritten: read-only ones are made writable first, and a
// write that fails half-way (here: past a file-size limit, which fails the
// same way a full disk does, also for a root user and under Wine) leaves
// neither a half-written file nor a damaged pack.
#include <gtest/gtest.h>

#include "support.h"
#include "writerfixtures.h"

namespace torvex {
namespace {

using packtest::Bytes;
using packtest::bytesof;
using packtest::Member;
using test::TempDir;
namespace fs = std::filesystem;

bool writable(const fs::path& file) {
  return (fs::status(file).permissions() & fs::perms::owner_write) != fs::perms::none;
}

TEST(ReadOnlyFiles, AreMadeWritableAndReplaced) {
  const Bytes pack = packtest::bigfpack({{"a.txt", bytesof("hello")}, {"b.txt", bytesof("world")}});
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* target;  // read-only before the command
  };
  const Case cases[] = {
      {"pack rewritten by -p", {"-p", "pack.viv", "new.txt"}, "pack.viv"},
      {"member extracted over a file", {"-u", "pack.viv", "a.txt"}, "a.txt"},
      {"compressed file written", {"-compress", "new.txt", "out.fb"}, "out.fb"},
      {"expanded file written", {"-decompress", "in.fb", "out.txt"}, "out.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    test::writebytes(dir / "pack.viv", pack);
    test::writetext(dir / "new.txt", "brand new");
    test::writebytes(dir / "in.fb", packtest::fbstored(bytesof("expanded")));
    if (!fs::exists(dir / c.target)) test::writetext(dir / c.target, "the old contents, longer than the new");
    fs::permissions(dir / c.target, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const auto r = test::runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(std::string("'") + c.target + "': removed read-only flag\n"), std::string::npos) << r.out;
    EXPECT_TRUE(writable(dir / c.target));
  }
  // What the commands wrote, read back by the layout table and the FB header.
  TempDir dir;
  test::writebytes(dir / "pack.viv", pack);
  test::writetext(dir / "new.txt", "brand new");
  test::writetext(dir / "a.txt", "old");
  fs::permissions(dir / "a.txt", fs::perms::owner_write, fs::perm_options::remove);
  fs::permissions(dir / "pack.viv", fs::perms::owner_write, fs::perm_options::remove);
  ASSERT_EQ(test::runtorvex({"-u", "pack.viv", "a.txt"}, dir.path()).status, 0);
  EXPECT_EQ(test::readbytes(dir / "a.txt"), bytesof("hello"));
  ASSERT_EQ(test::runtorvex({"-p", "pack.viv", "new.txt"}, dir.path()).status, 0);
  EXPECT_EQ(packtest::bigfmembers(test::readbytes(dir / "pack.viv")),
            (std::vector<Member>{{"a.txt", bytesof("hello")}, {"b.txt", bytesof("world")}, {"new.txt", bytesof("brand new")}}));
}

TEST(FailedWrites, LeaveTheOldFilesAndNoHalfWrittenOne) {
  // Members of 300,000 bytes: every write below passes the limit in the
  // middle of its data.
  constexpr uint64_t kLimit = 100000;
  const std::vector<Member> members = {{"a.dat", Bytes(300000, 1)}, {"b.dat", Bytes(300000, 2)}};
  const Bytes pack = packtest::bigfpack(members);
  const std::string kFatal = "***********\nFatal Error\n***********\n";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string ending;  // the end of the output
  };
  const Case cases[] = {
      {"pack update", {"-p", "pack.viv", "b.dat"}, kFatal + "-- write error while writing to packfile (disk full?)\n\n"},
      {"pack delete", {"-d", "pack.viv", "a.dat"}, kFatal + "-- write error while writing to packfile (disk full?)\n\n"},
      {"compressed pack delete", {"-d", "packed.viv", "a.dat"},
       kFatal + "-- write error while writing to packfile (disk full?)\n\n"},
      {"member extraction", {"-u", "pack.viv", "a.dat"}, kFatal + "-- couldn't write 'a.dat'\n"},
      {"compression", {"-compress", "b.dat", "out.fb"}, "couldn't write 'out.fb'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    test::writebytes(dir / "pack.viv", pack);
    test::writebytes(dir / "packed.viv", packtest::fbstored(pack));
    test::writebytes(dir / "b.dat", Bytes(300000, 3));
    const auto r = test::runtorvex(c.args, dir.path(), kLimit);
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.out.size(), c.ending.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - c.ending.size()), c.ending) << r.out;
    EXPECT_EQ(test::readbytes(dir / "pack.viv"), pack);
    EXPECT_EQ(test::readbytes(dir / "packed.viv"), packtest::fbstored(pack));
    EXPECT_EQ(packtest::filesin(dir.path()), (std::vector<std::string>{"b.dat", "pack.viv", "packed.viv"}));
  }
}

}  // namespace
}  // namespace torvex
