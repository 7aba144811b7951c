// Whole files: reading one, and replacing one in a single step so that it
// never holds half of the new bytes.
#include "torvex/platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support.h"

namespace torvex {
namespace {

namespace fs = std::filesystem;

class WholeFiles : public ::testing::Test {
 protected:
  void TearDown() override { services().filewrite = savedwrite_; }
  std::vector<std::string> files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_.path())) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  test::TempDir dir_;
  test::CurrentFolder in_{dir_.path()};
  decltype(PlatformServices::filewrite) savedwrite_ = services().filewrite;
};

TEST_F(WholeFiles, ReadWholeFile) {
  test::writetext("empty.bin", "");
  test::writetext("three.bin", "abc");
  EXPECT_EQ(readwholefile("missing.bin").status, WholeFile::kCantOpen);
  const WholeFile empty = readwholefile("empty.bin");
  EXPECT_EQ(empty.status, WholeFile::kRead);
  EXPECT_TRUE(empty.bytes);  // an empty file is a file, not a failure
  EXPECT_EQ(empty.bytes.size, 0);
  const WholeFile three = readwholefile("three.bin");
  ASSERT_EQ(three.status, WholeFile::kRead);
  EXPECT_EQ(std::string(three.bytes.get(), three.bytes.get() + three.bytes.size), "abc");
  const WholeFile large = readwholefile("three.bin", 2);
  EXPECT_EQ(large.status, WholeFile::kTooLarge);
  EXPECT_EQ(large.size, 3);
  EXPECT_FALSE(large.bytes);
}

std::string candidate(int attempt) { return attempt == 0 ? "pack.tmp" : "pack.tmp." + std::to_string(attempt); }

TEST_F(WholeFiles, ReplacingFileTakesTheTargetsPlaceWhenComplete) {
  test::writetext("pack.viv", "old bytes");
  test::writetext("pack.tmp", "the user's own file");
  fs::create_directory("pack.tmp.1");
  {
    ReplacingFile file;
    ASSERT_TRUE(file.create(candidate, 5));
    EXPECT_EQ(file.name(), "pack.tmp.2");  // names that are taken are left alone
    EXPECT_TRUE(file.write(std::vector<uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(test::readbytes("pack.viv").size(), 9u);  // not before it is complete
    EXPECT_EQ(file.commit("pack.viv"), ReplacingFile::Commit::kDone);
  }
  EXPECT_EQ(test::readbytes("pack.viv"), (std::vector<uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(test::readbytes("pack.tmp").size(), 19u);
  EXPECT_EQ(files(), (std::vector<std::string>{"pack.tmp", "pack.tmp.1", "pack.viv"}));
}

TEST_F(WholeFiles, AReplacingFileThatFailsLeavesTheTargetAndNothingElse) {
  test::writetext("pack.viv", "old bytes");
  {
    ReplacingFile file;
    ASSERT_TRUE(file.create(candidate, 5));
    // A full disk: the write takes nothing.
    services().filewrite = [](FileHandle, const void*, uint32_t) -> uint32_t { return 0; };
    EXPECT_FALSE(file.write(std::vector<uint8_t>{'n', 'e', 'w'}));
    services().filewrite = savedwrite_;
  }
  EXPECT_EQ(test::readbytes("pack.viv").size(), 9u);
  EXPECT_EQ(files(), std::vector<std::string>{"pack.viv"});
  // A folder that takes no new file: the first free name that still cannot
  // be created ends the search.
  ReplacingFile none;
  int tried = 0;
  EXPECT_FALSE(none.create([&tried](int attempt) { ++tried; return "nofolder/x." + std::to_string(attempt); }, 100));
  EXPECT_EQ(tried, 1);
}

TEST_F(WholeFiles, WriteFileNeverCostsTheFileThatWasThere) {
  const std::vector<uint8_t> bytes{'n', 'e', 'w'};
  EXPECT_EQ(writefile("fresh.bin", bytes), FileWrite::kWritten);
  EXPECT_EQ(test::readbytes("fresh.bin"), bytes);
  test::writetext("OLD.BIN", "old bytes");
  EXPECT_EQ(writefile("OLD.BIN", bytes), FileWrite::kWritten);
  EXPECT_EQ(test::readbytes("OLD.BIN"), bytes);
  fs::create_directory("folder.bin");
  EXPECT_EQ(writefile("folder.bin", bytes), FileWrite::kCantCreate);
  EXPECT_EQ(writefile("nofolder/x.bin", bytes), FileWrite::kCantCreate);
  EXPECT_EQ(files(), (std::vector<std::string>{"OLD.BIN", "folder.bin", "fresh.bin"}));

  // A full disk: the old file stays whole, a new one is not left half-written.
  test::writetext("OLD.BIN", "old bytes");
  services().filewrite = [](FileHandle, const void*, uint32_t) -> uint32_t { return 0; };
  EXPECT_EQ(writefile("OLD.BIN", bytes), FileWrite::kWriteFailed);
  EXPECT_EQ(writefile("other.bin", bytes), FileWrite::kWriteFailed);
  services().filewrite = savedwrite_;
  EXPECT_EQ(test::readbytes("OLD.BIN").size(), 9u);
  EXPECT_EQ(files(), (std::vector<std::string>{"OLD.BIN", "folder.bin", "fresh.bin"}));
}

}  // namespace
}  // namespace torvex
