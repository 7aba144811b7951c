// The messages the commands give for failures that the libraries hand up:
// a failed encoding, a fault of the file list, a pack path that does not
// open.
#include "torvex/commands/common.h"

#include <gtest/gtest.h>

#include "../pack/fixtures.h"
#include "support.h"
#include "torvex/platform/settings.h"

namespace torvex {
namespace {

namespace fs = std::filesystem;

const std::string kFrame = "***********\nFatal Error\n***********\n";

class CommandFailures : public ::testing::Test {
 protected:
  test::TempDir dir_;
  test::CurrentFolder in_{dir_.path()};
};

// The fatal text `call` ends with, and everything it printed.
struct Ending {
  std::string fatal;
  std::string printed;
};
Ending endingof(auto&& call) {
  test::ConsoleCapture console;
  Ending out{"(no fatal error)", {}};
  try {
    call();
  } catch (const FatalError& e) {
    out.fatal = e.text;
  }
  out.printed = console.text();
  return out;
}

FbCompressed selftestfailure(FbSelfTest::Outcome outcome, int32_t decodedsize) {
  FbCompressed failed;
  failed.status = FbCompressed::kSelfTestFailed;
  failed.selftest.outcome = outcome;
  failed.selftest.originalsize = 4;
  failed.selftest.decodedsize = decodedsize;
  return failed;
}

TEST_F(CommandFailures, FailedEncodingsStopTheCommand) {
  FbCompressed large;
  large.status = FbCompressed::kTooLarge;
  large.inputsize = 0x1000000;
  EXPECT_EQ(endingof([&] { stopcompression(large); }).fatal,
            "can't compress 16777216 bytes: an FB block holds at most 16777215 bytes");
  const FbCompressed undecodable = selftestfailure(FbSelfTest::kUndecodable, -1);
  EXPECT_EQ(endingof([&] { stopcompression(undecodable); }).fatal, "compression test failed! (orig size 4 new size -1)");
  const FbCompressed shorter = selftestfailure(FbSelfTest::kSizeDiffers, 3);
  EXPECT_EQ(endingof([&] { stopcompression(shorter); }).fatal, "compression test failed! (orig size 4 new size 3)");
  EXPECT_FALSE(fs::exists("temp.tmp"));

  FbCompressed other = selftestfailure(FbSelfTest::kBytesDiffer, 4);
  other.selftest.decoded = copyblock(std::vector<uint8_t>{'a', 'b', 'c', 'e'});
  const Ending differ = endingof([&] { stopcompression(other); });
  EXPECT_EQ(differ.printed, kFrame + "-- compression test failed! original <> compressed->decompressed!\n");
  // What the broken encoding decodes to is kept for whoever looks into it.
  EXPECT_EQ(test::readbytes("temp.tmp"), (std::vector<uint8_t>{'a', 'b', 'c', 'e'}));
}

TEST(Faults, OfTheFileListInWords) {
  struct Case {
    ListFault::Kind kind;
    const char* text;
  };
  const Case cases[] = {
      {ListFault::kNoEntry, "openlist() zero list"},
      {ListFault::kNegativeLength, "lenght<0"},
      {ListFault::kPastEnd, "seek out of file size"},
      {ListFault::kNegativeSeek, "seeklist SEEK_SET<0"},
  };
  for (const Case& c : cases) {
    ListFault fault;
    fault.kind = c.kind;
    EXPECT_EQ(faulttext(fault), c.text);
  }
  ListFault outside;
  outside.kind = ListFault::kOutside;
  outside.member = "bad.dat";
  outside.container = "pack.viv";
  outside.offset = 99;
  outside.size = 306;
  outside.containersize = 149;
  EXPECT_EQ(faulttext(outside), "member 'bad.dat' lies outside its container 'pack.viv' (offset 99, size 306, container 149 bytes)");
  // A fault met by a command ends it like a fatal error.
  const Ending ended = endingof([&] { readingpacks([&]() -> int { throw outside; }); });
  EXPECT_EQ(ended.fatal, faulttext(outside));
}

TEST_F(CommandFailures, PackPathsSayWhereTheyStop) {
  const test::ByteVec inner = test::c0fb({{"deep.dat", test::bytesof("deep")}});
  test::writebytes("outer.viv", test::bigf({{"inner.viv", test::fblit(inner)}, {"readme.txt", test::bytesof("hi")}}));
  test::writebytes("plain.txt", test::bytesof("just text here"));
  struct Case {
    std::string path;
    bool opens;
    std::string printed;
  };
  const Case cases[] = {
      {"outer.viv\\INNER.VIV", true, "pack file 'outer.viv' opened\n"},
      {"outer.viv\\missing", false, "pack file 'outer.viv' opened\ncouldn't find 'missing' inside 'outer.viv'\n"},
      {"outer.viv\\inner.viv\\nothere", false,
       "pack file 'outer.viv' opened\ncouldn't find 'nothere' inside 'outer.viv'\n"},
      {"outer.viv\\readme.txt", false, "pack file 'outer.viv' opened\ncouldn't scan directory 'readme.txt'\n"},
      {"outer.viv\\inner.viv\\deep.dat", false, "pack file 'outer.viv' opened\ncouldn't scan directory 'deep.dat'\n"},
      {"plain.txt", false, "pack file 'plain.txt' opened\ncouldn't scan packfile 'plain.txt'\n"},
  };
  for (const Case& c : cases) {
    test::ConsoleCapture console;
    const OpenedPack pack = openpackpath(c.path, 0);
    EXPECT_EQ(static_cast<bool>(pack), c.opens) << c.path;
    EXPECT_EQ(console.text(), c.printed) << c.path;
  }
  // No prefix of the path is a file: the whole argument is named.
  const Ending none = endingof([] { openpackpath("nosuch.viv\\a\\b", 0); });
  EXPECT_EQ(none.fatal, "couldn't open pack file 'nosuch.viv\\a\\b'\n");
}

// The real encoder's progress as the compress commands, the pack writer and
// the SHPI writer print it: a line per 10,000 positions, wiped at the end by
// 79 blanks, then the summary.
TEST(CompressionLines, ProgressLineBlankLineAndSummary) {
  // Three-byte tokens from disjoint ranges: nothing in them is worth a copy,
  // so the output stays at the five header bytes until the end.
  std::vector<uint8_t> unique;
  for (uint32_t i = 0; unique.size() < 25000; ++i) {
    unique.push_back(static_cast<uint8_t>((i >> 12) & 63));
    unique.push_back(static_cast<uint8_t>(0x40 | ((i >> 6) & 63)));
    unique.push_back(static_cast<uint8_t>(0x80 | (i & 63)));
  }
  unique.resize(25000);
  mutablesettings().real_compression = true;
  test::ConsoleCapture console;
  const FbCompressed packed = fbcompress(copyblock(unique), showcompression);
  resetsettings();
  ASSERT_EQ(packed.status, FbCompressed::kDone);
  EXPECT_EQ(console.text(),
            "compressing 1/25000 (0%) (OUT 5 500%)\rcompressing 10000/25000 (40%) (OUT 5 0%)\r"
            "compressing 20000/25000 (80%) (OUT 5 0%)\r" +
                std::string(79, ' ') + "\rold size 25000, new size " + std::to_string(packed.data.size) + "\n");
}

}  // namespace
}  // namespace torvex
