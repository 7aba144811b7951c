#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support.h"
#include "torvex/platform/hostpath.h"
#include "torvex/platform/platform.h"

namespace torvex {
namespace {

using test::ConsoleCapture;
using test::TempDir;
namespace fs = std::filesystem;

// Names are given relative to the temporary folder; the tests run there.
class InFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(old_); }
  TempDir dir_;
  fs::path old_;
};

using HostPath = InFolder;

TEST_F(HostPath, MapsBackslashesAndLetterCase) {
  fs::create_directories("required");
  test::writetext("required/faces.VIV", "x");
  test::writetext("required/Other.viv", "y");
  struct Case {
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"required\\FACES.viv", "required/faces.VIV"},
      {"REQUIRED/other.VIV", "required/Other.viv"},
      {"required\\new.viv", "required/new.viv"},           // to be created: kept as given
      {"Required\\Missing\\deep.viv", "required/Missing/deep.viv"},
  };
  for (const Case& c : cases) EXPECT_EQ(hostpath(c.given), c.expected) << c.given;
}

TEST_F(HostPath, ExactSpellingIsPreferred) {
  test::writetext("pack.viv", "lower");
  test::writetext("PACK.VIV", "upper");
  EXPECT_EQ(hostpath("PACK.VIV"), "PACK.VIV");
  EXPECT_EQ(hostpath("pack.viv"), "pack.viv");
  EXPECT_EQ(hostpath("Pack.Viv"), "PACK.VIV");  // first in byte order
}

TEST_F(HostPath, OpensThroughTheServices) {
  fs::create_directories("Data");
  test::writetext("Data/Pics.FSH", "SHPI");
  File f("data\\pics.fsh", 0);
  ASSERT_TRUE(f);
  EXPECT_EQ(f.size(), 4u);
}

TEST_F(HostPath, LargeFoldersSeeNewFilesWhoeverMadeThem) {
  for (int i = 0; i < 100; ++i) test::writetext("file" + std::to_string(100 + i) + ".txt", "x");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(hostpath("FILE150.TXT"), "file150.txt");
  {
    File made("New.Dat", 1);  // through the services
    ASSERT_TRUE(made);
  }
  EXPECT_EQ(hostpath("NEW.DAT"), "New.Dat");
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  test::writetext("Other.bin", "y");  // behind the program's back
  EXPECT_EQ(hostpath("OTHER.BIN"), "Other.bin");
  EXPECT_EQ(filedelete("new.dat"), 1);
  EXPECT_EQ(hostpath("NEW.DAT"), "NEW.DAT");
}

using Files = InFolder;

TEST_F(Files, WriteModeClearsReadOnlyAndTruncates) {
  test::writetext("locked.viv", "old contents");
  ::chmod("locked.viv", 0444);
  ConsoleCapture out;
  {
    File f("locked.viv", 1);
    ASSERT_TRUE(f);
    EXPECT_EQ(f.write("new", 3), 3u);
  }
  EXPECT_EQ(out.text(), "'locked.viv': removed read-only flag\n");
  EXPECT_EQ(test::readbytes("locked.viv").size(), 3u);
  struct stat st;
  ::stat("locked.viv", &st);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST_F(Files, DeleteClearsReadOnlyFirst) {
  test::writetext("ro.bin", "x");
  ::chmod("ro.bin", 0444);
  ConsoleCapture out;
  EXPECT_EQ(filedelete("ro.bin"), 1);
  EXPECT_FALSE(fs::exists("ro.bin"));
  EXPECT_EQ(out.text(), "'ro.bin': removed read-only flag\n");
}

TEST_F(Files, ClearReadOnlyIgnoresMissingFiles) {
  ConsoleCapture out;
  clearreadonly("nothing.here");
  EXPECT_EQ(out.text(), "");
}

TEST_F(Files, SeekModesZeroAndTwoOnly) {
  test::writetext("ten.bin", "0123456789");
  File f("ten.bin", 0);
  EXPECT_EQ(f.seek(-3, 2), 7);
  EXPECT_EQ(f.seek(4, 0), 4);
  char c = 0;
  f.read(&c, 1);
  EXPECT_EQ(c, '4');
  ConsoleCapture out;
  EXPECT_THROW(f.seek(0, 1), FatalError);
  EXPECT_NE(out.text().find("-- illegal seek mode\n"), std::string::npos);
}

TEST_F(Files, ExistsIsFalseForFoldersAndMissingFiles) {
  fs::create_directories("folder.viv");
  test::writetext("file.viv", "x");
  EXPECT_EQ(fileexists("folder.viv"), 0);
  EXPECT_EQ(fileexists("missing.viv"), 0);
  EXPECT_EQ(fileexists("FILE.VIV"), 1);
}

TEST_F(Files, RenameRefusesAnExistingTarget) {
  test::writetext("a.tmp", "a");
  test::writetext("b.viv", "b");
  EXPECT_EQ(filerename("a.tmp", "b.viv"), 0);
  EXPECT_EQ(test::readbytes("b.viv")[0], 'b');
  EXPECT_EQ(filerename("a.tmp", "c.viv"), 1);
  EXPECT_TRUE(fs::exists("c.viv"));
}

TEST_F(Files, LoadFile) {
  test::writetext("empty.bin", "");
  test::writetext("three.bin", "abc");
  EXPECT_FALSE(loadfile("empty.bin"));
  EXPECT_FALSE(loadfile("missing.bin"));
  Block b = loadfile("three.bin");
  ASSERT_TRUE(b);
  EXPECT_EQ(b.size, 3);
  EXPECT_EQ(b.get()[2], 'c');
}

TEST_F(Files, ExclusiveCreateNeverTouchesAnExistingFile) {
  test::writetext("user.tmp", "mine");
  EXPECT_EQ(filecreateexclusive("user.tmp"), nullptr);
  EXPECT_EQ(test::readbytes("user.tmp").size(), 4u);
  File f(filecreateexclusive("fresh.tmp"));
  EXPECT_TRUE(f);
}

}  // namespace
}  // namespace torvex
