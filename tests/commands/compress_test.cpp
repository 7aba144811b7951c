// "-compress" and "-decompress", run as the program, in a fresh folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace torvex {
namespace {

using Bytes8 = std::vector<uint8_t>;
using test::runtorvex;

const std::string kFatalFrame = "***********\nFatal Error\n***********\n";

Bytes8 sampledata(size_t n) {
  Bytes8 out;
  const std::string words = "the goalie saves the shot and the puck goes to the corner of the rink. ";
  while (out.size() < n) out.insert(out.end(), words.begin(), words.end());
  out.resize(n);
  for (size_t i = 0; i < n; i += 97) out[i] = static_cast<uint8_t>(i / 97);
  return out;
}

TEST(FbCommands, EmptyFileWithTheStoreEncoderAndBack) {
  test::TempDir dir;
  test::writebytes(dir / "empty", {});
  auto r = runtorvex({"-compress", "empty", "empty.fb"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(test::readbytes(dir / "empty.fb"), (Bytes8{0x10, 0xFB, 0, 0, 0, 0xFC}));
  r = runtorvex({"-decompress", "empty.fb", "back"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(test::fs::exists(dir / "back"));
  EXPECT_EQ(test::fs::file_size(dir / "back"), 0u);
}

TEST(FbCommands, StoreEncoderTakesAnySize) {
  test::TempDir dir;
  const Bytes8 data = sampledata(1001);
  test::writebytes(dir / "odd", data);
  auto r = runtorvex({"-compress", "odd", "odd.fb"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  const Bytes8 packed = test::readbytes(dir / "odd.fb");
  ASSERT_EQ(packed.size(), 5 + 15 * 65 + 1 + 40 + 2u);  // 15 runs of 64, one of 40, the end with 1 byte
  EXPECT_EQ(packed[packed.size() - 2], 0xFD);
  r = runtorvex({"-decompress", "odd.fb", "back"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(test::readbytes(dir / "back"), data);
}

TEST(FbCommands, RealCompressionRoundTrip) {
  test::TempDir dir;
  const Bytes8 data = sampledata(45001);  // any size: the real encoder takes it
  test::writebytes(dir / "plain", data);
  // The switch may stand after the command.
  auto r = runtorvex({"-compress", "plain", "packed", "-real"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("compressing 1/45001 (0%) (OUT 5 500%)\r"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("compressing 1"), std::string::npos);
  const Bytes8 packed = test::readbytes(dir / "packed");
  EXPECT_NE(r.out.find(std::string(79, ' ') + "\rold size 45001, new size " + std::to_string(packed.size()) + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_LT(packed.size(), data.size() / 4);
  r = runtorvex({"-decompress", "packed", "back"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(test::readbytes(dir / "back"), data);
}

TEST(FbCommands, SampleStreamsDecompress) {
  if (test::samplesdir().empty()) GTEST_SKIP() << "no sample files";
  test::TempDir dir;
  const auto r = runtorvex({"-decompress", (test::samplesdir() / "fb/AL1.QFS").string(), "al1.fsh"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(test::readbytes(dir / "al1.fsh"), test::readbytes(test::samplesdir() / "shpi/AL1.FSH"));
}

TEST(FbCommands, AnExistingDestinationIsReplacedWhole) {
  test::TempDir dir;
  const Bytes8 data = sampledata(3000);
  test::writebytes(dir / "plain", data);
  test::writebytes(dir / "OUT.FB", Bytes8(10, 1));
  test::fs::permissions(dir / "OUT.FB", test::fs::perms::owner_read);
  auto r = runtorvex({"-compress", "plain", "OUT.FB"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "'OUT.FB': removed read-only flag\n");
  r = runtorvex({"-decompress", "OUT.FB", "back"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(test::readbytes(dir / "back"), data);
  EXPECT_EQ(std::distance(test::fs::directory_iterator(dir.path()), test::fs::directory_iterator{}), 3);
}

struct Failure {
  const char* name;
  std::vector<std::string> args;
  std::string out;  // the whole output
};

TEST(FbCommands, FailuresSayWhyAndWriteNothing) {
  test::TempDir dir;
  test::writebytes(dir / "plain", sampledata(64));
  // A copy from before the start of the output.
  test::writebytes(dir / "bad.fb", {0x10, 0xFB, 0, 0, 4, 0x01, 0x01, 'a', 0xFC});
  const std::vector<Failure> cases = {
      {"not compressed", {"-decompress", "plain", "out"}, kFatalFrame + "-- file 'plain' is not compressed\n"},
      {"corrupt stream", {"-decompress", "bad.fb", "out"}, "file 'bad.fb' is corrupt (bad compressed data)\n"},
      {"missing source", {"-compress", "nothere", "out"}, "couldn't open 'nothere' for reading\n"},
      {"missing source", {"-decompress", "nothere", "out"}, "couldn't open 'nothere' for reading\n"},
      {"no destination", {"-compress", "plain"}, "couldn't open '<destination file>' for writing\n"},
      {"no destination", {"-decompress", "plain"}, kFatalFrame + "-- file 'plain' is not compressed\n"},
      {"unwritable destination", {"-compress", "plain", "nofolder/out"},
       "couldn't open 'nofolder/out' for writing\n"},
  };
  for (const Failure& c : cases) {
    const auto r = runtorvex(c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_FALSE(test::fs::exists(dir / "out")) << c.name;
  }
}

}  // namespace
}  // namespace torvex
