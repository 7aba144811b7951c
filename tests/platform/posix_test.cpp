#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support.h"
#include "torvex/platform/files.h"
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


// ---- Files the program creates or replaces --------------------------------------------

using Replacing = InFolder;

struct stat lstatof(const char* name) {
  struct stat st{};
  ::lstat(name, &st);
  return st;
}

std::string text(const char* name) {
  const std::vector<uint8_t> bytes = test::readbytes(name);
  return std::string(bytes.begin(), bytes.end());
}

const std::vector<uint8_t> kNew{'n', 'e', 'w'};

TEST_F(Replacing, ACreatedFileGetsExactlyItsNameAnUpdatedOneIsFoundInAnyCase) {
  // Two members "trafcfg.dat" and "TRAFCFG.DAT" must both come out: the
  // second must not find the first and replace it.
  test::writetext("trafcfg.dat", "lower");
  fs::create_directories("SUB");
  EXPECT_EQ(hostcreatepath("sub\\New.Dat"), "SUB/New.Dat");  // folders found, the file as given
  EXPECT_EQ(writefile("TRAFCFG.DAT", kNew), FileWrite::kWritten);
  EXPECT_EQ(writefile("sub\\new.dat", kNew), FileWrite::kWritten);
  EXPECT_EQ(text("trafcfg.dat"), "lower");
  EXPECT_EQ(test::readbytes("TRAFCFG.DAT"), kNew);
  EXPECT_EQ(test::readbytes("SUB/new.dat"), kNew);
  EXPECT_EQ(writereplaces("TRAFCFG.DAT", "trafcfg.dat"), 0);
  EXPECT_EQ(writereplaces("trafcfg.dat", "trafcfg.dat"), 1);

  // A file that is updated (a pack rewritten) is the one there, in any case.
  test::writetext("pack.viv", "old pack");
  ReplacingFile pack;
  ASSERT_TRUE(pack.create([](int) { return std::string("pack.tmp"); }, 1));
  ASSERT_TRUE(pack.write(kNew));
  EXPECT_EQ(pack.commit("PACK.VIV"), ReplacingFile::Commit::kDone);
  EXPECT_EQ(test::readbytes("pack.viv"), kNew);
  EXPECT_FALSE(fs::exists("PACK.VIV") && fs::exists("pack.tmp"));
}

TEST_F(Replacing, AReplacedFileKeepsItsModeBits) {
  // Whatever writes the new bytes (a pack rewrite or a plain file write), a
  // private file stays private and a shared one shared; a read-only one is
  // made writable (and says so), nothing more.
  struct Case {
    mode_t before;
    mode_t after;
  };
  const Case cases[] = {{0600, 0600}, {0640, 0640}, {0604, 0604}, {0666, 0666}, {0444, 0644}, {0400, 0600}};
  for (const bool pack : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << (pack ? "rewrite " : "write ") << std::oct << c.before);
      test::writetext("file.bin", "old bytes");
      ::chmod("file.bin", c.before);
      ConsoleCapture out;
      if (pack) {
        ReplacingFile file;
        ASSERT_TRUE(file.create([](int) { return std::string("file.tmp"); }, 1));
        ASSERT_TRUE(file.write(kNew));
        EXPECT_EQ(file.commit("file.bin"), ReplacingFile::Commit::kDone);
      } else {
        EXPECT_EQ(writefile("file.bin", kNew), FileWrite::kWritten);
      }
      EXPECT_EQ(test::readbytes("file.bin"), kNew);
      EXPECT_EQ(lstatof("file.bin").st_mode & 07777, c.after);
      EXPECT_EQ(out.text(), (c.before & S_IWUSR) ? "" : "'file.bin': removed read-only flag\n");
    }
  }
  // A new file gets the usual permissions, not those of some other file.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(writefile("fresh.bin", kNew), FileWrite::kWritten);
  EXPECT_EQ(lstatof("fresh.bin").st_mode & 0777, 0666 & ~mask);
}

TEST_F(Replacing, AReplacedFileKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  test::writetext("theirs.bin", "old bytes");
  ASSERT_EQ(::chown("theirs.bin", 4321, 4322), 0);
  EXPECT_EQ(writefile("theirs.bin", kNew), FileWrite::kWritten);
  EXPECT_EQ(lstatof("theirs.bin").st_uid, 4321u);
  EXPECT_EQ(lstatof("theirs.bin").st_gid, 4322u);
}

TEST_F(Replacing, ALinkAtTheNameIsReplacedNeverFollowed) {
  // Someone planted x.txt -> elsewhere: writing x.txt must leave elsewhere
  // (read-only here, so that no read-only removal may reach it either) as it was.
  test::writetext("elsewhere", "precious");
  ::chmod("elsewhere", 0444);
  ASSERT_EQ(::symlink("elsewhere", "x.txt"), 0);
  ASSERT_EQ(::symlink("nowhere", "dangling.txt"), 0);
  EXPECT_EQ(writereplaces("x.txt", "elsewhere"), 0);  // the link is not the file
  ConsoleCapture out;
  EXPECT_EQ(writefile("x.txt", kNew), FileWrite::kWritten);
  EXPECT_EQ(writefile("dangling.txt", kNew), FileWrite::kWritten);
  EXPECT_EQ(out.text(), "");
  EXPECT_TRUE(S_ISREG(lstatof("x.txt").st_mode));
  EXPECT_TRUE(S_ISREG(lstatof("dangling.txt").st_mode));
  EXPECT_EQ(test::readbytes("x.txt"), kNew);
  EXPECT_EQ(text("elsewhere"), "precious");
  EXPECT_EQ(lstatof("elsewhere").st_mode & 07777, 0444u);
  EXPECT_FALSE(fs::exists("nowhere"));
}

// An exit handler registered before the first lookup still finds files in
// any letter case: the lookup's folder cache must outlive the handlers.
std::string exitvictim;
void deletevictim() {
  filedelete(exitvictim.c_str());
  if (fs::exists(fs::path(exitvictim).parent_path() / "Gone.TXT")) std::_Exit(3);
}

TEST_F(HostPath, ExitHandlersCanStillLookUpNames) {
  // A fresh process, so that the cache is first made after the handler is
  // registered (the order in which exit destroys it first).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        exitvictim = (dir_.path() / "gone.txt").string();
        std::atexit(deletevictim);
        test::writetext("Gone.TXT", "x");
        EXPECT_EQ(hostpath("GONE.txt"), "Gone.TXT");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace torvex
