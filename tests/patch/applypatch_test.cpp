// "-patch" end to end: the round trip that proves both commands (a patch
// made from a working and a reference copy, applied to another copy of the
// reference, gives the working files back member by member and picture by
// picture), members written back in their own compression, and the
// refusals that must leave every file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "patchfixtures.h"
#include "support.h"

namespace torvex {
namespace {

using namespace patchtest;
using Bytes = patchtest::Bytes;  // not the Block buffer of torvex
using test::TempDir;
namespace fs = std::filesystem;

const char kFatal[] = "***********\nFatal Error\n***********\n-- ";

// Records lie at 4-byte aligned offsets and a record reaches up to the next
// one, so a record that moves from the last place gains its padding: equal
// pictures are equal up to those zeros.
bool samepicture(const Bytes& a, const Bytes& b) {
  const Bytes& shorter = a.size() < b.size() ? a : b;
  const Bytes& longer = a.size() < b.size() ? b : a;
  if (longer.size() != ((shorter.size() + 3) & ~size_t{3})) return false;
  return std::equal(shorter.begin(), shorter.end(), longer.begin()) &&
         std::all_of(longer.begin() + static_cast<long>(shorter.size()), longer.end(), [](uint8_t c) { return c == 0; });
}

void expectsamepictures(const Bytes& got, const Bytes& want) {
  const auto mine = pictures(got);
  const auto theirs = pictures(want);
  ASSERT_TRUE(mine && theirs);
  ASSERT_EQ(mine->size(), theirs->size());
  for (const auto& [name, bytes] : *theirs) {
    ASSERT_TRUE(mine->count(name)) << name;
    EXPECT_TRUE(samepicture(mine->at(name), bytes)) << name;
  }
}

// Compares a patched file with the working file it should now equal: the
// same members, each expanded, SHPI members (and an SHPI file) picture by
// picture.
void expectsamefile(const Bytes& got, const Bytes& want) {
  const Bytes plain = expanded(want);
  if (pictures(plain)) {
    expectsamepictures(expanded(got), plain);
    return;
  }
  const auto mine = packmembers(got);
  const auto theirs = packmembers(want);
  ASSERT_TRUE(mine && theirs);
  std::map<std::string, Bytes> a, b;
  for (const Member& m : *mine) a[m.name] = m.bytes;
  for (const Member& m : *theirs) b[m.name] = m.bytes;
  ASSERT_EQ(a.size(), b.size());
  for (const auto& [name, bytes] : b) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(a.count(name));
    if (pictures(bytes)) expectsamepictures(a[name], bytes);
    else EXPECT_EQ(a[name], bytes);
  }
}

struct Pair {
  const char* what;
  std::vector<std::pair<std::string, Bytes>> working;
  std::vector<std::pair<std::string, Bytes>> reference;
};

// Makes the patch in `dir` (working files there, reference under "ref/")
// and lays out a copy of the reference under "copy/".
void makeonly(const TempDir& dir, const Pair& p) {
  fs::create_directories(dir / "ref");
  std::string info = "!message\nround trip\n!message\n";
  for (const auto& [name, bytes] : p.working) {
    test::writebytes(dir / name, bytes);
    info += name + "\n";
  }
  for (const auto& [name, bytes] : p.reference) test::writebytes(dir / "ref" / name, bytes);
  test::writetext(dir / "info.txt", info);
  const test::RunResult made = test::runtorvex({"-makepatch", "info.txt", "p.viv", "ref"}, dir.path());
  EXPECT_EQ(made.status, 0) << made.out;
  fs::copy(dir / "ref", dir / "copy");
}

// The same, then the patch applied to the copy.
test::RunResult makeandapply(const TempDir& dir, const Pair& p, const std::vector<std::string>& switches = {}) {
  makeonly(dir, p);
  std::vector<std::string> args{"-patch", "p.viv", "copy"};
  args.insert(args.end(), switches.begin(), switches.end());
  return test::runtorvex(args, dir.path());
}

TEST(ApplyPatch, RoundTripGivesTheWorkingFilesBack) {
  const Bytes p1 = picture(1), p2 = picture(2), p3 = picture(3), odd = picture(4, 1), odd2 = picture(5, 3);
  const Pair pairs[] = {
      {"plain BIGF: changed, new and unchanged members of every length",
       {{"game.viv", bigf({{"a.txt", text("Hello")}, {"b.dat", filler(7, 1)}, {"c.dat", filler(13, 2)},
                           {"d.dat", filler(12, 3)}, padding()})}},
       {{"game.viv", bigf({{"a.txt", text("World")}, {"c.dat", filler(13, 9)}, {"d.dat", filler(12, 3)}, padding()})}}},
      {"C0FB",
       {{"game.viv", c0fb({{"a.txt", text("Hello")}, {"new.dat", filler(9, 1)}, padding()})}},
       {{"game.viv", c0fb({{"a.txt", text("Worlds")}, padding()})}}},
      {"compressed members",
       {{"game.viv", bigf({{"z.dat", fb(filler(50, 1))}, {"y.dat", fb(filler(30, 5))}, {"n.dat", filler(11, 2)},
                           padding()})}},
       {{"game.viv", bigf({{"z.dat", fb(filler(50, 2))}, {"y.dat", fb(filler(30, 5))}, padding()})}}},
      {"SHPI members: changed, added and unchanged pictures; one compressed",
       {{"game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}, {"bbbb", p2}, {"cccc", odd}, {"dddd", odd2}})},
                           {"more.qfs", fb(shpi({{"eeee", p1}, {"ffff", p3}}))}, padding()})}},
       {{"game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}, {"bbbb", p3}, {"dddd", odd}})},
                           {"more.qfs", fb(shpi({{"eeee", p1}, {"ffff", p2}}))}, padding()})}}},
      {"a wholly compressed SHPI file and a wholly compressed pack, listed together",
       {{"pics.qfs", fb(shpi({{"aaaa", p2}, {"bbbb", p1}, {"cccc", odd}, {"dddd", p3}}))},
        {"packed.viv", fb(bigf({{"a.txt", text("Hello")}, {"b.txt", text("new")}, padding()}))}},
       {{"pics.qfs", fb(shpi({{"aaaa", p1}, {"bbbb", p1}, {"cccc", p3}}))},
        {"packed.viv", fb(bigf({{"a.txt", text("World!")}, padding()}))}}},
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.what);
    TempDir dir;
    const test::RunResult r = makeandapply(dir, p);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("round trip\n", 0), 0u) << r.out;  // the message comes first
    for (const auto& [name, bytes] : p.working) {
      SCOPED_TRACE(name);
      expectsamefile(test::readbytes(dir / "copy" / name), bytes);
      // Compressed as a whole before, compressed as a whole after.
      const Bytes patched = test::readbytes(dir / "copy" / name);
      EXPECT_EQ(patched[0] == 0x10 && patched[1] == 0xFB, bytes[0] == 0x10 && bytes[1] == 0xFB);
    }
  }
}

