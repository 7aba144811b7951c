// The Win32 backend of the services table, run as a Windows program (under
// Wine here) and checked against what Windows itself says about the files:
// attributes from GetFileAttributesA, contents read with the C library.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "torvex/platform/platform.h"

namespace torvex {
namespace {

std::string console;
void capture(std::string_view text) { console.append(text); }

std::string contents(const std::string& name) {
  std::string out;
  if (FILE* f = std::fopen(name.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

void put(const std::string& name, const std::string& text, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr) << name;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), attributes)) << name;
}

bool exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool hasattribute(const std::string& name, DWORD a) { return (GetFileAttributesA(name.c_str()) & a) != 0; }

// Each test in a new folder of its own below Windows' temporary folder.
class Win32Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    console.clear();
    services().consolewrite = capture;
    folder_ = maketempfolder();
    ASSERT_FALSE(folder_.empty());
    ASSERT_TRUE(folderexists(folder_.c_str()));
  }
  void TearDown() override {
    services().consolewrite = saved_;
    // Empty it as Windows would, read-only files and subfolders included.
    clear(folder_);
    EXPECT_TRUE(removefolder(folder_.c_str())) << folder_;
    EXPECT_FALSE(exists(folder_));
  }
  static void clear(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        clear(path);
        RemoveDirectoryA(path.c_str());
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(h, &entry));
    FindClose(h);
  }
  std::string at(const std::string& name) const { return folder_ + "\\" + name; }

  std::string folder_;
  decltype(PlatformServices::consolewrite) saved_ = services().consolewrite;
};

TEST_F(Win32Backend, WritingAReadOnlyFileClearsOnlyThatAttributeAndTruncates) {
  const std::string f = at("pack.viv");
  put(f, "old and longer contents", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  File out(f.c_str(), 1);
  ASSERT_TRUE(out);
  EXPECT_EQ(console, "'" + f + "': removed read-only flag\n");
  ASSERT_TRUE(out.writeall({reinterpret_cast<const uint8_t*>("new"), 3}));
  out.close();
  EXPECT_EQ(contents(f), "new");
  EXPECT_FALSE(hasattribute(f, FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(hasattribute(f, FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(Win32Backend, DeleteAndReplaceTakeReadOnlyFiles) {
  put(at("gone"), "x", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(filedelete(at("gone").c_str()), 1);
  EXPECT_FALSE(exists(at("gone")));
  EXPECT_EQ(filedelete(at("gone").c_str()), 0);

  put(at("pack.viv"), "old pack", FILE_ATTRIBUTE_READONLY);
  put(at("pack.tmp"), "new pack");
  console.clear();
  EXPECT_EQ(filereplace(at("pack.tmp").c_str(), at("pack.viv").c_str()), 1);
  EXPECT_EQ(console, "'" + at("pack.viv") + "': removed read-only flag\n");
  EXPECT_EQ(contents(at("pack.viv")), "new pack");
  EXPECT_FALSE(exists(at("pack.tmp")));
}

TEST_F(Win32Backend, RenameAndExclusiveCreateNeverTouchAnExistingName) {
  put(at("a"), "A");
  put(at("b"), "B");
  ASSERT_TRUE(CreateDirectoryA(at("dir").c_str(), nullptr));
  EXPECT_EQ(filerename(at("a").c_str(), at("b").c_str()), 0);
  EXPECT_EQ(contents(at("a")), "A");
  EXPECT_EQ(contents(at("b")), "B");
  EXPECT_EQ(filerename(at("a").c_str(), at("c").c_str()), 1);
  EXPECT_EQ(contents(at("c")), "A");
  EXPECT_FALSE(exists(at("a")));

  for (const char* taken : {"b", "B", "dir"}) EXPECT_EQ(filecreateexclusive(at(taken).c_str()), nullptr) << taken;
  EXPECT_EQ(contents(at("b")), "B");
  File fresh(filecreateexclusive(at("new").c_str()));
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh.write("xy", 2), 2u);
}

TEST_F(Win32Backend, ExistenceIsOfFilesThatOpenForReading) {
  put(at("file"), "1");
  ASSERT_TRUE(CreateDirectoryA(at("dir").c_str(), nullptr));
  EXPECT_EQ(fileexists(at("file").c_str()), 1);
  EXPECT_EQ(fileexists(at("FILE").c_str()), 1);  // any letter case
  EXPECT_EQ(fileexists(at("dir").c_str()), 0);
  EXPECT_EQ(fileexists(at("none").c_str()), 0);
  EXPECT_EQ(folderexists(at("dir").c_str()), 1);
  EXPECT_EQ(folderexists(at("file").c_str()), 0);
  EXPECT_EQ(fileopen(at("dir").c_str(), 0), nullptr);
  // Readers share the file with each other.
  File one(at("file").c_str(), 0);
  File two(at("file").c_str(), 0);
  EXPECT_TRUE(one && two);
}

TEST_F(Win32Backend, ReadSeekAndSize) {
  put(at("f"), "0123456789");
  File f(at("f").c_str(), 0);
  ASSERT_TRUE(f);
  EXPECT_EQ(f.size(), 10u);
  EXPECT_EQ(f.seek(-4, 2), 6);
  char buf[8] = {};
  EXPECT_EQ(f.read(buf, 8), 4u);  // a short count at the end, not an error
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(f.seek(2, 0), 2);
  EXPECT_EQ(f.read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "234");
  EXPECT_THROW(f.seek(0, 1), FatalError);
  EXPECT_NE(console.find("-- illegal seek mode\n"), std::string::npos) << console;
}

TEST_F(Win32Backend, SizesPast32BitsStayAtTheLargestValue) {
  const std::string name = at("big");
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = (LONGLONG{1} << 32) + 11;
  DWORD sparse = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &sparse, nullptr);  // no room on an NTFS disk
  ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h));
  CloseHandle(h);
  File f(name.c_str(), 0);
  ASSERT_TRUE(f);
  EXPECT_EQ(f.size(), 0xFFFFFFFFu);
}

TEST_F(Win32Backend, FoldersAreMadeWithTheirParentsAndEitherSeparator) {
  EXPECT_EQ(makefolder(at("a\\b/c").c_str()), 1);
  EXPECT_TRUE(hasattribute(at("a\\b\\c"), FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(makefolder(at("a\\b").c_str()), 1);  // there already
  put(at("file"), "x");
  EXPECT_EQ(makefolder(at("file\\sub").c_str()), 0);
  EXPECT_EQ(removefolder(at("a").c_str()), 0);  // not empty
}

}  // namespace
}  // namespace torvex

int main(int argc, char** argv) {
  torvex::installservices();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
