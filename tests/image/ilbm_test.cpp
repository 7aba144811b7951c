// IFF ILBM reader, checked against netpbm: files written by ppmtoilbm and
// hand-built files (mask plane, extra half-brite, ByteRun1 no-ops, PCHG in
// all its forms) must decode to the pixels that ilbmtoppm gives.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "gifilbm_oracle.h"
#include "torvex/image/formats.h"

namespace torvex {
namespace {

namespace fs = std::filesystem;
using test::Noise;
using test::Picture;
using test::TempDir;
using Bytes8 = std::vector<uint8_t>;

struct Decoded {
  int result = 0;
  Image image;
};

Decoded decode(const Bytes8& bytes) {
  Decoded d;
  ImageResult result;
  d.result = readilbm(d.image, bytes, result);
  return d;
}

Bytes8 rgbof(const Image& image) {
  if (!image.rgb) return {};
  const uint8_t* p = image.rgb.get();
  return {p, p + static_cast<size_t>(image.width) * image.height * 3};
}

// ---- Building ILBM files by hand ------------------------------------------------

void put16(Bytes8& out, int v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void put32(Bytes8& out, uint32_t v) {
  put16(out, static_cast<int>(v >> 16));
  put16(out, static_cast<int>(v & 0xFFFF));
}

Bytes8 chunk(const char* id, const Bytes8& data) {
  Bytes8 out(id, id + 4);
  put32(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
  return out;
}

Bytes8 bmhd(int width, int height, int planes, int masking = 0, int compression = 0) {
  Bytes8 d;
  put16(d, width);
  put16(d, height);
  put16(d, 0);
  put16(d, 0);
  d.insert(d.end(), {static_cast<uint8_t>(planes), static_cast<uint8_t>(masking), static_cast<uint8_t>(compression), 0});
  put16(d, 0);                  // transparent colour
  d.insert(d.end(), {10, 11});  // aspect
  put16(d, width);
  put16(d, height);
  return chunk("BMHD", d);
}

Bytes8 form(const std::vector<Bytes8>& chunks) {
  Bytes8 body = {'I', 'L', 'B', 'M'};
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes8 out = {'F', 'O', 'R', 'M'};
  put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Uncompressed interleaved planes: rows of whole 16-bit words, plane 0 first,
// then (with a mask) a mask row that is set where `mask` says.
Bytes8 planar(const Bytes8& pixels, int width, int height, int planes, bool mask = false) {
  const int rowbytes = (width + 15) / 16 * 2;
  Bytes8 out;
  for (int y = 0; y < height; ++y)
    for (int p = 0; p < planes + (mask ? 1 : 0); ++p) {
      Bytes8 row(rowbytes, 0);
      for (int x = 0; x < width; ++x) {
        const uint8_t v = pixels[static_cast<size_t>(y) * width + x];
        const bool bit = p == planes ? (v & 1) != 0 : ((v >> p) & 1) != 0;
        if (bit) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      out.insert(out.end(), row.begin(), row.end());
    }
  return out;
}

// A PCHG chunk: its 20-byte header and the change data (row mask + changes).
Bytes8 pchg(int compression, int flags, int first, int count, const Bytes8& data) {
  Bytes8 d;
  put16(d, compression);
  put16(d, flags);
  put16(d, first);
  put16(d, count);
  put16(d, 2);  // changed lines, lowest and highest register, most and total changes
  put16(d, 0);
  put16(d, 31);
  put16(d, 2);
  put32(d, 3);
  d.insert(d.end(), data.begin(), data.end());
  return chunk("PCHG", d);
}

// The tree-coded form of PCHG change data: a balanced code tree over the
// bytes that occur, laid out as the format wants it (the root is the last
// word; a node's word is its 1-branch: a byte value, or a negative byte
// offset back to the subtree; its 0-branch is the word just before it, a
// byte value with bit 8 set or a subtree), then the bits, most significant
// first, in 32-bit words.
struct Tree {
  int leaf = -1;
  std::unique_ptr<Tree> zero, one;
};

std::unique_ptr<Tree> balanced(const std::vector<int>& symbols, size_t from, size_t to) {
  auto t = std::make_unique<Tree>();
  if (to - from == 1) {
    t->leaf = symbols[from];
    return t;
  }
  const size_t mid = (from + to) / 2;
  t->zero = balanced(symbols, from, mid);
  t->one = balanced(symbols, mid, to);
  return t;
}

void codes(const Tree& t, const std::string& prefix, std::map<int, std::string>& out) {
  if (t.leaf >= 0) {
    out[t.leaf] = prefix;
    return;
  }
  codes(*t.zero, prefix + "0", out);
  codes(*t.one, prefix + "1", out);
}

void emit(const Tree& t, std::vector<int16_t>& words) {
  int oneword = 0;
  size_t oneroot = 0;
  if (t.one->leaf >= 0) {
    oneword = t.one->leaf;
  } else {
    emit(*t.one, words);
    oneroot = words.size() - 1;
  }
  if (t.zero->leaf >= 0)
    words.push_back(static_cast<int16_t>(0x100 | t.zero->leaf));
  else
    emit(*t.zero, words);
  if (t.one->leaf < 0) oneword = -2 * static_cast<int>(words.size() - oneroot);
  words.push_back(static_cast<int16_t>(oneword));
}

Bytes8 treecode(const Bytes8& data) {
  std::vector<int> symbols(data.begin(), data.end());
  std::sort(symbols.begin(), symbols.end());
  symbols.erase(std::unique(symbols.begin(), symbols.end()), symbols.end());
  if (symbols.size() == 1) symbols.push_back((symbols[0] + 1) & 255);
  const auto tree = balanced(symbols, 0, symbols.size());
  std::map<int, std::string> table;
  codes(*tree, "", table);
  std::vector<int16_t> words;
  emit(*tree, words);
  std::string bits;
  for (uint8_t b : data) bits += table[b];
  while (bits.size() % 32) bits += '0';
  Bytes8 out;
  put32(out, static_cast<uint32_t>(words.size() * 2));
  put32(out, static_cast<uint32_t>(data.size()));
  for (int16_t w : words) put16(out, static_cast<uint16_t>(w));
  for (size_t i = 0; i < bits.size(); i += 32) put32(out, static_cast<uint32_t>(std::stoul(bits.substr(i, 32), nullptr, 2)));
  return out;
}

const Bytes8 kFourColours = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};

// Change data for rows 0 and 2 of a PCHG chunk: register 1 in the first,
// registers 2 and 19 in the second.
Bytes8 smallchanges() { return {0xA0, 0, 0, 0, 1, 0, 0x1A, 0xBC, 1, 1, 0x2F, 0x0F, 0x3F, 0xFF}; }
Bytes8 bigchanges() {
  return {0xA0, 0, 0, 0, 0, 1, 0, 1, 0, 0x10, 0x20, 0x30, 0, 2, 0, 2, 0xEE, 0x40, 0x50, 0x60, 0, 3, 0, 0x70, 0x80, 0x90};
}

// ---- Comparing with ilbmtoppm ----------------------------------------------------

// PCHG small changes are 4-bit levels: netpbm scales them by 17, we shift
// them left by 4, so a level L may show as L*17 there and L*16 here. A
// hold-and-modify step sets the top 4 (HAM6) or 6 (HAM8) bits of a channel:
// netpbm keeps the previous low bits, we repeat the level (HAM6, times 17) or
// clear them (HAM8), so only the top bits are compared there.
bool samelevel(uint8_t ours, uint8_t theirs, bool fourbit, int lowbits) {
  if (lowbits) return ours >> lowbits == theirs >> lowbits;
  return ours == theirs || (fourbit && theirs % 17 == 0 && ours == theirs / 17 * 16);
}

void expectlikeilbmtoppm(const Decoded& ours, const fs::path& dir, const std::string& options, bool fourbit = false,
                         int lowbits = 0) {
  const Picture pnm = test::netpbm("ilbmtoppm " + options + " x.iff", dir);
  ASSERT_FALSE(pnm.rgb.empty()) << "ilbmtoppm could not read the file";
  ASSERT_EQ(ours.image.width, pnm.width);
  ASSERT_EQ(ours.image.height, pnm.height);
  ASSERT_EQ(pnm.maxval, 255);
  const Bytes8 got = rgbof(ours.image);
  size_t bad = 0;
  for (size_t i = 0; i < got.size(); ++i)
    if (!samelevel(got[i], pnm.rgb[i], fourbit, lowbits)) {
      if (bad++ < 5) ADD_FAILURE() << "byte " << i << " (pixel " << i / 3 << "): " << int(got[i]) << " vs " << int(pnm.rgb[i]);
    }
  EXPECT_EQ(bad, 0u);
}

// ---- Reader: netpbm's files ----------------------------------------------------------

TEST(IlbmReader, FilesOfPpmtoilbmDecodeAsIlbmtoppmSays) {
  if (!test::havetool("ppmtoilbm") || !test::havetool("ilbmtoppm")) GTEST_SKIP() << "netpbm missing";
  TempDir dir;
  // Width 21: plane rows of 21 pixels are stored as two 16-bit words.
  const int width = 21, height = 13;
  auto picture = [&](int colours, uint32_t salt, const char* name) {
    Noise n(salt);
    Bytes8 table(colours * 3);
    for (auto& c : table) c = static_cast<uint8_t>(n.next());
    Bytes8 rgb;
    for (int i = 0; i < width * height; ++i) {
      const int k = static_cast<int>((i % 5 == 0 ? n.next() : static_cast<uint32_t>(i / 3)) % colours);
      rgb.insert(rgb.end(), table.begin() + 3 * k, table.begin() + 3 * k + 3);
    }
    test::writeppm(dir / name, width, height, rgb);
  };
  picture(2, 1, "c2.ppm");
  picture(6, 2, "c6.ppm");
  picture(30, 3, "c30.ppm");
  picture(200, 4, "c200.ppm");
  {
    Noise n(5);
    Bytes8 rgb;
    for (int i = 0; i < width * height * 3; ++i) rgb.push_back(static_cast<uint8_t>(n.next()));
    test::writeppm(dir / "true.ppm", width, height, rgb);
  }
  const struct {
    const char* command;
    int planes;
    bool ham;
  } cases[] = {
      {"ppmtoilbm c2.ppm", 1, false},
      {"ppmtoilbm -fixplanes 3 -nocompress c6.ppm", 3, false},
      {"ppmtoilbm c30.ppm", 5, false},
      {"ppmtoilbm -nocompress c30.ppm", 5, false},
      {"ppmtoilbm -fixplanes 8 c200.ppm", 8, false},
      {"ppmtoilbm -fixplanes 8 -nocompress c200.ppm", 8, false},
      {"ppmtoilbm -ham6 true.ppm", 6, true},
      {"ppmtoilbm -ham6 -nocompress true.ppm", 6, true},
      {"ppmtoilbm -ham8 true.ppm", 8, true},
      {"ppmtoilbm -ham8 -nocompress true.ppm", 8, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(test::runshell(std::string(c.command) + " > x.iff 2>/dev/null", dir.path()).status, 0);
    const Bytes8 file = test::readbytes(dir / "x.iff");
    ASSERT_EQ(file[12 + 8 + 8], c.planes);
    const Decoded d = decode(file);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(std::string(d.image.formatTag), "IFF");
    expectlikeilbmtoppm(d, dir.path(), "", false, c.ham ? (c.planes == 6 ? 4 : 2) : 0);
    // Hold-and-modify pictures are truecolour (no indices to rebuild them
    // from); the others index their colours.
    const uint8_t* indexed = d.image.indexed.get();
    if (c.ham) {
      EXPECT_FALSE(indexed);
      continue;
    }
    for (int i = 0; i < width * height; ++i) {
      {
        const Rgba& p = d.image.palette[indexed[i]];
        ASSERT_EQ((Bytes8{p.r, p.g, p.b}), Bytes8(d.image.rgb.get() + 3 * i, d.image.rgb.get() + 3 * i + 3)) << i;
      }
    }
  }
}

// ---- Reader: hand-built files ------------------------------------------------------

TEST(IlbmReader, HandBuiltFilesDecodeAsIlbmtoppmSays) {
  if (!test::havetool("ilbmtoppm")) GTEST_SKIP() << "netpbm missing";
  TempDir dir;
  Noise n(17);
  const int width = 21, height = 6;
  auto pixels = [&](int colours) {
    Bytes8 p;
    for (int i = 0; i < width * height; ++i) p.push_back(static_cast<uint8_t>(n.next() % colours));
    return p;
  };
  auto colourmap = [&](int entries) {
    Bytes8 c;
    for (int i = 0; i < entries * 3; ++i) c.push_back(static_cast<uint8_t>(n.next()));
    return c;
  };
  auto check = [&](const Bytes8& file, const std::string& options = "", bool fourbit = false) {
    test::writebytes(dir / "x.iff", file);
    Decoded d = decode(file);
    EXPECT_EQ(d.result, -1);
    expectlikeilbmtoppm(d, dir.path(), options, fourbit);
    return d;
  };

  {
    SCOPED_TRACE("mask plane after the bit planes of every row");
    const Bytes8 p = pixels(8);
    check(form({bmhd(width, height, 3, 1), chunk("CMAP", colourmap(8)), chunk("BODY", planar(p, width, height, 3, true))}));
  }
  {
    SCOPED_TRACE("extra half-brite: 6 planes, no CAMG");
    const Bytes8 p = pixels(64);
    const Bytes8 cmap = colourmap(32);
    const Decoded d =
        check(form({bmhd(width, height, 6), chunk("CMAP", cmap), chunk("BODY", planar(p, width, height, 6))}), "-isehb");
    EXPECT_EQ(d.image.palette[40], (Rgba{static_cast<uint8_t>(cmap[24] >> 1), static_cast<uint8_t>(cmap[25] >> 1),
                                         static_cast<uint8_t>(cmap[26] >> 1), 255}));
  }
  {
    SCOPED_TRACE("ByteRun1: -128 is a no-op");
    // Row 0: no-op, literal FF 0F. Row 1: run of FF. Row 2: two no-ops, literal AA 55.
    const Bytes8 body = {0x80, 0x01, 0xFF, 0x0F, 0xFF, 0xFF, 0x80, 0x80};
    const Bytes8 body2 = {0x01, 0xAA, 0x55};
    Bytes8 all = body;
    all.insert(all.end(), body2.begin(), body2.end());
    const Decoded d = check(form({bmhd(16, 3, 1, 0, 1), chunk("CMAP", {0, 0, 0, 255, 255, 255}), chunk("BODY", all)}));
    const Bytes8 rows = [&] {
      Bytes8 bits;
      for (int i = 0; i < 48; ++i) bits.push_back(d.image.indexed[i]);
      return bits;
    }();
    const Bytes8 expected = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                             1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(rows, expected);
  }

  // PCHG: four colours, changes in rows 0 and 2 (register 19 is outside the
  // picture's colours and changes nothing that shows).
  const Bytes8 p = [] {
    Bytes8 v;
    for (int i = 0; i < 4 * 6; ++i) v.push_back(static_cast<uint8_t>((i + 1) % 4));
    return v;
  }();
  auto pchgfile = [&](const Bytes8& changes) {
    return form({bmhd(4, 6, 2), chunk("CMAP", kFourColours), changes, chunk("BODY", planar(p, 4, 6, 2))});
  };
  const Bytes8 small = smallchanges();
  const Bytes8 big = bigchanges();
  const Palette before = decode(pchgfile({})).image.palette;
  {
    SCOPED_TRACE("PCHG small changes");
    const Decoded d = check(pchgfile(pchg(0, 1, 0, 3, small)), "", true);
    EXPECT_EQ(d.image.palette, before);
    // Register 1 (the first pixel of every row): red A, green B, blue C as 4-bit levels.
    EXPECT_EQ(Bytes8(d.image.rgb.get() + 5 * 12, d.image.rgb.get() + 5 * 12 + 3), (Bytes8{0xA0, 0xB0, 0xC0}));
  }
  {
    SCOPED_TRACE("PCHG big changes");
    const Decoded d = check(pchgfile(pchg(0, 2, 0, 3, big)));
    EXPECT_EQ(d.image.palette, before);
    // Register 1 is given as red 10, blue 20, green 30.
    EXPECT_EQ(Bytes8(d.image.rgb.get(), d.image.rgb.get() + 3), (Bytes8{0x10, 0x30, 0x20}));
  }
  {
    SCOPED_TRACE("PCHG tree-coded small changes");
    check(pchgfile(pchg(1, 1, 0, 3, treecode(small))), "", true);
  }
  {
    SCOPED_TRACE("PCHG tree-coded big changes");
    check(pchgfile(pchg(1, 2, 0, 3, treecode(big))));
  }
}

// ---- Reader: the document's edge cases and untrusted input --------------------------

TEST(IlbmReader, ColourMapsHoldAndModifyAndOverlongRuns) {
  // A CMAP of 48 bytes in a 5-plane file sets entries 0 to 15 only.
  {
    Bytes8 cmap(48, 0x77);
    const Decoded d = decode(form({bmhd(2, 1, 5), chunk("CMAP", cmap), chunk("BODY", Bytes8(20, 0))}));
    EXPECT_EQ(d.image.palette[15], (Rgba{0x77, 0x77, 0x77, 255}));
    EXPECT_EQ(d.image.palette[16], (Rgba{}));
  }
  // Before any BMHD, a CMAP sets one entry.
  {
    const Decoded d = decode(form({chunk("CMAP", kFourColours), bmhd(2, 1, 2), chunk("BODY", Bytes8(4, 0))}));
    EXPECT_EQ(d.image.palette[0], (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(d.image.palette[1], (Rgba{}));
  }
  // HAM6 0x2F after black: red 255, green and blue kept at 0; then 0x1F sets blue.
  {
    const Bytes8 p = {0x2F, 0x1F};
    const Decoded d = decode(form({bmhd(2, 1, 6), chunk("CMAP", kFourColours), chunk("CAMG", {0, 0, 0x08, 0x00}),
                                   chunk("BODY", planar(p, 2, 1, 6))}));
    EXPECT_EQ(rgbof(d.image), (Bytes8{255, 0, 0, 255, 0, 255}));
  }
  // HAM8: 0xBF sets red to 63 << 2, then 0xC1 green to 1 << 2, then 0x03 loads entry 3.
  {
    const Bytes8 p = {0xBF, 0xC1, 0x03};
    const Decoded d = decode(form({bmhd(3, 1, 8), chunk("CMAP", kFourColours), chunk("CAMG", {0, 0, 0x08, 0x00}),
                                   chunk("BODY", planar(p, 3, 1, 8))}));
    EXPECT_EQ(rgbof(d.image), (Bytes8{252, 0, 0, 252, 4, 0, 0, 0, 255}));
    EXPECT_FALSE(d.image.indexed);
  }
  // A literal or run that reaches past its plane row ends the row; the rest is dropped.
  {
    const Bytes8 body = {0x02, 0xF0, 0x0F, 0x77, 0xFC, 0x33};
    const Decoded d = decode(form({bmhd(16, 2, 1, 0, 1), chunk("CMAP", kFourColours), chunk("BODY", body)}));
    Bytes8 expected;
    for (uint8_t b : {0xF0, 0x0F, 0x33, 0x33})
      for (int k = 7; k >= 0; --k) expected.push_back((b >> k) & 1);
    EXPECT_EQ(Bytes8(d.image.indexed.get(), d.image.indexed.get() + 32), expected);
  }
}

// Deep ILBM: plane k holds bit k of each pixel's value, red in planes 0-7,
// green in 8-15, blue in 16-23 and, with 32 planes, opacity in 24-31.
Bytes8 deepplanar(const std::vector<uint32_t>& pixels, int width, int height, int planes) {
  const int rowbytes = (width + 15) / 16 * 2;
  Bytes8 out;
  for (int y = 0; y < height; ++y)
    for (int p = 0; p < planes; ++p) {
      Bytes8 row(rowbytes, 0);
      for (int x = 0; x < width; ++x)
        if ((pixels[static_cast<size_t>(y) * width + x] >> p) & 1) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      out.insert(out.end(), row.begin(), row.end());
    }
  return out;
}

TEST(IlbmReader, DeepPicturesAreTruecolourWithOpacityFromTheirFourthByte) {
  const std::vector<uint32_t> pixels = {0x80FF2010, 0x00000000, 0xFF010203, 0x40804020};
  Image image;
  const ImageResult deep = loadimage(image, form({bmhd(2, 2, 32), chunk("BODY", deepplanar(pixels, 2, 2, 32))}));
  ASSERT_EQ(deep.status, 1);
  EXPECT_EQ(image.kind, ImageKind::TrueColour);
  EXPECT_FALSE(image.indexed);
  EXPECT_EQ(rgbof(image), (Bytes8{0x10, 0x20, 0xFF, 0, 0, 0, 0x03, 0x02, 0x01, 0x20, 0x40, 0x80}));
  ASSERT_TRUE(image.alpha);
  EXPECT_EQ(Bytes8(image.alpha.get(), image.alpha.get() + 4), (Bytes8{0x80, 0, 0xFF, 0x40}));

  // 24 planes: no opacity. A BODY that ends inside the second row keeps
  // the first, and says the file was cut.
  Bytes8 body = deepplanar(pixels, 2, 2, 24);
  body.resize(body.size() - 10);
  Image cut;
  const ImageResult shorter = loadimage(cut, form({bmhd(2, 2, 24), chunk("BODY", body)}));
  ASSERT_EQ(shorter.status, 1);
  EXPECT_TRUE(shorter.cutshort);
  EXPECT_FALSE(cut.alpha);
  EXPECT_EQ(rgbof(cut), (Bytes8{0x10, 0x20, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(IlbmReader, RefusedFiles) {
  const Bytes8 body = chunk("BODY", Bytes8(64, 0xFF));
  const std::vector<std::pair<const char*, Bytes8>> cases = {
      {"no BODY", form({bmhd(4, 4, 2), chunk("CMAP", kFourColours)})},
      {"no BMHD", form({chunk("CMAP", kFourColours), body})},
      {"width 0", form({bmhd(0, 4, 2), body})},
      {"12 planes", form({bmhd(4, 4, 12), body})},
      {"too large", form({bmhd(65535, 65535, 1), body})},
      {"header only", Bytes8{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L', 'B', 'M'}},
      // A length that points 8 bytes short of 4 GiB on: the walk ends there
      // (a 32-bit position would wrap round to the same chunk for ever).
      {"chunk claiming almost 4 GiB", form({bmhd(4, 4, 2), Bytes8{'A', 'N', 'N', 'O', 0xFF, 0xFF, 0xFF, 0xF8}, body})},
  };
  for (const auto& [label, file] : cases) {
    SCOPED_TRACE(label);
    const Decoded d = decode(file);
    EXPECT_EQ(d.result, 0);
    EXPECT_FALSE(d.image.rgb);
    EXPECT_FALSE(d.image.indexed);
  }
}

// loadimage finds ILBM files by FORM and ILBM; a refused file gives no picture.
TEST(IlbmReader, LoadimageReadsIlbmFiles) {
  const Bytes8 p = {1, 2, 3, 0};
  Image image;
  ASSERT_EQ(loadimage(image, form({bmhd(4, 1, 2), chunk("CMAP", kFourColours), chunk("BODY", planar(p, 4, 1, 2))})).status, 1);
  EXPECT_EQ(image.kind, ImageKind::Indexed);
  EXPECT_EQ(std::string(image.formatTag), "IFF");
  EXPECT_EQ(rgbof(image), (Bytes8{255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0}));
  Image twelve;
  const ImageResult refused = loadimage(twelve, form({bmhd(4, 1, 12), chunk("BODY", Bytes8(12 * 2, 0xFF))}));
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(refused.unreadable, "ILBM of 12 planes is not supported");
  EXPECT_FALSE(twelve.rgb);
}

TEST(IlbmReader, PaletteChangesOutsideThePictureOrTreeAreIgnored) {
  const Bytes8 p(4 * 3, 1);
  auto file = [&](const Bytes8& changes) {
    return form({bmhd(4, 3, 2), chunk("CMAP", kFourColours), changes, chunk("BODY", planar(p, 4, 3, 2))});
  };
  // Rows -2 to 5 of a 3-row picture, every one changing register 1 to a new
  // level: only rows 0 to 2 may take theirs.
  Bytes8 changes = {0xFF, 0, 0, 0};
  for (int i = 0; i < 8; ++i) changes.insert(changes.end(), {1, 0, static_cast<uint8_t>(0x10 | i), 0});
  Decoded d = decode(file(pchg(0, 1, -2, 8, changes)));
  EXPECT_EQ(d.result, -1);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(d.image.rgb[row * 12], (row + 2) << 4) << row;

  // Change counts beyond the chunk, a tree whose walk leaves it, a tree
  // promising more bytes than its data can hold, a compression with a high
  // byte: the changes are dropped and the picture keeps its colour map.
  Bytes8 overlong = {0x80, 0, 0, 0, 15, 15, 0x1F};
  Bytes8 escaping;
  put32(escaping, 2);
  put32(escaping, 4);
  put16(escaping, static_cast<uint16_t>(-40));  // root jumps back 20 words
  put32(escaping, 0xFFFFFFFF);
  Bytes8 falling;
  put32(falling, 2);
  put32(falling, 4);
  put16(falling, static_cast<uint16_t>(-2));
  put32(falling, 0);
  Bytes8 promising = treecode(smallchanges());
  promising[4] = 0x7F;  // an expanded size far beyond what the coded bits can give
  const Bytes8 unchanged = rgbof(decode(file({})).image);
  for (const Bytes8& bad : {pchg(0, 1, 0, 1, overlong), pchg(1, 1, 0, 1, escaping), pchg(1, 1, 0, 1, falling),
                            pchg(1, 1, 0, 1, promising), pchg(0x100, 1, 0, 1, changes)}) {
    d = decode(file(bad));
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(rgbof(d.image), unchanged);
  }
}

// A second BMHD after the PCHG chunk gives the picture another height: the
// per-row palettes, laid out for the first one, must not be used (nor
// written past their end by the half-brite step).
TEST(IlbmReader, PaletteChangesBeforeALaterHeaderAreDropped) {
  Bytes8 changes = {0x80, 0, 0, 0, 1, 0, 0x1F, 0};
  const Bytes8 p(16 * 2000, 1);
  const Bytes8 body = chunk("BODY", planar(p, 16, 2000, 6));
  const Bytes8 colours = chunk("CMAP", Bytes8(64 * 3, 0x40));
  const Decoded plain = decode(form({bmhd(16, 2000, 6), colours, body}));
  const Decoded late = decode(form({bmhd(16, 1, 6), colours, pchg(0, 1, 0, 1, changes), bmhd(16, 2000, 6), body}));
  EXPECT_EQ(late.result, -1);
  EXPECT_EQ(rgbof(late.image), rgbof(plain.image));
}

// Every cut of a file ends cleanly: complete rows are kept, the rest stays 0.
TEST(IlbmReader, TruncatedFilesStopCleanly) {
  Noise n(23);
  Bytes8 p;
  for (int i = 0; i < 21 * 9; ++i) p.push_back(static_cast<uint8_t>(n.next() & 31));
  // A compressed body built from runs and literals.
  Bytes8 compressed;
  const Bytes8 plain = planar(p, 21, 9, 5);
  for (size_t i = 0; i < plain.size(); i += 2) {
    if (plain[i] == plain[i + 1]) {
      compressed.insert(compressed.end(), {0xFF, plain[i]});
    } else {
      compressed.insert(compressed.end(), {0x01, plain[i], plain[i + 1]});
    }
  }
  Bytes8 changes = {0xC0, 0, 0, 0, 1, 0, 0x1A, 0xBC, 0, 1, 0x2F, 0x0F};
  const Bytes8 whole = form({bmhd(21, 9, 5, 0, 1), chunk("CMAP", Bytes8(96, 0x40)), pchg(1, 1, 3, 2, treecode(changes)),
                             chunk("BODY", compressed)});
  const Decoded full = decode(whole);
  const Bytes8 expected = rgbof(full.image);
  const size_t bodystart = whole.size() - compressed.size();
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const Decoded d = decode(Bytes8(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    // Cuts before the body lose the chunks that give the colours.
    if (cut < bodystart) continue;
    ASSERT_TRUE(d.image.rgb);
    const Bytes8 got = rgbof(d.image);
    ASSERT_EQ(got.size(), expected.size());
    size_t row = 0;
    while (row < 9 && std::equal(got.begin() + row * 63, got.begin() + row * 63 + 63, expected.begin() + row * 63)) ++row;
    for (size_t i = row * 63; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "cut " << cut << " byte " << i;
  }
}

}  // namespace
}  // namespace torvex
