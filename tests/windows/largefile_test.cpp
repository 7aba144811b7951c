// Files of 4 GiB and more: the program works on files of up to 2 GiB, and a
// larger one must be refused, not taken for the file its size modulo 2^32
// describes (a 4 GiB + 11 byte file was compressed as its first 11 bytes).
#include <gtest/gtest.h>

#include "support.h"
#include "writerfixtures.h"

namespace torvex {
namespace {

using packtest::Bytes;
using packtest::bytesof;
using test::TempDir;
namespace fs = std::filesystem;

TEST(LargeFiles, AreRefusedNotCut) {
  TempDir dir;
  // Sparse: it takes no room on the disk.
  test::writetext(dir / "big.dat", "hello world");
  fs::resize_file(dir / "big.dat", (uint64_t{1} << 32) + 11);
  const Bytes pack = packtest::bigfpack({{"a.txt", bytesof("hello")}});
  test::writebytes(dir / "pack.viv", pack);
  const std::vector<std::vector<std::string>> commands = {
      {"-compress", "big.dat", "out"}, {"-decompress", "big.dat", "out"}, {"-p", "pack.viv", "big.dat"},
      {"-l", "big.dat"},               {"-u", "big.dat"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const auto r = test::runtorvex(args, dir.path());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(packtest::filesin(dir.path()), (std::vector<std::string>{"big.dat", "pack.viv"}));
    EXPECT_EQ(test::readbytes(dir / "pack.viv"), pack);
  }
}

}  // namespace
}  // namespace torvex
