// The three layout writers against packs laid out by hand from the layout
// tables, through the commands: "-d" with no names rewrites a pack as it is
// (padding normalised), "-p" replaces a member named in another case and adds
// one from a path with folders.
#include <gtest/gtest.h>

#include "support.h"
#include "torvex/pack/packwriter.h"
#include "writerfixtures.h"

namespace torvex {
namespace {

using packtest::Bytes;
using test::TempDir;
namespace fs = std::filesystem;

// ---- BIGF ----------------------------------------------------------------------

// Header and total fields left at 0, members unpadded, four stray bytes
// between the directory and the data.
const Bytes kBigfLoose = {
    'B', 'I', 'G', 'F', 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0,           //
    0, 0, 0, 0x30, 0, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,             // a.txt at 0x30
    0, 0, 0, 0x35, 0, 0, 0, 3, 'B', '.', 'f', 's', 'h', 0,             // B.fsh at 0x35
    0xEE, 0xEE, 0xEE, 0xEE,                                            //
    'h', 'e', 'l', 'l', 'o', 'x', 'y', 'z'};

// The same members as written: header length 44, total 56.
const Bytes kBigfTwo = {
    'B', 'I', 'G', 'F', 0, 0, 0, 0x38, 0, 0, 0, 2, 0, 0, 0, 0x2C,      //
    0, 0, 0, 0x2C, 0, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,             //
    0, 0, 0, 0x34, 0, 0, 0, 3, 'B', '.', 'f', 's', 'h', 0,             //
    'h', 'e', 'l', 'l', 'o', 0, 0, 0,                                  //
    'x', 'y', 'z', 0};

// After "-p" with b.FSH ("QQQQQ") and sub\new.dat ("12"): B.fsh keeps its
// stored name and place, new.dat comes last.
const Bytes kBigfUpdated = {
    'B', 'I', 'G', 'F', 0, 0, 0, 0x50, 0, 0, 0, 3, 0, 0, 0, 0x3C,      //
    0, 0, 0, 0x3C, 0, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,             //
    0, 0, 0, 0x44, 0, 0, 0, 5, 'B', '.', 'f', 's', 'h', 0,             //
    0, 0, 0, 0x4C, 0, 0, 0, 2, 'n', 'e', 'w', '.', 'd', 'a', 't', 0,   //
    'h', 'e', 'l', 'l', 'o', 0, 0, 0,                                  //
    'Q', 'Q', 'Q', 'Q', 'Q', 0, 0, 0,                                  //
    '1', '2', 0, 0};

// ---- C0FB ----------------------------------------------------------------------

// Header-length field 0, directory and members unpadded.
const Bytes kC0fbLoose = {
    0xC0, 0xFB, 0, 0, 0, 2,                                            //
    0, 0, 0x1E, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,                   //
    0, 0, 0x23, 0, 0, 3, 'B', '.', 'f', 's', 'h', 0,                   //
    'h', 'e', 'l', 'l', 'o', 'x', 'y', 'z'};

// Header length 32 (stored as 28), members at 0x20 and 0x28.
const Bytes kC0fbTwo = {
    0xC0, 0xFB, 0, 0x1C, 0, 2,                                         //
    0, 0, 0x20, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,                   //
    0, 0, 0x28, 0, 0, 3, 'B', '.', 'f', 's', 'h', 0,                   //
    0, 0,                                                              //
    'h', 'e', 'l', 'l', 'o', 0, 0, 0,                                  //
    'x', 'y', 'z', 0};

const Bytes kC0fbUpdated = {
    0xC0, 0xFB, 0, 0x28, 0, 3,                                         //
    0, 0, 0x2C, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,                   //
    0, 0, 0x34, 0, 0, 5, 'B', '.', 'f', 's', 'h', 0,                   //
    0, 0, 0x3C, 0, 0, 2, 'n', 'e', 'w', '.', 'd', 'a', 't', 0,         //
    'h', 'e', 'l', 'l', 'o', 0, 0, 0,                                  //
    'Q', 'Q', 'Q', 'Q', 'Q', 0, 0, 0,                                  //
    '1', '2', 0, 0};

// ---- FST -----------------------------------------------------------------------

// Record count, then records of offset and 64-byte name, the last one the
// end offset with an empty name; members unpadded.
Bytes fstpack(const std::vector<std::pair<std::string, std::string>>& members) {
  Bytes out;
  const auto records = static_cast<uint32_t>(members.size() + 1);
  for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(records >> s));
  uint32_t offset = 4 + 68 * records;
  for (const auto& [name, bytes] : members) {
    packtest::fstrecord(out, offset, name);
    offset += static_cast<uint32_t>(bytes.size());
  }
  packtest::fstrecord(out, offset, "");
  for (const auto& m : members) out.insert(out.end(), m.second.begin(), m.second.end());
  return out;
}

struct LayoutCase {
  const char* layout;
  Bytes loose;    // as some other tool may have left it
  Bytes two;      // the same pack as written by the layout table
  Bytes updated;  // after the update below
};

std::vector<LayoutCase> layoutcases() {
  const Bytes fsttwo = fstpack({{"a.txt", "hello"}, {"B.fsh", "xyz"}});
  // An FST pack has no padding to normalise: it is rewritten as it was.
  return {
      {"BIGF", kBigfLoose, kBigfTwo, kBigfUpdated},
      {"C0FB", kC0fbLoose, kC0fbTwo, kC0fbUpdated},
      {"FST", fsttwo, fsttwo, fstpack({{"a.txt", "hello"}, {"B.fsh", "QQQQQ"}, {"new.dat", "12"}})},
  };
}

TEST(PackLayouts, HandLaidFixturesAgreeWithTheirSizes) {
  // Guards the fixtures themselves: total and header-length fields match.
  EXPECT_EQ(kBigfTwo.size(), 0x38u);
  EXPECT_EQ(kBigfUpdated.size(), 0x50u);
  EXPECT_EQ(kC0fbTwo.size(), 0x2Cu);
  EXPECT_EQ(kC0fbUpdated.size(), 0x40u);
  EXPECT_EQ(fstpack({{"a.txt", "hello"}, {"B.fsh", "xyz"}}).size(), 4u + 68 * 3 + 8);
}

TEST(PackLayouts, DeleteWithNoNamesRewritesThePackNormalised) {
  for (const LayoutCase& c : layoutcases()) {
    SCOPED_TRACE(c.layout);
    TempDir dir;
    test::writebytes(dir / "pack.viv", c.loose);
    const auto r = test::runtorvex({"-d", "pack.viv"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::readbytes(dir / "pack.viv"), c.two);
    EXPECT_EQ(packtest::filesin(dir.path()), std::vector<std::string>{"pack.viv"});
    const std::string data = std::string(c.layout) == "FST" ? "writing data..\n" : "writing data\n";
    EXPECT_EQ(r.out,
              "deletes files from packfile 'pack.viv'\n"
              "total 2, deleted 0\n"
              "creating header\n" +
                  data + "packfile 'pack.viv' updated successfully\n");
  }
}

TEST(PackLayouts, UpdateReplacesInAnyCaseAndAddsFromAFolder) {
  for (const LayoutCase& c : layoutcases()) {
    SCOPED_TRACE(c.layout);
    TempDir dir;
    test::writebytes(dir / "pack.viv", c.two);
    test::writetext(dir / "b.FSH", "QQQQQ");
    fs::create_directories(dir / "sub");
    test::writetext(dir / "sub" / "new.dat", "12");
    const auto r = test::runtorvex({"-p", "pack.viv", "b.FSH", "sub\\new.dat"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::readbytes(dir / "pack.viv"), c.updated);
    EXPECT_NE(r.out.find("replaced 'B.fsh'\nadded 'new.dat'\ntotal 2, replaced 1, added 1\n"), std::string::npos)
        << r.out;
  }
}

TEST(PackLayouts, DeletedMembersAreLeftOut) {
  // "-d b.fsh" on the BIGF pack: the directory shrinks, the rest moves up.
  TempDir dir;
  test::writebytes(dir / "pack.viv", kBigfTwo);
  const auto r = test::runtorvex({"-d", "pack.viv", "b.fsh"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  const Bytes expected = {
      'B', 'I', 'G', 'F', 0, 0, 0, 0x28, 0, 0, 0, 1, 0, 0, 0, 0x20,  //
      0, 0, 0, 0x20, 0, 0, 0, 5, 'a', '.', 't', 'x', 't', 0, 0, 0,   //
      'h', 'e', 'l', 'l', 'o', 0, 0, 0};
  EXPECT_EQ(test::readbytes(dir / "pack.viv"), expected);
  EXPECT_NE(r.out.find("total 2, deleted 1\n"), std::string::npos);
}

// ---- Values the fields cannot hold ----------------------------------------------

PackItem item(std::string name, int32_t size) {
  PackItem i;
  i.name = std::move(name);
  i.offset = 0;
  i.size = size;
  return i;
}

TEST(PackLayouts, RefuseValuesTheirFieldsCannotHold) {
  struct Case {
    const char* what;
    WriteLayout layout;
    std::vector<PackItem> items;
    const char* message;  // empty: accepted
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, WriteLayout layout, const char* message, auto fill) {
    Case& c = cases.emplace_back();
    c.what = what;
    c.layout = layout;
    c.message = message;
    fill(c.items);
  };
  add("C0FB largest member", WriteLayout::kC0fb, "", [](auto& v) { v.push_back(item("a", 0xFFFFFF)); });
  add("C0FB member size", WriteLayout::kC0fb, "'a' has 16777216 bytes, more than the 16777215 a C0FB packfile can hold",
      [](auto& v) { v.push_back(item("a", 0x1000000)); });
  add("C0FB offset", WriteLayout::kC0fb, "'b' would start at byte 16777240, beyond the 16777215 a C0FB packfile can reach",
      [](auto& v) {
        v.push_back(item("a", 0xFFFFFF));
        v.push_back(item("b", 1));
      });
  add("C0FB member count", WriteLayout::kC0fb, "a C0FB packfile holds at most 65535 members, not 65536",
      [](auto& v) {
        for (int i = 0; i < 65536; ++i) v.push_back(item("m", 0));
      });
  add("C0FB header length", WriteLayout::kC0fb, "the directory of a C0FB packfile holds at most 65539 bytes, not 65540",
      [](auto& v) {
        // 6 + 2 * (6 + 32760 + 1) = 65540: one byte more than the field allows.
        v.push_back(item(std::string(32760, 'n'), 0));
        v.push_back(item(std::string(32760, 'm'), 0));
      });
  add("C0FB deleted members do not count", WriteLayout::kC0fb, "", [](auto& v) {
    v.push_back(item("a", 0x1000000));
    v.back().deleted = true;
  });
  // Readers end a directory at an empty name: every member after it would be lost.
  add("BIGF member without a name", WriteLayout::kBigf, "a BIGF packfile can't hold a member without a name",
      [](auto& v) {
        v.push_back(item("a", 1));
        v.push_back(item("", 1));
      });
  add("C0FB member without a name", WriteLayout::kC0fb, "a C0FB packfile can't hold a member without a name",
      [](auto& v) { v.push_back(item("", 1)); });
  add("a deleted member without a name", WriteLayout::kBigf, "", [](auto& v) {
    v.push_back(item("", 1));
    v.back().deleted = true;
  });
  add("FST 63-character name", WriteLayout::kFst, "", [](auto& v) { v.push_back(item(std::string(63, 'x'), 1)); });
  add("FST 64-character name", WriteLayout::kFst,
      "'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' is too long for an FST packfile (at most 63 characters)",
      [](auto& v) { v.push_back(item(std::string(64, 'x'), 1)); });
  add("BIGF beyond 2 GiB", WriteLayout::kBigf, "packfile would be 2147483676 bytes, more than the 2147483647 a packfile can hold",
      [](auto& v) {
        v.push_back(item("a", 0x7FFFFFF0));
        v.push_back(item("b", 8));
      });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PackPlan plan = planlayout(c.layout, c.items);
    EXPECT_EQ(plan.error, c.message);
  }
}

}  // namespace
}  // namespace torvex
