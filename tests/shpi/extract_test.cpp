// The picture extraction commands end to end: every picture type to every
// writable format, read back by Pillow; name selection; plain members; the
// fatal cases; SHPI files inside packs and stored compressed.
#include <gtest/gtest.h>

#include "records.h"
#include "support.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::record;
using test::RunResult;

using test::havepillow;

// Pillow's reading of each file as RGBA bytes (alpha 255 where the file
// carries none), written beside it as <file>.rgba, and its size as
// <file>.size.
void pillowdump(const test::TempDir& dir, const std::vector<std::string>& files) {
  std::string script = "from PIL import Image\n";
  for (const std::string& f : files)
    script += "im = Image.open('" + f + "')\nopen('" + f + ".rgba', 'wb').write(im.convert('RGBA').tobytes())\nopen('" +
              f + ".size', 'w').write('%dx%d' % im.size)\n";
  const RunResult r = test::runpython(script, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
}

std::string readtext(const test::fs::path& p) {
  const ByteVec b = test::readbytes(p);
  return std::string(b.begin(), b.end());
}

// Four colours that every format keeps exactly.
const ByteVec kPalette = record(0x24, 0, 4, 1, {255, 0, 0, 0, 255, 0, 0, 0, 255, 48, 32, 16});
const ByteVec kIndexedRgba = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 48, 32, 16, 255};

struct TypeCase {
  const char* name;  // also the record's name
  ByteVec rec;
  ByteVec rgba;      // the four pixels as they must come back, 2 x 2
};

// Each picture type holding 2 x 2 pixels, stored by the layout table, and
// the colours they stand for.
std::vector<TypeCase> typecases() {
  return {
      {"t40", test::withattachment(record(0x40, 0, 2, 2, {0x10, 0x32, 0, 0}), kPalette), kIndexedRgba},
      {"t41", test::withattachment(record(0x41, 0, 2, 2, {0, 1, 2, 3}), kPalette), kIndexedRgba},
      {"t7B", test::withattachment(record(0x7B, 0, 2, 2, {0, 1, 2, 3}), kPalette), kIndexedRgba},
      {"t7C", test::withattachment(record(0x7C, 0, 2, 2, {0, 1, 2, 3}), kPalette), kIndexedRgba},
      {"t7D", record(0x7D, 0, 2, 2, {0, 0, 255, 255, 0, 255, 0, 128, 255, 0, 0, 0, 16, 32, 48, 255}),
       {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 48, 32, 16, 255}},
      {"t6D", record(0x6D, 0, 2, 2, {0xF0, 0xF0, 0x0F, 0x80, 0x00, 0x0F, 0x12, 0xF3}),
       {240, 0, 0, 240, 0, 240, 0, 128, 0, 0, 240, 0, 16, 32, 48, 240}},
      {"t7E", record(0x7E, 0, 2, 2, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x21, 0x84}),
       {248, 0, 0, 255, 0, 248, 0, 255, 0, 0, 248, 255, 8, 8, 8, 255}},
      {"t78", record(0x78, 0, 2, 2, {0x00, 0xF8, 0xC0, 0x07, 0x1F, 0x00, 0x41, 0x08}),
       {248, 0, 0, 255, 0, 248, 0, 255, 0, 0, 248, 255, 8, 8, 8, 255}},
      {"t7F", record(0x7F, 0, 2, 2, {0, 0, 255, 0, 255, 0, 255, 0, 0, 16, 32, 48}),
       {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 48, 32, 16, 255}},
  };
}

ByteVec everytypefile() {
  std::vector<std::pair<std::string, ByteVec>> records;
  for (const TypeCase& c : typecases()) records.push_back({c.name, c.rec});
  return test::shpifile("GIMX", records);
}

bool truecolourwithalpha(const std::string& name) { return name == "t7D" || name == "t6D"; }

