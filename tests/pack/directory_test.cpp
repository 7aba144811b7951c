// Directories: sorting, nested pack paths and their messages, and the
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

class DirectoryTest : public ::testing::Test {
 protected:
  void TearDown() override { resetpackstate(); }
  std::string file(const char* name, const ByteVec& bytes) {
    test::writebytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  test::TempDir dir_;
};

TEST_F(DirectoryTest, MembersAreSortedIgnoringCaseUnlessTheOrderIsKept) {
  const std::string pack = file("p.viv", test::bigf({{"b.dat", {1}}, {"C.dat", {2}}, {"a.dat", {3}}, {"_x", {4}}}));
  test::ConsoleCapture capture;
  // '_' (0x5F) sorts after the folded letters' upper-case range but before 'a'.
  EXPECT_EQ(names(openpack(pack, 0)), (std::vector<std::string>{"_x", "a.dat", "b.dat", "C.dat"}));
  EXPECT_EQ(names(openpack(pack, kScanKeepOrder)), (std::vector<std::string>{"b.dat", "C.dat", "a.dat", "_x"}));
  EXPECT_EQ(capture.text(), "pack file '" + pack + "' opened\npack file '" + pack + "' opened\n");
}

TEST_F(DirectoryTest, NestedPathsDescendCaseInsensitively) {
  const ByteVec inner = test::c0fb({{"deep.dat", test::bytesof("deep")}, {"Face.fsh", {9}}});
  const std::string pack =
      file("outer.viv", test::bigf({{"inner.viv", test::fblit(inner)}, {"readme.txt", test::bytesof("hello")}}));
  test::ConsoleCapture capture;
  DirArray* d = openpack(pack + "\\INNER.VIV", 0);
  ASSERT_NE(d, nullptr);
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
    std::string expected;
  };
  const Case failures[] = {
      {pack + "\\missing", "couldn't find 'missing' inside '" + pack + "'\n"},
      {pack + "\\inner.viv\\nothere", "couldn't find 'nothere' inside '" + pack + "'\n"},
      {pack + "\\readme.txt", "couldn't scan directory 'readme.txt'\n"},
      {pack + "\\inner.viv\\deep.dat", "couldn't scan directory 'deep.dat'\n"},
      {file("plain.txt", test::bytesof("just text here")), "couldn't scan packfile '" + (dir_ / "plain.txt").string() + "'\n"},
  };
  for (const Case& c : failures) {
    capture.clear();
    EXPECT_EQ(openpack(c.path, 0), nullptr) << c.path;
    const std::string text = capture.text();
    EXPECT_EQ(text.substr(text.find('\n') + 1), c.expected) << c.path;
  }
}

TEST_F(DirectoryTest, NoPrefixThatOpensIsFatalWithTheWholeArgument) {
  const std::string arg = (dir_ / "nosuch.viv").string() + "\\a\\b";
  test::ConsoleCapture capture;
  try {
    openpack(arg, 0);
    ADD_FAILURE() << "no fatal error";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.text, "couldn't open pack file '" + arg + "'\n");
  }
}

TEST_F(DirectoryTest, LargeDirectoriesLongNamesAndLongPathsGrow) {
  std::vector<Member> many;
  for (int i = 0; i < 3500; ++i) many.push_back({"m" + std::to_string(10000 + i), ByteVec{static_cast<uint8_t>(i)}});
  const std::string longname(200, 'n');
  many.push_back({longname, test::bytesof("long")});
  // A folder path well past 127 characters.
  std::string sub = (dir_ / std::string(60, 'd') / std::string(60, 'e') / std::string(60, 'f')).string();
  std::filesystem::create_directories(sub);
  test::writebytes(sub + "/big.viv", test::bigf(many));
  const std::string path = sub + "/big.viv";
  ASSERT_GT(path.size(), 190u);
  test::ConsoleCapture capture;
  DirArray* d = openpack(path, 0);
  ASSERT_NE(d, nullptr);
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
  test::ConsoleCapture capture;
  DirArray* d = openpack(pack, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(names(d), (std::vector<std::string>{"a", "b"}));
}

TEST_F(DirectoryTest, FreedirReleasesOneLevelOrTheWholeChain) {
  const std::string pack = file("o.viv", test::bigf({{"i.viv", test::bigf({{"x", {1}}})}}));
  test::ConsoleCapture capture;
  DirArray* d = openpack(pack + "\\i.viv", 0);
  ASSERT_NE(d, nullptr);
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