// What "-patch" prints, and members that were compressed in the target are
// written back compressed, by the store or the real encoder.
TEST(ApplyPatch, CompressedMembersStayCompressed) {
  const Bytes plain(400, 'a');
  const Pair pair = {"",
                     {{"game.viv", bigf({{"c.dat", fb(plain)}, {"n.dat", text("new")}, padding()})}},
                     {{"game.viv", bigf({{"c.dat", fb(filler(400, 1))}, padding()})}}};
  size_t sizes[2] = {};
  for (int real = 0; real < 2; ++real) {
    SCOPED_TRACE(real ? "-real" : "store");
    TempDir dir;
    const test::RunResult r = makeandapply(dir, pair, real ? std::vector<std::string>{"-real"} : std::vector<std::string>{});
    EXPECT_EQ(r.status, 0);
    if (!real) {
      EXPECT_EQ(r.out,
                "round trip\n"
                "patching 'copy\\game.viv'\n"
                "replaced 'c.dat'\n"
                "added 'n.dat'\n"
                "creating header\n"
                "writing data\n"
                "'copy\\game.viv' patched successfully\n"
                "1 file(s) patched\n");
    }
    const auto members = packtest::bigfmembers(test::readbytes(dir / "copy" / "game.viv"));
    ASSERT_TRUE(members);
    for (const Member& m : *members) {
      if (m.name == "n.dat") {
        EXPECT_EQ(m.bytes, text("new"));  // added as it came
      }
      if (m.name != "c.dat") continue;
      ASSERT_GE(m.bytes.size(), 2u);
      EXPECT_EQ(m.bytes[0], 0x10);
      EXPECT_EQ(m.bytes[1], 0xFB);
      EXPECT_EQ(expanded(m.bytes), plain);
      sizes[real] = m.bytes.size();
    }
  }
  EXPECT_LT(sizes[1], sizes[0]);  // the real encoder finds the run
}