TEST(ExtractPictures, EveryTypeToEveryWritableFormat) {
  if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
  // PCX and GIF hold 256 colours: truecolour pictures come back through
  // the quantizer, near their colours rather than exactly.
  struct Format {
    const char* word;
    const char* extension;
    bool keepsalpha;
    bool exact;
  } formats[] = {{"-epng", "png", true, true},   {"-e", "png", true, true},     {"-extract", "png", true, true},
                 {"-ebmp", "bmp", false, true},  {"-epcx", "pcx", false, false}, {"-egif", "gif", false, false},
                 {"-extractpng", "png", true, true}};
  for (const Format& f : formats) {
    SCOPED_TRACE(f.word);
    test::TempDir dir;
    test::writebytes(dir / "all.fsh", everytypefile());
    const RunResult r = test::runtorvex({f.word, "all.fsh"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> files;
    for (const TypeCase& c : typecases()) files.push_back(std::string(c.name) + "." + f.extension);
    pillowdump(dir, files);
    for (const TypeCase& c : typecases()) {
      SCOPED_TRACE(c.name);
      const std::string file = std::string(c.name) + "." + f.extension;
      EXPECT_NE(r.out.find(std::string(c.name) + " 2*2 (GIMX)"), std::string::npos);
      EXPECT_EQ(readtext(dir / (file + ".size")), "2x2");
      ByteVec expected = c.rgba;
      if (!f.keepsalpha || !truecolourwithalpha(c.name))
        for (size_t i = 3; i < expected.size(); i += 4) expected[i] = 255;
      const ByteVec got = test::readbytes(dir / (file + ".rgba"));
      const bool indexed = c.name[1] == '4' || c.name[2] == 'B' || c.name[2] == 'C';
      if (f.exact || indexed) {
        EXPECT_EQ(got, expected);
      } else {
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 12) << "byte " << i;
      }
    }
  }
}

TEST(ExtractPictures, TransparentPaletteEntrySurvivesInPng) {
  if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
  test::TempDir dir;
  // Last entry of the 8-bit palette is magenta: the transparent colour.
  const ByteVec pal = record(0x24, 0, 2, 1, {10, 20, 30, 255, 0, 255});
  test::writebytes(dir / "t.fsh", test::shpifile("GIMX", {{"spot", test::withattachment(record(0x7B, 0, 2, 1, {0, 1, 0, 0}), pal)}}));
  const RunResult r = test::runtorvex({"-epng", "t.fsh"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  pillowdump(dir, {"spot.png"});
  EXPECT_EQ(test::readbytes(dir / "spot.png.rgba"), (ByteVec{10, 20, 30, 255, 255, 0, 255, 0}));
}

TEST(ExtractPictures, NamesSelectPicturesWhateverTheirCase) {
  test::TempDir dir;
  test::writebytes(dir / "all.fsh", everytypefile());
  const RunResult r = test::runtorvex({"-epng", "all.fsh", "T7d", "t41", "nosuch"}, dir.path());
  ASSERT_EQ(r.status, 1) << r.out;  // a name that matches nothing is reported
  EXPECT_EQ(r.out, "pack file 'all.fsh' opened\n      48 t41 2*2 (GIMX)\n      32 t7D 2*2 (GIMX)\n"
                   "couldn't find 'nosuch' inside 'all.fsh'\n");
  EXPECT_TRUE(test::fs::exists(dir / "t7D.png"));
  EXPECT_TRUE(test::fs::exists(dir / "t41.png"));
  EXPECT_FALSE(test::fs::exists(dir / "t7B.png"));
}

TEST(ExtractPictures, ListingShowsPicturesWithSizeAndLabel) {
  test::TempDir dir;
  test::writebytes(dir / "t.fsh", test::shpifile("GIMX", {{"!pal", record(0x24, 0, 1, 1, {1, 2, 3})},
                                                         {"logo", record(0x7B, 0, 2, 1, {0, 0, 0, 0})}}));
  const RunResult r = test::runtorvex({"-l", "t.fsh"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pack file 't.fsh' opened\nDirectory 't.fsh'\n      20 !pal\n      20 logo 2*1 (GIMX)\n");
}

TEST(ExtractPictures, PlainMembersAreNotImages) {
  test::TempDir dir;
  const ByteVec shpi = test::shpifile("LN32", {{"pic", record(0x7B, 0, 1, 1, {0, 0, 0, 0})}});
  test::writebytes(dir / "pack.viv", test::bigf({{"notes.txt", {'h', 'i'}}, {"other.fsh", shpi}}));
  RunResult r = test::runtorvex({"-e", "pack.viv"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pack file 'pack.viv' opened\n       2 notes.txt\nNot an image file!\n      44 other.fsh\nNot an image file!\n");
  // Records of a file whose directory id is not a picture id are data too.
  r = test::runtorvex({"-epng", "pack.viv\\other.fsh"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pack file 'pack.viv' opened\n      20 pic\nNot an image file!\n");
  EXPECT_EQ(std::distance(test::fs::directory_iterator(dir.path()), test::fs::directory_iterator{}), 1);
}

TEST(ExtractPictures, FatalCases) {
  struct Case {
    const char* what;
    ByteVec file;
    const char* word;
    const char* text;
  } cases[] = {
      {"claims 64 x 64 and holds 4 bytes", test::shpifile("GIMX", {{"big", record(0x7B, 0, 64, 64, {1, 2, 3, 4})}}), "-epng",
       "-- 'big' is corrupt or not an image or has unknown format\n"},
      {"no picture type", test::shpifile("GIMX", {{"odd", record(0x22, 0, 1, 1, {1, 2, 3})}}), "-epng",
       "-- 'odd' is corrupt or not an image or has unknown format\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    test::writebytes(dir / "t.fsh", c.file);
    const RunResult r = test::runtorvex({c.word, "t.fsh"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Fatal Error\n***********\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
  }
  // The output file cannot be created: a folder of that name is in the way.
  test::TempDir dir;
  test::writebytes(dir / "t.fsh", test::shpifile("GIMX", {{"pic", record(0x7F, 0, 1, 1, {1, 2, 3})}}));
  test::fs::create_directory(dir / "pic.png");
  const RunResult r = test::runtorvex({"-epng", "t.fsh"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("-- image 'pic' write failed\n"), std::string::npos) << r.out;
}

// A picture file is named after its record: a name that leads out of the
// current folder is refused like any other member's.
TEST(ExtractPictures, NamesLeadingOutsideTheFolderAreRefused) {
  test::TempDir dir;
  test::fs::create_directory(dir / "work");
  const ByteVec pic = test::withattachment(record(0x7B, 0, 2, 2, {0, 1, 2, 3}), kPalette);
  test::writebytes(dir / "work" / "all.fsh", test::shpifile("GIMX", {{"../x", pic}, {"ok", pic}}));
  const RunResult r = test::runtorvex({"-epng", "all.fsh"}, dir / "work");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("refused to write '../x': the name leads outside the current folder\n"), std::string::npos)
      << r.out;
  EXPECT_FALSE(test::fs::exists(dir / "x.png"));
  EXPECT_TRUE(test::fs::exists(dir / "work" / "ok.png"));
}

TEST(ExtractPictures, FromAnShpiFileInsideAPackStoredCompressed) {
  if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
  test::TempDir dir;
  const ByteVec shpi = everytypefile();
  test::writebytes(dir / "pack.viv", test::bigf({{"a.qfs", test::fbliteral(shpi)}, {"b.fsh", shpi}}));
  for (const char* member : {"a.qfs", "b.fsh"}) {
    SCOPED_TRACE(member);
    RunResult r = test::runtorvex({"-l", std::string("pack.viv\\") + member}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("      32 t7D 2*2 (GIMX)\n"), std::string::npos) << r.out;
    r = test::runtorvex({"-epng", std::string("PACK.viv\\") + member, "t7d"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    pillowdump(dir, {"t7D.png"});
    EXPECT_EQ(test::readbytes(dir / "t7D.png.rgba"), typecases()[4].rgba);
    test::fs::remove(dir / "t7D.png");
  }
}

}  // namespace
}  // namespace torvex

namespace torvex {
namespace {

// An SHPI file whose header promises 200 bytes more than the file holds:
// its last record in stored order ("aaaa", listed before "pict") seems to reach
// beyond the end. Every record that lies inside is still listed and
// extracted, the other is named with a warning (status 1); a command that
// rewrites the file still refuses it.
TEST(ExtractPictures, ATotalBeyondTheFileHidesOnlyTheRecordsOutside) {
  if (!havepillow()) GTEST_SKIP() << "Pillow is not installed";
  test::TempDir dir;
  ByteVec file = test::shpifile("GIMX", {{"!pal", kPalette},
                                         {"pict", record(0x7B, 0, 2, 2, {0, 1, 2, 3})},
                                         {"aaaa", record(0x7F, 0, 1, 1, {9, 8, 7})}});
  test::put32(file, 4, static_cast<uint32_t>(file.size() + 200));
  test::writebytes(dir / "long.fsh", file);

  const RunResult l = test::runtorvex({"-l", "long.fsh"}, dir.path());
  EXPECT_EQ(l.status, 1);
  EXPECT_EQ(l.out,
            "pack file 'long.fsh' opened\nDirectory 'long.fsh'\n      28 !pal\n"
            "WARNING: 'aaaa' lies outside the SHPI file (offset 88, size 219, file 107 bytes), skipped\n"
            "      20 pict 2*2 (GIMX)\n");

  const RunResult e = test::runtorvex({"-epng", "long.fsh"}, dir.path());
  EXPECT_EQ(e.status, 1);
  EXPECT_NE(e.out.find("WARNING: 'aaaa' lies outside the SHPI file"), std::string::npos) << e.out;
  EXPECT_FALSE(test::fs::exists(dir / "aaaa.png"));
  pillowdump(dir, {"pict.png"});
  EXPECT_EQ(test::readbytes(dir / "pict.png.rgba"), kIndexedRgba);

  // The picture's palette record is the one outside: the picture is named
  // and skipped rather than shown in the wrong colours.
  ByteVec palettelast = test::shpifile("GIMX", {{"pict", record(0x7B, 0, 2, 2, {0, 1, 2, 3})}, {"!pal", kPalette}});
  test::put32(palettelast, 4, static_cast<uint32_t>(palettelast.size() + 4));
  test::writebytes(dir / "pal.fsh", palettelast);
  const RunResult p = test::runtorvex({"-epng", "pal.fsh", "pict"}, dir.path());
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.out.find("WARNING: 'pict' needs '!pal', which lies outside the SHPI file, skipped\n"), std::string::npos)
      << p.out;

  test::writebytes(dir / "new.txt", ByteVec{'n', 'o'});
  const RunResult r = test::runtorvex({"-r", "long.fsh", "new.txt", "pict"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("lies outside its container"), std::string::npos) << r.out;
  EXPECT_EQ(test::readbytes(dir / "long.fsh"), file);
}

}  // namespace
}  // namespace torvex

namespace torvex {
namespace {

// "-ejpg" (and its long form) writes JPEG files that Pillow reads as the
// picture, within what the coding loses on a smooth picture.
TEST(ExtractPictures, JpegFilesOfASmoothPicture) {
  if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
  ByteVec bgr;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) bgr.insert(bgr.end(), {static_cast<uint8_t>(200 - 4 * y), static_cast<uint8_t>(60 + 8 * x), 90});
  for (const char* word : {"-ejpg", "-extractjpg"}) {
    SCOPED_TRACE(word);
    test::TempDir dir;
    test::writebytes(dir / "t.fsh", test::shpifile("GIMX", {{"sky", record(0x7F, 0, 16, 16, bgr)}}));
    const RunResult r = test::runtorvex({word, "t.fsh"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    pillowdump(dir, {"sky.jpg"});
    EXPECT_EQ(readtext(dir / "sky.jpg.size"), "16x16");
    const ByteVec got = test::readbytes(dir / "sky.jpg.rgba");
    ASSERT_EQ(got.size(), 16u * 16 * 4);
    int total = 0;
    for (size_t i = 0; i < 256; ++i)
      for (size_t k = 0; k < 3; ++k) total += std::abs(got[i * 4 + k] - bgr[i * 3 + 2 - k]);
    EXPECT_LT(total / (256 * 3), 3);
  }
}

}  // namespace
}  // namespace torvex
