// The replace and create commands, run end to end on SHPI files laid out
// from the byte tables and on the real sample files, with the new pictures
// written by Pillow and the remapped indices checked against a brute-force
// nearest-colour search.
#include <gtest/gtest.h>

#include "replacefixtures.h"
#include "torvex/shpi/replace.h"

namespace torvex::test {
namespace {

// ---- The border index ------------------------------------------------------------

TEST(BorderIndex, CountsRowsAndColumnsWithCornersTwice) {
  struct Case {
    const char* what;
    int w, h;
    std::vector<uint8_t> idx;
    int expected;
  };
  // 3x3: 12 samples, threshold (3+3)*2/3 = 4; corners are counted twice.
  const std::vector<Case> cases = {
      {"uniform border", 3, 3, {7, 7, 7, 7, 1, 7, 7, 7, 7}, 7},
      // Only the four corners are 9: 8 samples > 4, the edges' 2 samples of 3 are not.
      {"corners win", 3, 3, {9, 3, 9, 3, 0, 3, 9, 3, 9}, 9},
      // 4 samples of 2 are not more than the threshold 4.
      {"at the threshold", 3, 3, {1, 2, 1, 2, 0, 2, 1, 2, 1}, 1},
      {"no majority", 2, 2, {1, 2, 3, 4}, 0},
      {"one column", 1, 4, {8, 8, 8, 8}, 8},
      {"empty picture", 0, 0, {}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(borderindex(c.idx, c.w, c.h), c.expected) << c.what;
    if (c.w > 0) {
      EXPECT_EQ(bordercount(c.idx, c.w, c.h), c.expected) << c.what << " (independent count)";
    }
  }
}

// ---- Fixtures -------------------------------------------------------------------------

// The game palette of the hand-built files and the new pictures' palette.
const std::vector<Rgb> kGame = spreadpalette(1);
const std::vector<Rgb> kNew = spreadpalette(2);

// pics.fsh: ABCD a 64x64 0x7B picture framed by index `u` with `attached` as
// its palette attachment, EFGH a 2x2 0x7F picture, TEXT a data record.
ByteVec picsfile(uint8_t u, const ByteVec& attached, const ByteVec& text = {'n', 'o', 't', 'e', 's'}) {
  const std::vector<uint8_t> old = framedindices(64, 64, u, 3);
  const ByteVec picture = withattachment(record(0x7B, 0, 64, 64, ByteVec(old.begin(), old.end())), attached);
  const ByteVec truecolour = record(0x7F, 0, 2, 2, ByteVec(12, 0x33));
  return shpifile("GIMX", {{"ABCD", picture}, {"EFGH", truecolour}, {"TEXT", text}});
}

class ReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havepillow()) GTEST_SKIP() << "Pillow is not installed";
  }
  RunResult run(const std::vector<std::string>& args) { return runtorvex(args, dir.path()); }
  std::vector<ShpiRecord> records(const std::string& name) { return readshpi(readbytes(dir / name)); }

  TempDir dir;
};

// Checks that `lines` appear in `out` in this order.
void expectinorder(const std::string& out, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << out;
    at = found + line.size();
  }
}

TEST_F(ReplaceTest, SmallerPictureIsFittedToTheGamePaletteWithItsAttachmentAfterThePixels) {
  writebytes(dir / "pics.fsh", picsfile(5, palette24(kGame)));
  const std::vector<uint8_t> idx = framedindices(32, 32, 3);
  writepalettepng(dir, "new.png", 32, 32, kNew, idx);

  const RunResult r = run({"-r", "pics.fsh", "new.png", "ABCD"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"scanning original pack file\n", "reading data/image files..\n",
                        "Image:'new.png' Size:1024 W:32 H:32 BPP:8 SHPI:'ABCD' OSHPI:'ABCD'\n",
                        "creating new SHPI file 'pics.fsh'\n", "replacing image 'ABCD' with 'new.png' (32x32)\n",
                        "WARNING: size mismatch (orig 64x64, new 32x32)\n", "palettes are different, remapping...\n",
                        "copying EFGH TEXT \n", "copied 2, replaced 1 and added 0\n", "original was not compressed\n",
                        "pics.fsh successfully created\n"});

  const auto recs = records("pics.fsh");
  ASSERT_EQ(recs.size(), 3u);
  const ShpiRecord& abcd = recs[0];
  ASSERT_EQ(abcd.name, "ABCD");
  EXPECT_EQ(abcd.bytes[0], 0x7B);
  EXPECT_EQ(get24(abcd.bytes, 1), 1040u);
  EXPECT_EQ(get16(abcd.bytes, 4), 32u);
  EXPECT_EQ(get16(abcd.bytes, 6), 32u);
  // The attachment follows the pixels and keeps the game's colours.
  const ByteVec attached(abcd.bytes.begin() + 1040, abcd.bytes.end());
  EXPECT_EQ(attached, palette24(kGame));
  // u = 5 (the old frame), v = 3 (the new frame): the frame becomes 5, every
  // other index the entry the brute-force search picks, never 5.
  ByteVec shown;  // the colours the game shows for the stored indices
  for (size_t i = 0; i < idx.size(); ++i) {
    const int expected = idx[i] == 3 ? 5 : nearestentry(kGame, 5, kNew[idx[i]]);
    ASSERT_EQ(abcd.bytes[16 + i], expected) << "pixel " << i;
    for (int v : kGame[static_cast<size_t>(expected)]) shown.push_back(static_cast<uint8_t>(v));
  }
  // Extracted again as PNG, Pillow sees those colours.
  fs::create_directory(dir / "out");
  ASSERT_EQ(runtorvex({"-epng", (dir / "pics.fsh").string(), "ABCD"}, dir / "out").status, 0);
  python(dir, "from PIL import Image\nopen('back.rgb','wb').write(Image.open('out/ABCD.png').convert('RGB').tobytes())\n");
  EXPECT_EQ(readbytes(dir / "back.rgb"), shown);
  EXPECT_EQ(recs[1].name, "EFGH");
  EXPECT_EQ(recs[2].name, "TEXT");
  EXPECT_EQ(recs[2].bytes, (ByteVec{'n', 'o', 't', 'e', 's'}));
}