// A patch that cannot be applied whole is not applied at all.
TEST(ApplyPatch, RefusalsLeaveEveryFileAsItWas) {
  const Pair pair = {"",
                     {{"first.viv", bigf({{"a.txt", text("Hello")}, padding()})},
                      {"second.viv", bigf({{"b.txt", text("Hello")}, padding()})}},
                     {{"first.viv", bigf({{"a.txt", text("World")}, padding()})},
                      {"second.viv", bigf({{"b.txt", text("World")}, padding()})}}};
  struct Case {
    const char* what;
    void (*spoil)(const fs::path& dir);
    std::string fatal;
  };
  const Case cases[] = {
      {"a target is missing", [](const fs::path& d) { fs::remove(d / "copy" / "second.viv"); },
       "couldn't open 'copy\\second.viv', nothing patched"},
      {"a target is another kind of file",
       [](const fs::path& d) { test::writebytes(d / "copy" / "second.viv", Bytes(150, 'x')); },
       "'copy\\second.viv' is not BIGF or C0FB pack file or compressed file, nothing patched"},
      {"a target is too small", [](const fs::path& d) { test::writebytes(d / "copy" / "second.viv", text("BIGF")); },
       "'copy\\second.viv' is not BIGF or C0FB pack file or compressed file, nothing patched"},
      {"the patch is cut short",
       [](const fs::path& d) {
         Bytes b = test::readbytes(d / "p.viv");
         b.resize(b.size() - 20);
         test::writebytes(d / "p.viv", b);
       },
       "'p.viv' is no patch or is damaged (not a whole BIGF pack), nothing patched"},
      {"a per-file pack of the patch is damaged",
       [](const fs::path& d) {
         Bytes b = test::readbytes(d / "p.viv");
         const size_t at = packtest::be32(b, 16 + 8 + 10);  // the second entry's data
         b[at] = 'X';
         test::writebytes(d / "p.viv", b);
       },
       "'p.viv' is no patch or is damaged ('second.viv' is not a whole BIGF pack), nothing patched"},
      {"the patch is missing", [](const fs::path& d) { fs::remove(d / "p.viv"); }, "couldn't open patch file 'p.viv'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    // The patch is made and the copy laid out, but not patched yet.
    makeonly(dir, pair);
    c.spoil(dir.path());
    std::map<std::string, Bytes> before;
    for (const auto& e : fs::directory_iterator(dir / "copy")) before[e.path().filename()] = test::readbytes(e.path());
    const test::RunResult r = test::runtorvex({"-patch", "p.viv", "copy"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(r.out.find("***")), std::string(kFatal) + c.fatal + "\n") << r.out;
    EXPECT_EQ(r.out.find("patching"), std::string::npos) << r.out;
    std::map<std::string, Bytes> after;
    for (const auto& e : fs::directory_iterator(dir / "copy")) after[e.path().filename()] = test::readbytes(e.path());
    EXPECT_EQ(after, before);
  }
}

// A target found under another letter case is the file patched, not a
// second file of the patch's spelling beside it, whether it is rewritten
// as a pack or written whole as an SHPI file.
TEST(ApplyPatch, ATargetFoundInAnotherCaseIsTheOnePatched) {
  if (test::emulated()) GTEST_SKIP() << "Windows has one file for both spellings";
  const Bytes p1 = picture(1), p2 = picture(2);
  const Pair pair = {"",
                     {{"game.viv", bigf({{"a.txt", text("Hello")}, padding()})},
                      {"pics.qfs", fb(shpi({{"aaaa", p1}, {"bbbb", p2}}))}},
                     {{"game.viv", bigf({{"a.txt", text("World")}, padding()})},
                      {"pics.qfs", fb(shpi({{"aaaa", p2}, {"bbbb", p2}}))}}};
  TempDir dir;
  makeonly(dir, pair);
  fs::rename(dir / "copy" / "game.viv", dir / "copy" / "GAME.VIV");
  fs::rename(dir / "copy" / "pics.qfs", dir / "copy" / "Pics.Qfs");
  const test::RunResult r = test::runtorvex({"-patch", "p.viv", "copy"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir / "copy")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"GAME.VIV", "Pics.Qfs"}));
  expectsamefile(test::readbytes(dir / "copy" / "GAME.VIV"), pair.working[0].second);
  expectsamefile(test::readbytes(dir / "copy" / "Pics.Qfs"), pair.working[1].second);
}

// The game folder defaults to the current one.
TEST(ApplyPatch, CurrentFolderByDefault) {
  TempDir dir;
  const Pair pair = {"",
                     {{"game.viv", bigf({{"a.txt", text("Hello")}, padding()})}},
                     {{"game.viv", bigf({{"a.txt", text("World")}, padding()})}}};
  makeonly(dir, pair);
  fs::copy(dir / "p.viv", dir / "copy" / "p.viv");
  const test::RunResult r = test::runtorvex({"-patch", "p.viv"}, dir / "copy");
  EXPECT_EQ(r.status, 0) << r.out;
  expectsamefile(test::readbytes(dir / "copy" / "game.viv"), pair.working[0].second);
}

}  // namespace
}  // namespace torvex
