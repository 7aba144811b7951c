// "-makepatch" end to end, on working and reference folders built from the
// layouts' byte tables: what it prints, the bytes of the patch it writes
// (checked against layouts written out by hand), and every patch read back
// with our own "-u".
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
const char kInfo[] = "!message\nfix\n!message\ngame.viv\n";

// Every file below `dir`, relative to it, sorted.
std::vector<std::string> filesbelow(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

// The members of `pack` as our own "-u" writes them, by name.
std::map<std::string, Bytes> unpacked(const Bytes& pack) {
  TempDir dir;
  test::writebytes(dir / "in.viv", pack);
  const test::RunResult r = test::runtorvex({"-u", "in.viv"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  std::map<std::string, Bytes> out;
  for (const std::string& name : filesbelow(dir.path()))
    if (name != "in.viv") out[name] = test::readbytes(dir / name);
  return out;
}

// What a patch holds: per listed file its members, and the message.
struct PatchView {
  std::map<std::string, std::map<std::string, Bytes>> files;
  Bytes message;
};

// Reads a patch by the layout table and checks that "-u" gives the same
// entries, exact lengths included.
PatchView readback(const Bytes& patch) {
  PatchView view;
  const auto outer = packtest::bigfmembers(patch);
  if (!outer) {
    ADD_FAILURE() << "the patch is no whole BIGF pack";
    return view;
  }
  EXPECT_EQ(outer->back().name, "#README.TXT");  // the message comes last
  std::map<std::string, Bytes> entries;
  for (const Member& m : *outer) {
    entries[m.name] = m.bytes;
    if (m.name == "#README.TXT") {
      view.message = m.bytes;
      continue;
    }
    const auto inner = packtest::bigfmembers(m.bytes);
    if (!inner) {
      ADD_FAILURE() << m.name << " is no whole BIGF pack";
      continue;
    }
    for (const Member& k : *inner) view.files[m.name][k.name] = k.bytes;
    EXPECT_EQ(unpacked(m.bytes), view.files[m.name]) << "-u of " << m.name;
  }
  EXPECT_EQ(unpacked(patch), entries) << "-u of the patch";
  return view;
}

struct Scene {
  const char* what;
  std::vector<std::pair<std::string, Bytes>> files;  // working files, and the reference copies under "ref/"
  std::string info;
  std::string out;
  int status = 0;
  // The members of each listed file that the patch carries; no patch at all
  // when empty.
  std::map<std::string, std::map<std::string, Bytes>> kept;
};

void runscene(const Scene& s) {
  SCOPED_TRACE(s.what);
  TempDir dir;
  fs::create_directory(dir / "ref");
  std::vector<std::string> written{"info.txt"};
  for (const auto& [name, bytes] : s.files) {
    test::writebytes(dir / name, bytes);
    written.push_back(name);
  }
  test::writetext(dir / "info.txt", s.info);
  const test::RunResult r = test::runtorvex({"-makepatch", "info.txt", "p.viv", "ref"}, dir.path());
  EXPECT_EQ(r.out, s.out);
  EXPECT_EQ(r.status, s.status);
  // No temporary file is left behind, and nothing but the patch is added.
  if (!s.kept.empty()) written.push_back("p.viv");
  std::sort(written.begin(), written.end());
  EXPECT_EQ(filesbelow(dir.path()), written);
  if (s.kept.empty()) return;
  const PatchView view = readback(test::readbytes(dir / "p.viv"));
  EXPECT_EQ(view.files, s.kept);
  EXPECT_EQ(view.message, text("fix"));
}

// A partial SHPI written out from its table: the working file's tag and
// directory id, then per picture its name and offset, then the pictures.
Bytes partial(const std::vector<std::pair<std::string, Bytes>>& kept, const std::string& id = "GIMX") {
  Bytes out{'S', 'H', 'P', 'I'};
  auto put32 = [&out](size_t v) {
    for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
  };
  size_t total = 16 + 8 * kept.size();
  for (const auto& k : kept) total += k.second.size();
  put32(total);
  put32(kept.size());
  out.insert(out.end(), id.begin(), id.end());
  size_t at = 16 + 8 * kept.size();
  for (const auto& [name, bytes] : kept) {
    out.insert(out.end(), name.begin(), name.end());
    put32(at);
    at += bytes.size();
  }
  for (const auto& k : kept) out.insert(out.end(), k.second.begin(), k.second.end());
  return out;
}

TEST(MakePatch, ComparesMembersAndPictures) {
  const Bytes p1 = picture(1), p2 = picture(2), p3 = picture(3);
  const Bytes working68 = filler(68, 5), reference68 = filler(68, 6);
  Bytes cut = bigf({{"m.dat", working68}});
  ASSERT_EQ(cut.size(), 100u);  // a pack of exactly 100 bytes
  cut.resize(99);
  const Scene scenes[] = {
      {"identical files",
       {{"game.viv", bigf({{"a.txt", text("Hello")}, padding()})}, {"ref/game.viv", bigf({{"a.txt", text("Hello")}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\nno differences found\n",
       0,
       {}},
      {"a changed member and a new one (kept, not counted)",
       {{"game.viv", bigf({{"a.txt", text("World")}, {"new.dat", text("xyz")}, padding()})},
        {"ref/game.viv", bigf({{"a.txt", text("Hello")}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\n"
       "'.\\game.viv\\a.txt' size 5 added\n"
       "'.\\game.viv\\new.dat' size 3 added\n"
       "creating patch file 'game.viv#1000.tmp' (2 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       0,
       {{"game.viv", {{"a.txt", text("World")}, {"new.dat", text("xyz")}}}}},
      {"an SHPI member with one changed picture",
       {{"game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}, {"bbbb", p2}})}, padding()})},
        {"ref/game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}, {"bbbb", p3}})}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\n"
       "'.\\game.viv\\pics.fsh' size 56 added\n"  // 16 + 8 + 32
       "creating patch file 'game.viv#1000.tmp' (1 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       0,
       {{"game.viv", {{"pics.fsh", partial({{"bbbb", p2}})}}}}},
      {"an SHPI member with changed, new and equal pictures",
       {{"game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}, {"bbbb", p2}, {"cccc", p3}}, "GIMY")}, padding()})},
        {"ref/game.viv", bigf({{"pics.fsh", shpi({{"bbbb", p3}, {"aaaa", p1}})}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\n"
       "'.\\game.viv\\pics.fsh' size 96 added\n"
       "creating patch file 'game.viv#1000.tmp' (1 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       0,
       {{"game.viv", {{"pics.fsh", partial({{"bbbb", p2}, {"cccc", p3}}, "GIMY")}}}}},
      {"an SHPI member whose pictures are equal though its bytes differ",
       {{"game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}}, "GIMX")}, padding()})},
        {"ref/game.viv", bigf({{"pics.fsh", shpi({{"aaaa", p1}}, "GIMY")}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\n1 different files/images\n",
       0,
       {}},
      {"a compressed member, compared and kept expanded",
       {{"game.viv", bigf({{"data.bin", fb(filler(40, 7))}, padding()})},
        {"ref/game.viv", bigf({{"data.bin", fb(filler(40, 8))}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\n"
       "'.\\game.viv\\data.bin' size 40 added\n"
       "creating patch file 'game.viv#1000.tmp' (1 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       0,
       {{"game.viv", {{"data.bin", filler(40, 7)}}}}},
      {"files of 99 and 100 bytes",
       {{"small.viv", cut},
        {"ref/small.viv", cut},
        {"edge.viv", bigf({{"m.dat", working68}})},
        {"ref/edge.viv", bigf({{"m.dat", reference68}})}},
       "!message\nfix\n!message\nsmall.viv\nedge.viv\n",
       "scanning original file '.\\small.viv'\ntoo small, ignored\nno differences found\n"
       "scanning original file '.\\edge.viv'\n"
       "'.\\edge.viv\\m.dat' size 68 added\n"
       "creating patch file 'edge.viv#1001.tmp' (1 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       0,
       {{"edge.viv", {{"m.dat", working68}}}}},
      {"comments in every part of the info file",
       {{"game.viv", bigf({{"a.txt", text("World")}, padding()})}, {"ref/game.viv", bigf({{"a.txt", text("Hello")}, padding()})}},
       "; comment\r\n# and another\r\n\r\nignored!\r\n!MESSAGE\r\n;x\r\nf\r\n#y\r\nix\r\n!message\r\n;game.viv\r\n#z\r\ngame.viv",
       "scanning original file '.\\game.viv'\n"
       "'.\\game.viv\\a.txt' size 5 added\n"
       "creating patch file 'game.viv#1000.tmp' (1 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       0,
       {{"game.viv", {{"a.txt", text("World")}}}}},
      {"files that are not compared, and the others still are",
       {{"text.viv", Bytes(120, 'x')},
        {"ref/text.viv", Bytes(120, 'y')},
        {"nopair.viv", bigf({{"a.txt", text("Hello")}, padding()})},
        {"game.viv", bigf({{"a.txt", text("World")}, padding()})},
        {"ref/game.viv", bigf({{"a.txt", text("Hello")}, padding()})}},
       "!message\nfix\n!message\nmissing.viv\ntext.viv\nnopair.viv\ngame.viv\nGAME.VIV\n",
       "scanning original file '.\\missing.viv'\nCouldn't open '.\\missing.viv'\nno differences found\n"
       "scanning original file '.\\text.viv'\nnot BIGF or C0FB pack file or compressed file, ignored\n"
       "no differences found\n"
       "scanning original file '.\\nopair.viv'\nCouldn't load 'ref\\nopair.viv'\nno differences found\n"
       "scanning original file '.\\game.viv'\n"
       "'.\\game.viv\\a.txt' size 5 added\n"
       "creating patch file 'game.viv#1003.tmp' (1 entries)\n"
       "patch file created successfully\n"
       "1 different files/images\n"
       "'GAME.VIV' is listed already, ignored\n"
       "creating patch file 'p.viv' (2 entries)\n"
       "patch file created successfully\n",
       1,  // the patch is incomplete
       {{"game.viv", {{"a.txt", text("World")}}}}},
  };
  for (const Scene& s : scenes) runscene(s);
}

// What ends the command: nothing is written, and the temporary files made
// up to then are gone.
TEST(MakePatch, FatalErrorsLeaveNothingBehind) {
  const Scene scenes[] = {
      {"no second !message",
       {{"game.viv", bigf({{"a.txt", text("World")}, padding()})}},
       "!message\nfix\ngame.viv\n",
       std::string(kFatal) + "patch-infofile syntax error\n",
       1,
       {}},
      {"no !message at all", {}, "game.viv\n", std::string(kFatal) + "patch-infofile syntax error\n", 1, {}},
      {"an SHPI member whose reference is none, after a member was kept",
       {{"game.viv", bigf({{"a.txt", text("World")}, {"pics.fsh", shpi({{"aaaa", picture(1)}})}, padding()})},
        {"ref/game.viv", bigf({{"a.txt", text("Hello")}, {"pics.fsh", filler(40, 2)}, padding()})}},
       kInfo,
       "scanning original file '.\\game.viv'\n'.\\game.viv\\a.txt' size 5 added\n" + std::string(kFatal) +
           "SHPI-file mismatch .\\game.viv\\pics.fsh and ref\\game.viv\\pics.fsh\n",
       1,
       {}},
  };
  for (const Scene& s : scenes) runscene(s);

  TempDir dir;
  const test::RunResult r = test::runtorvex({"-makepatch", "nothere.txt", "p.viv", "ref"}, dir.path());
  EXPECT_EQ(r.out, std::string(kFatal) + "couldn't open patch-infofile 'nothere.txt'\n");
  EXPECT_EQ(r.status, 1);
}

// The reference folder as a user types it: with or without a separator.
TEST(MakePatch, ReferenceFolderWithOrWithoutSeparator) {
  std::vector<Bytes> patches;
  for (const char* ref : {"ref", "ref/", "ref\\"}) {
    SCOPED_TRACE(ref);
    TempDir dir;
    fs::create_directory(dir / "ref");
    test::writebytes(dir / "game.viv", bigf({{"a.txt", text("World")}, padding()}));
    test::writebytes(dir / "ref" / "game.viv", bigf({{"a.txt", text("Hello")}, padding()}));
    test::writetext(dir / "info.txt", kInfo);
    const test::RunResult r = test::runtorvex({"-makepatch", "info.txt", "p.viv", ref}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("1 different files/images\n"), std::string::npos) << r.out;
    patches.push_back(test::readbytes(dir / "p.viv"));
  }
  EXPECT_EQ(patches[1], patches[0]);
  EXPECT_EQ(patches[2], patches[0]);
}

// The layout of both packs, byte for byte, from the table: exact member
// lengths, data padded to 4, the message last and its padding not counted.
TEST(MakePatch, PatchLayoutBytes) {
  TempDir dir;
  fs::create_directory(dir / "ref");
  test::writebytes(dir / "game.viv", bigf({{"a.txt", text("World")}, {"new.dat", text("xyz")}, padding()}));
  test::writebytes(dir / "ref" / "game.viv", bigf({{"a.txt", text("Hello")}, padding()}));
  test::writetext(dir / "info.txt", "!message\nHello\nWorld\n!message\ngame.viv\n");
  const test::RunResult r = test::runtorvex({"-makepatch", "info.txt", "p.viv", "ref"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  const Bytes perfile = {
      'B', 'I', 'G', 'F', 0, 0, 0, 60, 0, 0, 0, 2, 0, 0, 0, 48,  // total 60, 2 entries, header 16 + 14 + 16 -> 48
      0, 0, 0, 48, 0, 0, 0, 5, 'a', '.', 't', 'x', 't', 0,       // the exact length 5 ...
      0, 0, 0, 56, 0, 0, 0, 3, 'n', 'e', 'w', '.', 'd', 'a', 't', 0,  // ... while the offsets step by 8
      0, 0,                                                      // header padding
      'W', 'o', 'r', 'l', 'd', 0, 0, 0,                          //
      'x', 'y', 'z', 0};
  Bytes patch = {
      'B', 'I', 'G', 'F', 0, 0, 0, 126, 0, 0, 0, 2, 0, 0, 0, 56,  // total 56 + 60 + 10: no padding after the message
      0, 0, 0, 56, 0, 0, 0, 60, 'g', 'a', 'm', 'e', '.', 'v', 'i', 'v', 0,             //
      0, 0, 0, 116, 0, 0, 0, 10, '#', 'R', 'E', 'A', 'D', 'M', 'E', '.', 'T', 'X', 'T', 0,  //
      0, 0, 0};                                                   // header 16 + 17 + 20 -> 56
  patch.insert(patch.end(), perfile.begin(), perfile.end());
  for (char c : std::string("HelloWorld")) patch.push_back(static_cast<uint8_t>(c));
  patch.insert(patch.end(), {0, 0});
  EXPECT_EQ(test::readbytes(dir / "p.viv"), patch);
  const test::RunResult list = test::runtorvex({"-l", "p.viv"}, dir.path());
  EXPECT_EQ(list.out, "pack file 'p.viv' opened\nDirectory 'p.viv'\n      10 #README.TXT\n      60 game.viv\n");
}

// Temporary files are made only under names no file has, in the current
// folder whatever a member's name says, and a member keeps its name.
TEST(MakePatch, TemporaryFilesNeverTakeAUsersFileOrLeaveTheFolder) {
  TempDir top;
  const fs::path dir = top / "work";
  fs::create_directories(dir / "ref");
  const std::vector<Member> members = {
      {"..\\up.dat", text("up")}, {"a.txt", text("World")}, {"c:\\abs.dat", text("abs")}, {"sub/x.dat", text("x")},
      padding()};
  test::writebytes(dir / "game.viv", bigf(members));
  test::writebytes(dir / "ref" / "game.viv", bigf({{"a.txt", text("Hello")}, padding()}));
  test::writetext(dir / "info.txt", kInfo);
  // A user's files under the names the first temporary files would take.
  test::writetext(dir / ".._up.dat#0000.tmp", "mine");
  test::writetext(dir / "game.viv#1000.tmp", "mine too");
  test::RunResult r = test::runtorvex({"-makepatch", "info.txt", "p.viv", "ref"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.find(kFatal)), std::string(kFatal) + "couldn't open 'game.viv#1000.tmp' for writing\n");
  EXPECT_EQ(test::readbytes(dir / ".._up.dat#0000.tmp"), text("mine"));
  EXPECT_EQ(test::readbytes(dir / "game.viv#1000.tmp"), text("mine too"));
  EXPECT_FALSE(fs::exists(dir / "p.viv"));

  fs::remove(dir / "game.viv#1000.tmp");
  r = test::runtorvex({"-makepatch", "info.txt", "p.viv", "ref"}, dir);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::readbytes(dir / ".._up.dat#0000.tmp"), text("mine"));
  EXPECT_EQ(filesbelow(top.path()), (std::vector<std::string>{"work/.._up.dat#0000.tmp", "work/game.viv",
                                                              "work/info.txt", "work/p.viv", "work/ref/game.viv"}));
  const auto outer = packtest::bigfmembers(test::readbytes(dir / "p.viv"));
  ASSERT_TRUE(outer);
  const auto kept = packtest::bigfmembers(outer->front().bytes);
  ASSERT_TRUE(kept);
  std::vector<Member> expected(members.begin(), members.end() - 1);
  std::sort(expected.begin(), expected.end(), [](const Member& a, const Member& b) { return a.name < b.name; });
  std::vector<Member> got = *kept;
  std::sort(got.begin(), got.end(), [](const Member& a, const Member& b) { return a.name < b.name; });
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace torvex
