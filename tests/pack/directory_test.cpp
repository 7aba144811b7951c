// Directories: sorting, nested pack paths and how they fail, and the
// limits of the original arrays (more members, longer names and paths).
#include <gtest/gtest.h>

#include "fixtures.h"
#include "support.h"
#include "torvex/pack/packentry.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::Member;

std::vector<std::string> names(DirArray* d) {
  std::vector<std::string> out;
  if (d)
    for (const PackEntry& m : d->members()) out.push_back(m.name);
  return out;
}

// Opens a pack path as the commands do; a path without a file is nothing.
OpenedPack open(const std::string& path, int flags = 0) {
  const std::optional<PackPath> split = splitpackpath(path);
  if (!split) return {};
  return openpack(*split, flags);
}

class DirectoryTest : public ::testing::Test {
 protected:
  std::string file(const char* name, const ByteVec& bytes) {
    test::writebytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  test::TempDir dir_;
};

TEST_F(DirectoryTest, MembersAreSortedIgnoringCaseUnlessTheOrderIsKept) {
  const std::string pack = file("p.viv", test::bigf({{"b.dat", {1}}, {"C.dat", {2}}, {"a.dat", {3}}, {"_x", {4}}}));
  // '_' (0x5F) sorts after the folded letters' upper-case range but before 'a'.
  EXPECT_EQ(names(open(pack).directory), (std::vector<std::string>{"_x", "a.dat", "b.dat", "C.dat"}));
  EXPECT_EQ(names(open(pack, kScanKeepOrder).directory), (std::vector<std::string>{"b.dat", "C.dat", "a.dat", "_x"}));
}

TEST_F(DirectoryTest, TwoPacksMayBeOpenAtOnce) {
  const std::string first = file("a.viv", test::bigf({{"one", {1}}}));
  const std::string second = file("b.viv", test::c0fb({{"two", {2}}}));
  OpenedPack a = open(first);
  OpenedPack b = open(second);
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  const Block one = loadlist(a.directory->members()[0]);
  const Block two = loadlist(b.directory->members()[0]);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one.get()[0], 1);
  EXPECT_EQ(two.get()[0], 2);
  EXPECT_EQ(a.directory->head().parent->name, first);
}

TEST_F(DirectoryTest, NestedPathsDescendCaseInsensitively) {
  const ByteVec inner = test::c0fb({{"deep.dat", test::bytesof("deep")}, {"Face.fsh", {9}}});
  const std::string pack =
      file("outer.viv", test::bigf({{"inner.viv", test::fblit(inner)}, {"readme.txt", test::bytesof("hello")}}));
  OpenedPack opened = open(pack + "\\INNER.VIV");
  ASSERT_TRUE(opened);
  DirArray* d = opened.directory;
  EXPECT_EQ(names(d), (std::vector<std::string>{"deep.dat", "Face.fsh"}));
  // Members hang off the member they were read from; the chain is closed.
  PackEntry* container = d->head().parent;
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(container->name, "inner.viv");
  EXPECT_TRUE(container->compressed());
  EXPECT_EQ(container->stream, nullptr);
  EXPECT_EQ(container->parent->stream, nullptr);
  const Block deep = loadlist(d->members()[0]);
  ASSERT_TRUE(deep);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(deep.get()), 4), "deep");
  freedir(d, true);

  struct Case {
    std::string path;
    OpenedPack::Status status;
    std::string failed;  // the member named in the failure
  };
  const Case failures[] = {
      {pack + "\\missing", OpenedPack::kNotFound, "missing"},
      {pack + "\\inner.viv\\nothere", OpenedPack::kNotFound, "nothere"},
      {pack + "\\readme.txt", OpenedPack::kNotADirectory, "readme.txt"},
      {pack + "\\inner.viv\\deep.dat", OpenedPack::kNotADirectory, "deep.dat"},
      {file("plain.txt", test::bytesof("just text here")), OpenedPack::kNotScanned, ""},
  };
  for (const Case& c : failures) {
    const OpenedPack failed = open(c.path);
    EXPECT_EQ(failed.status, c.status) << c.path;
    EXPECT_EQ(failed.failed, c.failed) << c.path;
    EXPECT_EQ(failed.directory, nullptr) << c.path;
  }
}

TEST_F(DirectoryTest, APathSplitsAtTheLongestPrefixThatIsAFile) {
  const std::string pack = file("p.viv", test::bigf({{"x", {1}}}));
  const std::optional<PackPath> split = splitpackpath(pack + "\\a.fsh\\b\\");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->file, pack);
  EXPECT_EQ(split->members, (std::vector<std::string>{"a.fsh", "b", ""}));
  // Only the backslash separates members; nothing of these paths opens.
  EXPECT_FALSE(splitpackpath((dir_ / "nosuch.viv").string() + "\\a\\b"));
  EXPECT_FALSE(splitpackpath(pack + "/a.fsh"));
}

TEST_F(DirectoryTest, LargeDirectoriesLongNamesAndLongPathsGrow) {
  std::vector<Member> many;
  for (int i = 0; i < 3500; ++i) {
    // Appended rather than "m" + ...: GCC 12 misreads the inlined insert as an overlapping copy.
    std::string name = "m";
    name += std::to_string(10000 + i);
    many.push_back({name, ByteVec{static_cast<uint8_t>(i)}});
  }
  const std::string longname(200, 'n');
  many.push_back({longname, test::bytesof("long")});
  // A folder path well past 127 characters.
  std::string sub = (dir_ / std::string(60, 'd') / std::string(60, 'e') / std::string(60, 'f')).string();
  std::filesystem::create_directories(sub);
  test::writebytes(sub + "/big.viv", test::bigf(many));
  const std::string path = sub + "/big.viv";
  ASSERT_GT(path.size(), 190u);
  OpenedPack opened = open(path);
  ASSERT_TRUE(opened);
  DirArray* d = opened.directory;
  ASSERT_EQ(d->count(), 3501u);
  EXPECT_EQ(d->members()[3499].name, "m13499");
  EXPECT_EQ(d->members()[3500].name, longname);
  const Block last = loadlist(d->members()[3500]);
  ASSERT_TRUE(last);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(last.get()), 4), "long");
  EXPECT_EQ(d->head().parent->name, path);
}

TEST_F(DirectoryTest, CountsLargerThanTheDataEndWithTheData) {
  ByteVec b = test::bigf({{"a", {1}}, {"b", {2}}});
  b[8] = 0x7F;  // member count 0x7F000002
  const std::string pack = file("lie.viv", b);
  EXPECT_EQ(names(open(pack).directory), (std::vector<std::string>{"a", "b"}));
}

TEST_F(DirectoryTest, FreedirReleasesOneLevelOrTheWholeChain) {
  const std::string pack = file("o.viv", test::bigf({{"i.viv", test::bigf({{"x", {1}}})}}));
  OpenedPack opened = open(pack + "\\i.viv");
  ASSERT_TRUE(opened);
  DirArray* d = opened.directory;
  PackEntry* owner = d->head().parent;
  freedir(d, false);
  EXPECT_EQ(owner->directory, nullptr);
  ASSERT_NE(owner->parent, nullptr);
  EXPECT_NE(owner->parent->directory, nullptr);  // the outer array stays
  DirArray* again = scandir(*owner, 0);
  ASSERT_NE(again, nullptr);
  PackEntry* root = owner->parent;
  freedir(again, true);
  EXPECT_EQ(root->directory, nullptr);
}

}  // namespace
}  // namespace torvex