TEST_F(ReplaceTest, IdenticalPalettesLeaveTheIndicesAlone) {
  writebytes(dir / "pics.fsh", picsfile(5, palette24(kGame)));
  const std::vector<uint8_t> idx = framedindices(64, 64, 3);
  writepalettepng(dir, "same.png", 64, 64, kGame, idx);

  const RunResult r = run({"-r", "pics.fsh", "same.png", "ABCD"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("remapping"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("size mismatch"), std::string::npos) << r.out;
  const auto abcdrecs = records("pics.fsh");
  const ShpiRecord* abcd = findrecord(abcdrecs, "ABCD");
  ASSERT_TRUE(abcd);
  EXPECT_EQ(ByteVec(abcd->bytes.begin() + 16, abcd->bytes.begin() + 16 + 4096), ByteVec(idx.begin(), idx.end()));
}

// A 0x2A attachment stores alpha: entry 5 (the old frame) and entries 10-19
// transparent, the rest half transparent.
ByteVec palette2a() {
  ByteVec body;
  for (int i = 0; i < 256; ++i) {
    const uint8_t alpha = i == 5 || (i >= 10 && i < 20) ? 0 : 128;
    body.insert(body.end(), {static_cast<uint8_t>(kGame[i][2]), static_cast<uint8_t>(kGame[i][1]),
                             static_cast<uint8_t>(kGame[i][0]), alpha});
  }
  return record(0x2A, 0, 256, 1, body);
}

TEST_F(ReplaceTest, TransparencyDecidesTheFrameAndTheAlphas) {
  for (const bool notrans : {false, true}) {
    SCOPED_TRACE(notrans ? "-notrans" : "transparency on");
    writebytes(dir / "pics.fsh", picsfile(5, palette2a()));
    const std::vector<uint8_t> idx = framedindices(32, 32, 3);
    writepalettepng(dir, "new.png", 32, 32, kNew, idx);
    std::vector<std::string> args = {"-r", "pics.fsh", "new.png", "ABCD"};
    if (notrans) args.insert(args.begin(), "-notrans");
    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.out;

    const auto abcdrecs = records("pics.fsh");
    const ShpiRecord* abcd = findrecord(abcdrecs, "ABCD");
    ASSERT_TRUE(abcd);
    for (size_t i = 0; i < idx.size(); ++i) {
      const int expected = !notrans && idx[i] == 3 ? 5 : nearestentry(kGame, 5, kNew[idx[i]]);
      ASSERT_EQ(abcd->bytes[16 + i], expected) << "pixel " << i;
    }
    // All 256 entries of the palette come back, colours unchanged.
    ASSERT_EQ(abcd->bytes.size(), 1040u + 16 + 1024);
    for (int k = 0; k < 256; ++k) {
      const uint8_t* e = &abcd->bytes[1040 + 16 + 4 * k];
      ASSERT_EQ(e[0], kGame[k][2]);
      ASSERT_EQ(e[2], kGame[k][0]);
      const int expected = notrans ? 255 : (k == 5 || (k >= 10 && k < 20)) ? 0 : 255;
      ASSERT_EQ(e[3], expected) << "alpha of entry " << k;
    }
  }
}

TEST_F(ReplaceTest, NewPaletteModeExchangesTheBorderIndices) {
  writebytes(dir / "pics.fsh", picsfile(0, palette24(kGame)));
  const std::vector<uint8_t> idx = framedindices(32, 32, 5);
  writepalettepng(dir, "new.png", 32, 32, kNew, idx);

  const RunResult r = run({"-rp", "pics.fsh", "new.png", "ABCD"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"WARNING: size mismatch (orig 64x64, new 32x32)\n", "creating new palette\n"});
  EXPECT_EQ(r.out.find("remapping"), std::string::npos);

  const auto abcdrecs = records("pics.fsh");
  const ShpiRecord* abcd = findrecord(abcdrecs, "ABCD");
  ASSERT_TRUE(abcd);
  for (size_t i = 0; i < idx.size(); ++i) {
    const int expected = idx[i] == 5 ? 0 : idx[i] == 0 ? 5 : idx[i];
    ASSERT_EQ(abcd->bytes[16 + i], expected) << "pixel " << i;
  }
  std::vector<Rgb> written = kNew;
  std::swap(written[0], written[5]);
  EXPECT_EQ(ByteVec(abcd->bytes.begin() + 1040, abcd->bytes.end()), palette24(written));
}

// A BIGF pack, laid out from its table: big-endian header and directory.
ByteVec bigfpack(const std::vector<std::pair<std::string, ByteVec>>& members) {
  size_t header = 16;
  for (const auto& m : members) header += 8 + m.first.size() + 1;
  size_t total = header;
  for (const auto& m : members) total += m.second.size();
  ByteVec b = {'B', 'I', 'G', 'F'};
  auto be32 = [&b](size_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  };
  be32(total), be32(members.size()), be32(header);
  size_t at = header;
  for (const auto& m : members) {
    be32(at), be32(m.second.size());
    b.insert(b.end(), m.first.begin(), m.first.end());
    b.push_back(0);
    at += m.second.size();
  }
  for (const auto& m : members) append(b, m.second);
  return b;
}

TEST_F(ReplaceTest, ArgumentProblemsStopBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
    int status;
  };
  const std::vector<Case> cases = {
      // The name is checked before the file is opened: missing.png is never read.
      {{"-r", "pics.fsh", "missing.png", "ABCDE"}, "-- SHPI-name 'ABCDE' too long (>4)", 1},
      {{"-r", "pics.fsh", "missing.png", "ABCD"}, "-- couldn't open image 'missing.png'", 1},
      {{"-r", "pics.fsh", "missing.txt", "TEXT"}, "-- couldn't open data 'missing.txt'", 1},
      {{"-r", "pics.fsh", "new.png", "NEW"}, "-- expected original SHPI-name because 'NEW' not found", 1},
      {{"-c", "pics.fsh", "out.fsh", "new.png", "NEW", "ABCDE"}, "-- original SHPI name too long ('ABCDE')", 1},
      {{"-c", "pics.fsh", "out.fsh", "new.png", "NEW", "XYZ"}, "-- original SHPI name 'XYZ' not in pack file", 1},
      {{"-r", "pics.fsh", "new.png", "TEXT"}, "-- 'TEXT' is no picture record: the image 'new.png' can't take its place",
       1},
      {{"-r", "pics.fsh", "broken.png", "ABCD"}, "-- unsupported or corrupt image 'broken.png'", 1},
      // A pack is not rebuilt as an SHPI file.
      {{"-r", "plain.viv", "new.png", "ABCD"}, "-- 'plain.viv' is no SHPI file", 1},
      {{"-r", "pics.fsh", "new.png"}, "unknown command or not enough parameters", 2},
      {{"-c", "pics.fsh", "out.fsh", "new.png"}, "unknown command or not enough parameters", 2},
  };
  const ByteVec original = picsfile(5, palette24(kGame));
  writebytes(dir / "pics.fsh", original);
  writebytes(dir / "broken.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'});
  const ByteVec plain = bigfpack({{"ABCD", {1, 2, 3, 4}}});
  writebytes(dir / "plain.viv", plain);
  writepalettepng(dir, "new.png", 8, 8, kNew, framedindices(8, 8, 1));
  for (const Case& c : cases) {
    const RunResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("creating new SHPI file"), std::string::npos) << r.out;
    EXPECT_EQ(readbytes(dir / "pics.fsh"), original) << c.message;
    EXPECT_FALSE(fs::exists(dir / "out.fsh")) << c.message;
    EXPECT_EQ(readbytes(dir / "plain.viv"), plain) << c.message;
  }
}

// A picture that cannot be read stops the command before anything is
// written, with the file and the reason (no blank picture stands in for
// it); one cut inside its pixels is used as far as it goes, with a warning.
TEST_F(ReplaceTest, UnreadablePicturesStopAndCutOnesWarn) {
  const ByteVec original = picsfile(5, palette24(kGame));
  python(dir, R"(from PIL import Image
im = Image.new('RGB', (40, 30))
im.putdata([((x * 7) % 256, (y * 9) % 256, (x * y) % 256) for y in range(30) for x in range(40)])
im.save('whole.png')
im.save('whole.gif')
im.save('whole.bmp')
im.save('whole.ppm')
im.save('twoplanes.pcx')
def cut(name, out, keep):
    data = open(name, 'rb').read()
    open(out, 'wb').write(data[:keep(len(data))])
cut('whole.png', 'head.png', lambda n: 20)
cut('whole.bmp', 'head.bmp', lambda n: 30)
cut('whole.png', 'cut.png', lambda n: n * 2 // 3)
cut('whole.gif', 'cut.gif', lambda n: n * 2 // 3)
b = bytearray(open('whole.bmp', 'rb').read()); b[30] = 4; open('jpegcoded.bmp', 'wb').write(b)
p = bytearray(open('twoplanes.pcx', 'rb').read()); p[65] = 2; open('twoplanes.pcx', 'wb').write(p)
# a screen descriptor and the trailer: no image at all
open('noimage.gif', 'wb').write(b'GIF89a' + bytes([1, 0, 1, 0, 0, 0, 0]) + b';')
)");
  ASSERT_EQ(runshell("cjpeg whole.ppm > whole.jpg && ppmtoilbm whole.ppm > whole.iff", dir.path()).status, 0);
  python(dir, R"(
data = open('whole.jpg', 'rb').read(); open('cut.jpg', 'wb').write(data[:len(data) * 2 // 3])
data = open('whole.iff', 'rb').read(); open('nobody.iff', 'wb').write(data[:data.index(b'BODY')])
)");
  const struct {
    const char* file;
    const char* reason;
  } refused[] = {
      {"head.png", "the PNG header is damaged or cut short"},
      {"head.bmp", "the file ends inside its header or palette"},
      {"jpegcoded.bmp", "BMP of 24 bits with coding 4 is not supported"},
      {"twoplanes.pcx", "PCX of 8 bits in 2 planes is not supported"},
      {"noimage.gif", "the file holds no image"},
      {"nobody.iff", "the file holds no picture (no BODY chunk)"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.file);
    writebytes(dir / "pics.fsh", original);
    const RunResult r = run({"-r", "pics.fsh", c.file, "ABCD"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(std::string("-- unsupported or corrupt image '") + c.file + "': " + c.reason + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("creating new SHPI file"), std::string::npos) << r.out;
    EXPECT_EQ(readbytes(dir / "pics.fsh"), original);
  }
  for (const char* file : {"cut.png", "cut.gif", "cut.jpg"}) {
    SCOPED_TRACE(file);
    writebytes(dir / "pics.fsh", original);
    const RunResult r = run({"-r", "pics.fsh", file, "ABCD"});
    EXPECT_EQ(r.status, 0) << r.out;
    expectinorder(r.out, {std::string("WARNING: image '") + file + "' ends early or is damaged", "successfully created"});
  }
  writebytes(dir / "pics.fsh", original);
  const RunResult whole = run({"-r", "pics.fsh", "whole.jpg", "ABCD"});
  EXPECT_EQ(whole.status, 0) << whole.out;
  EXPECT_EQ(whole.out.find("WARNING: image"), std::string::npos) << whole.out;
}

TEST_F(ReplaceTest, NewRecordTakesItsTemplatesPlaceAndTheTemplateIsDropped) {
  writebytes(dir / "pics.fsh", picsfile(5, palette24(kGame)));
  writepalettepng(dir, "new.png", 32, 32, kGame, framedindices(32, 32, 5));

  const RunResult r = run({"-c", "pics.fsh", "out.fsh", "new.png", "NEW", "abcd"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"Image:'new.png' Size:1024 W:32 H:32 BPP:8 SHPI:'NEW' OSHPI:'abcd'\n",
                        "creating new SHPI file 'out.fsh'\n", "adding 'NEW' (32x32)\n", "copying EFGH TEXT \n",
                        "copied 2, replaced 0 and added 1\n", "out.fsh successfully created\n"});
  const auto recs = records("out.fsh");
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0].name, "NEW");
  EXPECT_EQ(recs[0].bytes[0], 0x7B);
  EXPECT_EQ(recs[1].name, "EFGH");
  EXPECT_EQ(recs[2].name, "TEXT");
  EXPECT_EQ(readbytes(dir / "pics.fsh"), picsfile(5, palette24(kGame)));  // -c leaves the original alone
}

TEST_F(ReplaceTest, DataFileReplacesARecordByteForByte) {
  writebytes(dir / "pics.fsh", picsfile(5, palette24(kGame)));
  const ByteVec data = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
  writebytes(dir / "note.txt", data);

  const RunResult r = run({"-r", "pics.fsh", "note.txt", "efgh"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"Data:'note.txt' Size:11 SHPI:'efgh' OSHPI:'efgh'\n", "copying ABCD \n",
                        "replacing 'EFGH' with 'note.txt'\n", "copying TEXT \n", "copied 2, replaced 1 and added 0\n"});
  const auto recs = records("pics.fsh");
  const ShpiRecord* efgh = findrecord(recs, "EFGH");  // the stored spelling is kept
  ASSERT_TRUE(efgh);
  ByteVec padded = data;
  padded.push_back(0);
  EXPECT_EQ(efgh->bytes, padded);
}

// A write that fails part way (here the file size limit stands in for a
// full disk) must leave the file being rebuilt as it was, and no partly
// written file behind.
TEST_F(ReplaceTest, FailedWriteKeepsTheOriginalFile) {
  const ByteVec original = picsfile(5, palette24(kGame));
  ASSERT_GT(original.size(), 2048u);
  writebytes(dir / "pics.fsh", original);
  writebytes(dir / "note.txt", {'h', 'i'});

  const RunResult r = runtorvex({"-r", "pics.fsh", "note.txt", "efgh"}, dir.path(), 1024);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("couldn't write 'pics.fsh'"), std::string::npos) << r.out;
  EXPECT_EQ(readbytes(dir / "pics.fsh"), original);
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_TRUE(e.path().filename() == "pics.fsh" || e.path().filename() == "note.txt") << e.path();
}

TEST_F(ReplaceTest, CreateWordsChooseCompressionAndPalette) {
  struct Case {
    std::string word;
    bool compressed;
    bool newpalette;
  };
  const std::vector<Case> cases = {{"-c", false, false}, {"-cp", false, true}, {"-c1", true, false}, {"-C1P", true, true}};
  // Records of whole words, so the store encoder takes the file.
  writebytes(dir / "pics.fsh", picsfile(0, palette24(kGame), {'n', 'o', 't', 'e', 's', ' ', 'o', 'k'}));
  const std::vector<uint8_t> idx = framedindices(32, 32, 5);
  writepalettepng(dir, "new.png", 32, 32, kNew, idx);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    fs::remove(dir / "out.fsh");
    fs::remove(dir / "plain.fsh");
    const RunResult r = run({c.word, "pics.fsh", "out.fsh", "new.png", "ABCD"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("creating new palette") != std::string::npos, c.newpalette) << r.out;
    EXPECT_EQ(r.out.find("remapping") != std::string::npos, !c.newpalette) << r.out;
    const ByteVec out = readbytes(dir / "out.fsh");
    ASSERT_GE(out.size(), 4u);
    ByteVec plain = out;
    if (c.compressed) {
      ASSERT_EQ(out[0], 0x10);
      ASSERT_EQ(out[1], 0xFB);
      ASSERT_EQ(run({"-decompress", "out.fsh", "plain.fsh"}).status, 0);
      plain = readbytes(dir / "plain.fsh");
    }
    const auto recs = readshpi(plain);
    const ShpiRecord* abcd = findrecord(recs, "ABCD");
    ASSERT_TRUE(abcd);
    for (size_t i = 0; i < idx.size(); ++i) {
      const int expected = c.newpalette ? (idx[i] == 5 ? 0 : idx[i] == 0 ? 5 : idx[i])
                           : idx[i] == 5 ? 0
                                         : nearestentry(kGame, 0, kNew[idx[i]]);
      ASSERT_EQ(abcd->bytes[16 + i], expected) << "pixel " << i;
    }
  }
}

// Far more records and inputs than the old fixed tables held (10,000 and 256).
TEST_F(ReplaceTest, ManyRecordsAndInputs) {
  constexpr int kRecords = 10050, kInputs = 300;
  auto name = [](int i) {
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    return std::string{'r', digits[i / 1296 % 36], digits[i / 36 % 36], digits[i % 36]};
  };
  std::vector<std::pair<std::string, ByteVec>> recs;
  for (int i = 0; i < kRecords; ++i) recs.push_back({name(i), {static_cast<uint8_t>(i), 0, 0, 0}});
  writebytes(dir / "many.fsh", shpifile("DATA", recs));
  std::vector<std::string> args = {"-r", "many.fsh"};
  for (int k = 0; k < kInputs; ++k) {
    const std::string file = "in" + std::to_string(k) + ".dat";
    writebytes(dir / file, {'n', 'e', 'w', static_cast<uint8_t>(k)});
    args.push_back(file);
    args.push_back(name(k * 30));
  }
  const RunResult r = run(args);
  ASSERT_EQ(r.status, 0) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  EXPECT_NE(r.out.find("copied 9750, replaced 300 and added 0\n"), std::string::npos);
  // The progress line holds 14 names (74 columns, 5 each) before it wraps.
  EXPECT_NE(r.out.find("copying r001 r002 r003 r004 r005 r006 r007 r008 r009 r00a r00b r00c r00d r00e \n"
                       "        r00f "),
            std::string::npos);
  const auto back = records("many.fsh");
  ASSERT_EQ(back.size(), static_cast<size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_EQ(back[static_cast<size_t>(i)].name, name(i));
    const ByteVec expected = i % 30 == 0 && i / 30 < kInputs
                                 ? ByteVec{'n', 'e', 'w', static_cast<uint8_t>(i / 30)}
                                 : ByteVec{static_cast<uint8_t>(i), 0, 0, 0};
    ASSERT_EQ(back[static_cast<size_t>(i)].bytes, expected) << name(i);
  }
}

TEST_F(ReplaceTest, SuppliedPaletteFileIsThePaletteToFitTo) {
  // No attachment and no palette record: only the "-pal" file has colours.
  const std::vector<uint8_t> old = framedindices(16, 16, 2);
  const ByteVec bare = shpifile("GIMX", {{"pic1", record(0x7B, 0, 16, 16, ByteVec(old.begin(), old.end()))}});
  const std::vector<Rgb> user = spreadpalette(9);
  writebytes(dir / "game.pal", palette24(user));
  const std::vector<uint8_t> idx = framedindices(16, 16, 7);
  writepalettepng(dir, "new.png", 16, 16, kNew, idx);

  struct Case {
    std::vector<std::string> args;
    std::string output;
    bool newpalette;
  };
  const std::vector<Case> cases = {
      {{"-r", "-pal", "game.pal", "bare.fsh", "new.png", "pic1"}, "bare.fsh", false},
      {{"-c", "-pal", "game.pal", "bare.fsh", "out.fsh", "new.png", "pic1"}, "out.fsh", false},
      // A new palette has no attachment to live in: the picture is fitted instead.
      {{"-rp", "-pal", "game.pal", "bare.fsh", "new.png", "pic1"}, "bare.fsh", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " into " + c.output);
    writebytes(dir / "bare.fsh", bare);
    const RunResult r = run(c.args);
    ASSERT_EQ(r.status, 0) << r.out;
    if (c.newpalette)
      expectinorder(r.out, {"WARNING: no palette in pack file\n", "using supplied external palette file\n",
                            "WARNING: 'pic1' has no palette of its own, fitting it to the game's palette\n",
                            "palettes are different, remapping...\n"});
    else
      expectinorder(r.out, {"WARNING: no palette in pack file\n", "using supplied external palette file\n",
                            "palettes are different, remapping...\n"});
    const auto picrecs = records(c.output);
    const ShpiRecord* pic = findrecord(picrecs, "pic1");
    ASSERT_TRUE(pic);
    ASSERT_EQ(pic->bytes.size(), 16u + 256);
    for (size_t i = 0; i < idx.size(); ++i) {
      const int expected = idx[i] == 7 ? 2 : nearestentry(user, 2, kNew[idx[i]]);
      ASSERT_EQ(pic->bytes[16 + i], expected) << "pixel " << i;
    }
  }
}

// The member `name` of a BIGF pack, as stored.
ByteVec bigfmember(const ByteVec& pack, const std::string& name) {
  auto be32 = [&pack](size_t at) {
    return static_cast<uint32_t>(pack[at] << 24 | pack[at + 1] << 16 | pack[at + 2] << 8 | pack[at + 3]);
  };
  const uint32_t n = be32(8);
  size_t at = 16;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t offset = be32(at), size = be32(at + 4);
    const std::string member(reinterpret_cast<const char*>(&pack[at + 8]));
    if (member == name) return ByteVec(pack.begin() + offset, pack.begin() + offset + size);
    at += 8 + member.size() + 1;
  }
  ADD_FAILURE() << name << " not in the pack";
  return {};
}

TEST_F(ReplaceTest, CompressedFileInsideAPackGoesBackCompressedAndTheUsersFileStays) {
  const ByteVec readme = {'r', 'e', 'a', 'd', ' ', 'm', 'e'};
  // A file of the user's with the member's name must survive.
  const ByteVec mine = {'m', 'i', 'n', 'e'};
  writebytes(dir / "pics.fsh", mine);
  const std::vector<uint8_t> idx = framedindices(32, 32, 3);
  writepalettepng(dir, "new.png", 32, 32, kNew, idx);
  fs::create_directory(dir / "tmp");
  auto replace = [&](const std::string& image) {
    // The private folder is made below TMPDIR, where the test sees it. Not
    // under an emulator: Windows has a temporary folder of its own, and Wine
    // keeps its server's files below TMPDIR.
    if (emulated()) return runtorvex({"-r", "data.viv\\pics.fsh", image, "ABCD"}, dir.path());
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before ? before : "";
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    RunResult r = runtorvex({"-r", "data.viv\\pics.fsh", image, "ABCD"}, dir.path());
    if (before)
      ::setenv("TMPDIR", saved.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    return r;
  };

  // The file's size is off a word boundary: the store encoder carries the
  // last bytes in its end command.
  const ByteVec odd = bigfpack({{"readme.txt", readme}, {"pics.fsh", fbliteral(picsfile(5, palette24(kGame)))}});
  ASSERT_NE(picsfile(5, palette24(kGame)).size() % 4, 0u);
  writebytes(dir / "data.viv", odd);

  // A failure once the private folder exists (the input is no picture at
  // all) touches nothing and leaves no folder behind.
  writebytes(dir / "bad.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'});
  RunResult r = replace("bad.png");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("unsupported or corrupt image 'bad.png'"), std::string::npos) << r.out;
  EXPECT_EQ(readbytes(dir / "data.viv"), odd);
  EXPECT_EQ(readbytes(dir / "pics.fsh"), mine);
  EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the private folder was left behind";
  fs::remove(dir / "bad.png");

  r = replace("new.png");
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"replacing image 'ABCD' with 'new.png' (32x32)\n", "copied 2, replaced 1 and added 0\n",
                        "original was compressed\n", "pics.fsh successfully created\n", "replaced 'pics.fsh'\n"});

  EXPECT_EQ(readbytes(dir / "pics.fsh"), mine);
  EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the private folder was left behind";
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 5u) << "data.viv, pics.fsh, new.png, script.py and tmp only";

  const ByteVec pack = readbytes(dir / "data.viv");
  EXPECT_EQ(bigfmember(pack, "readme.txt"), readme);
  const ByteVec stored = bigfmember(pack, "pics.fsh");
  ASSERT_GE(stored.size(), 5u);
  EXPECT_EQ(stored[0], 0x10);
  EXPECT_EQ(stored[1], 0xFB);

  // Read the rebuilt file back out of the pack, expanded.
  fs::create_directory(dir / "out");
  const RunResult u = runtorvex({"-u", (dir / "data.viv").string(), "pics.fsh"}, dir / "out");
  ASSERT_EQ(u.status, 0) << u.out;
  const auto abcdrecs = readshpi(readbytes(dir / "out" / "pics.fsh"));
  const ShpiRecord* abcd = findrecord(abcdrecs, "ABCD");
  ASSERT_TRUE(abcd);
  EXPECT_EQ(get24(abcd->bytes, 1), 1040u);
  for (size_t i = 0; i < idx.size(); ++i) {
    const int expected = idx[i] == 3 ? 5 : nearestentry(kGame, 5, kNew[idx[i]]);
    ASSERT_EQ(abcd->bytes[16 + i], expected) << "pixel " << i;
  }
}

TEST_F(ReplaceTest, PathInsideANestedPackIsRefused) {
  const ByteVec inner = bigfpack({{"pics.fsh", picsfile(5, palette24(kGame))}});
  const ByteVec outer = bigfpack({{"inner.viv", inner}});
  writebytes(dir / "outer.viv", outer);
  writepalettepng(dir, "new.png", 8, 8, kNew, framedindices(8, 8, 1));
  const RunResult r = run({"-r", "outer.viv\\inner.viv\\pics.fsh", "new.png", "ABCD"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("lies in a pack inside the pack 'outer.viv'"), std::string::npos) << r.out;
  EXPECT_EQ(readbytes(dir / "outer.viv"), outer);
}

// A shared palette of 16 entries, none of them black, found through the
// palette search (no attachment): black pixels must go to one of those 16
// entries, never to an entry beyond them (which a 0x7B record's game palette
// lacks, and which a 4-bit record would cut to its transparent index 0).
TEST_F(ReplaceTest, ASharedPaletteOfSixteenEntriesIsAllTheRemapChoosesFrom) {
  std::vector<Rgb> game;
  for (int i = 0; i < 16; ++i) game.push_back({40 + i * 13, 200 - i * 9, 30 + (i * 71) % 200});
  // Old pictures: 8x8 framed by index 3; the 4-bit one packs two to a byte.
  const std::vector<uint8_t> old8 = framedindices(8, 8, 3);
  ByteVec old4;
  for (size_t i = 0; i < old8.size(); i += 2) old4.push_back(static_cast<uint8_t>((old8[i] & 15) | (old8[i + 1] & 15) << 4));
  writebytes(dir / "pics.fsh", shpifile("GIMX", {{"!pal", palette24(game)},
                                                 {"PIC8", record(0x7B, 0, 8, 8, ByteVec(old8.begin(), old8.end()))},
                                                 {"PIC4", record(0x40, 0, 8, 8, old4)}}));
  // The new picture: framed by entry 0, black (entry 1) and other colours inside.
  const std::vector<Rgb> colours = {{250, 250, 250}, {0, 0, 0}, {40, 200, 30}, {120, 90, 60}, {3, 5, 250}};
  std::vector<uint8_t> idx(64);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      idx[static_cast<size_t>(y * 8 + x)] =
          (x == 0 || y == 0 || x == 7 || y == 7) ? 0 : static_cast<uint8_t>(1 + (x + y) % 4);
  writepalettepng(dir, "new.png", 8, 8, colours, idx);

  const RunResult r = run({"-r", "pics.fsh", "new.png", "PIC8", "new.png", "PIC4"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto recs = records("pics.fsh");
  const ShpiRecord* pic8 = findrecord(recs, "PIC8");
  const ShpiRecord* pic4 = findrecord(recs, "PIC4");
  ASSERT_TRUE(pic8 && pic4);
  ASSERT_GE(pic8->bytes.size(), 16u + 64);
  ASSERT_GE(pic4->bytes.size(), 16u + 32);
  for (size_t i = 0; i < idx.size(); ++i) {
    // The frame becomes the old border index 3, which nothing else gets.
    const int expected = idx[i] == 0 ? 3 : nearestentry(game, 3, colours[idx[i]]);
    EXPECT_EQ(pic8->bytes[16 + i], expected) << "0x7B pixel " << i;
    const uint8_t packed = pic4->bytes[16 + i / 2];
    EXPECT_EQ(i % 2 ? packed >> 4 : packed & 15, expected) << "0x40 pixel " << i;
  }
}

// A 4-bit record names 16 entries. A picture of 45 colours that brings its
// own palette ("-cp") is quantized to 15 colours and the transparent index 0
// instead of having its indices cut to 4 bits, so the game shows (nearly)
// its colours.
TEST_F(ReplaceTest, ManyColoursIntoAFourBitRecordAreQuantizedNotCut) {
  ByteVec attached(16 * 3, 0);
  const ByteVec oldpixels(32, 0x22);  // all index 2
  writebytes(dir / "pics.fsh",
             shpifile("GIMX", {{"NIBS", withattachment(record(0x40, 0, 8, 8, oldpixels), record(0x24, 0, 16, 1, attached))}}));
  // 15 well separated colours, each in three shades that the quantizer's
  // colour bins (8 levels wide) do not tell apart.
  std::vector<Rgb> colours;
  for (int c = 0; c < 15; ++c)
    for (int shade = 0; shade < 3; ++shade)
      colours.push_back({(c % 3) * 96 + 16 + shade, (c / 3 % 3) * 96 + 16 + shade, (c / 9) * 160 + 32 + shade});
  std::vector<uint8_t> idx(64);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>((i * 7) % colours.size());
  writepalettepng(dir, "many.png", 8, 8, colours, idx);

  const RunResult rp = run({"-cp", "pics.fsh", "outp.fsh", "many.png", "NIBS"});
  ASSERT_EQ(rp.status, 0) << rp.out;
  EXPECT_NE(rp.out.find("WARNING: 'NIBS' has more colours than its record can hold, reducing them to 16\n"),
            std::string::npos)
      << rp.out;
  const auto recs = records("outp.fsh");
  const ShpiRecord* nibs = findrecord(recs, "NIBS");
  ASSERT_TRUE(nibs);
  // The palette attachment follows the 32 pixel bytes: 16 entries of 3 bytes.
  ASSERT_EQ(get24(nibs->bytes, 1), 48u);
  ASSERT_GE(nibs->bytes.size(), 48u + 16 + 48);
  int worst = 0;
  for (size_t i = 0; i < idx.size(); ++i) {
    const uint8_t packed = nibs->bytes[16 + i / 2];
    const int index = i % 2 ? packed >> 4 : packed & 15;
    for (int k = 0; k < 3; ++k)
      worst = std::max(worst, std::abs(nibs->bytes[48 + 16 + index * 3 + static_cast<size_t>(k)] - colours[idx[i]][static_cast<size_t>(k)]));
  }
  EXPECT_LE(worst, 6);
}

// "-r" on an SHPI file in another folder rewrites that file, whichever
// separator the path uses, and leaves nothing in the current folder.
TEST_F(ReplaceTest, AFileInAnotherFolderIsRewrittenWhereItIs) {
  fs::create_directories(dir / "sub" / "deeper");
  writepalettepng(dir, "new.png", 32, 32, kNew, framedindices(32, 32, 3));
  for (const std::string path : {"sub/pics.fsh", "sub\\deeper\\pics.fsh"}) {
    SCOPED_TRACE(path);
    const fs::path where = path.starts_with("sub/") ? dir / "sub" / "pics.fsh" : dir / "sub" / "deeper" / "pics.fsh";
    const ByteVec original = picsfile(5, palette24(kGame));
    writebytes(where, original);
    const RunResult r = run({"-r", path, "new.png", "ABCD"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(path + " successfully created\n"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "pics.fsh"));
    const auto recs = readshpi(readbytes(where));
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(get16(recs[0].bytes, 4), 32u);  // the new, smaller picture
  }
}

// ---- The real sample files --------------------------------------------------------------

class SampleTest : public ReplaceTest {
 protected:
  void SetUp() override {
    ReplaceTest::SetUp();
    if (IsSkipped()) return;
    if (samplesdir().empty()) GTEST_SKIP() << "no sample files";
  }
  void copysample(const std::string& name) {
    fs::copy_file(samplesdir() / "shpi" / name, dir / name);
    fs::permissions(dir / name, fs::perms::owner_write, fs::perm_options::add);
  }
};

TEST_F(SampleTest, IndexedPictureOfAl1IsFittedToItsSharedPalette) {
  copysample("AL1.FSH");
  const ByteVec before = readbytes(dir / "AL1.FSH");
  const auto old = readshpi(before);
  const ShpiRecord* pal = findrecord(old, "!pal");
  const ShpiRecord* pic = findrecord(old, "0000");
  ASSERT_TRUE(pal && pic);
  // !pal is a 0x22 record: 6-bit components, times 4.
  std::vector<Rgb> game;
  for (int i = 0; i < 256; ++i)
    game.push_back({pal->bytes[16 + 3 * i] * 4, pal->bytes[16 + 3 * i + 1] * 4, pal->bytes[16 + 3 * i + 2] * 4});
  const int ow = static_cast<int>(get16(pic->bytes, 4)), oh = static_cast<int>(get16(pic->bytes, 6));
  const int u = bordercount(std::vector<uint8_t>(pic->bytes.begin() + 16, pic->bytes.begin() + 16 + ow * oh), ow, oh);

  const std::vector<uint8_t> idx = framedindices(40, 30, 9);
  writepalettepng(dir, "new.png", 40, 30, kNew, idx);
  const RunResult r = run({"-r", "AL1.FSH", "new.png", "0000"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"copying !pal \n", "WARNING: size mismatch (orig 318x447, new 40x30)\n",
                        "palettes are different, remapping...\n", "copied 1, replaced 1 and added 0\n"});

  const auto recs = records("AL1.FSH");
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(findrecord(recs, "!pal")->bytes, pal->bytes);
  const ShpiRecord* now = findrecord(recs, "0000");
  ASSERT_TRUE(now);
  // The 0x7C attachment is carried along right after the new pixels.
  const uint32_t end = (16 + 40 * 30 + 3) / 4 * 4;
  EXPECT_EQ(get24(now->bytes, 1), end);
  EXPECT_EQ(ByteVec(now->bytes.begin() + end, now->bytes.end()),
            ByteVec(pic->bytes.begin() + get24(pic->bytes, 1), pic->bytes.end()));
  EXPECT_EQ(ByteVec(now->bytes.begin() + 8, now->bytes.begin() + 16), ByteVec(pic->bytes.begin() + 8, pic->bytes.begin() + 16));
  for (size_t i = 0; i < idx.size(); ++i) {
    const int expected = idx[i] == 9 ? u : nearestentry(game, u, kNew[idx[i]]);
    ASSERT_EQ(now->bytes[16 + i], expected) << "pixel " << i;
  }
}

TEST_F(SampleTest, TruecolourPictureOf3dobjTakesThePixelsExactly) {
  copysample("3dobj.fsh");
  // An RGBA picture with every alpha from 0 to 255 somewhere.
  python(dir,
         "from PIL import Image\nim=Image.new('RGBA',(32,32))\n"
         "im.putdata([((x*8)%256,(y*8)%256,(x*y)%256,(x+32*y)%256) for y in range(32) for x in range(32)])\n"
         "im.save('glow.png')\nopen('glow.rgba','wb').write(Image.open('glow.png').convert('RGBA').tobytes())\n");
  const RunResult r = run({"-r", "3dobj.fsh", "glow.png", "engs"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("size mismatch"), std::string::npos);
  expectinorder(r.out, {"copying chr0 chr1 \n", "replacing image 'engs' with 'glow.png' (32x32)\n",
                        "copying shat glw0 \n", "copied 4, replaced 1 and added 0\n"});
  const auto engsrecs = records("3dobj.fsh");
  const ShpiRecord* engs = findrecord(engsrecs, "engs");
  ASSERT_TRUE(engs);
  ASSERT_EQ(engs->bytes.size(), 16u + 4096);
  EXPECT_EQ(engs->bytes[0], 0x7D);
  const ByteVec rgba = readbytes(dir / "glow.rgba");
  for (size_t i = 0; i < 1024; ++i) {
    const uint8_t* p = &engs->bytes[16 + 4 * i];
    ASSERT_EQ((ByteVec{p[2], p[1], p[0], p[3]}), ByteVec(rgba.begin() + 4 * i, rgba.begin() + 4 * i + 4)) << i;
  }
  // Extracted again as PNG, Pillow sees the painted picture.
  fs::create_directory(dir / "out");
  ASSERT_EQ(runtorvex({"-epng", (dir / "3dobj.fsh").string(), "engs"}, dir / "out").status, 0);
  python(dir, "from PIL import Image\nopen('back.rgba','wb').write(Image.open('out/engs.png').convert('RGBA').tobytes())\n");
  EXPECT_EQ(readbytes(dir / "back.rgba"), rgba);
}

TEST_F(SampleTest, GapBeforeTheFirstRecordStaysAndAttachedPaletteIsKept) {
  copysample("attached_palette.fsh");
  const ByteVec before = readbytes(dir / "attached_palette.fsh");
  const std::vector<uint8_t> idx = framedindices(64, 64, 0);
  writepalettepng(dir, "new.png", 64, 64, kNew, idx);
  const RunResult r = run({"-r", "attached_palette.fsh", "new.png", "0000"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"copying ???? \n", "replacing image '0000'", "copied 1, replaced 1 and added 0\n"});
  const ByteVec after = readbytes(dir / "attached_palette.fsh");
  const auto recs = readshpi(after);
  ASSERT_EQ(recs.size(), 1u);
  // The 88 bytes between the directory and the first record come first again.
  EXPECT_EQ(recs[0].offset, 24u + 88);
  EXPECT_EQ(ByteVec(after.begin() + 24, after.begin() + 112), ByteVec(before.begin() + 24, before.begin() + 112));
  EXPECT_EQ(recs[0].bytes.size(), before.size() - 112);
  EXPECT_EQ(get24(recs[0].bytes, 1), 16u + 4096);
}

TEST_F(SampleTest, CompressedSampleIsWrittenCompressed) {
  copysample("AL3.QFS");
  writepalettepng(dir, "new.png", 16, 16, kNew, framedindices(16, 16, 4));
  const RunResult r = run({"-real", "-r", "AL3.QFS", "new.png", "0000"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"original was compressed\n", "AL3.QFS successfully created\n"});
  const ByteVec after = readbytes(dir / "AL3.QFS");
  ASSERT_GE(after.size(), 5u);
  EXPECT_EQ(after[0], 0x10);
  EXPECT_EQ(after[1], 0xFB);
  // It reads back as an SHPI file with the new picture.
  const RunResult l = run({"-l", "AL3.QFS"});
  EXPECT_NE(l.out.find("!pal"), std::string::npos) << l.out;
}

TEST_F(SampleTest, PictureInsideTheSamplePackIsReplaced) {
  fs::copy_file(samplesdir() / "packs" / "car.viv", dir / "car.viv");
  fs::permissions(dir / "car.viv", fs::perms::owner_write, fs::perm_options::add);
  python(dir,
         "from PIL import Image\nim=Image.new('RGB',(64,32))\n"
         "im.putdata([((x*4)%256,(y*8)%256,(x^y)%256) for y in range(32) for x in range(64)])\nim.save('logo.png')\n");
  const RunResult r = run({"-r", "car.viv\\fedata.fsh", "logo.png", "logo"});
  ASSERT_EQ(r.status, 0) << r.out;
  expectinorder(r.out, {"WARNING: size mismatch (orig 256x256, new 64x32)\n", "original was not compressed\n",
                        "fedata.fsh successfully created\n", "packfile 'car.viv' updated successfully\n"});
  EXPECT_FALSE(fs::exists(dir / "fedata.fsh"));
  fs::create_directory(dir / "out");
  ASSERT_EQ(runtorvex({"-u", (dir / "car.viv").string(), "fedata.fsh"}, dir / "out").status, 0);
  const auto logorecs = readshpi(readbytes(dir / "out" / "fedata.fsh"));
  const ShpiRecord* logo = findrecord(logorecs, "logo");
  ASSERT_TRUE(logo);
  EXPECT_EQ(logo->bytes[0], 0x78);
  // 0x78 keeps five bits of each component: red << 11, green << 6, blue.
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      const size_t at = 16 + 2 * static_cast<size_t>(y * 64 + x);
      const unsigned v = logo->bytes[at] | logo->bytes[at + 1] << 8;
      ASSERT_EQ(v, ((((x * 4) % 256) >> 3) << 11) + ((((y * 8) % 256) >> 3) << 6) + (((x ^ y) % 256) >> 3))
          << x << "," << y;
    }
}

}  // namespace
}  // namespace torvex::test
