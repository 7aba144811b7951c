// GIF reader and writer, checked against Pillow, netpbm and ImageMagick: files
// that they write must decode to the pixels that their decoders see, and the
// files that we write must decode in theirs to exactly our pixels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gifilbm_oracle.h"
#include "torvex/image/formats.h"

namespace torvex {
namespace {

using test::Noise;
using test::Picture;
using test::TempDir;
namespace fs = std::filesystem;

struct Decoded {
  int result = 0;
  Image image;
  std::string unreadable;
};

Decoded decode(const std::vector<uint8_t>& bytes) {
  Decoded d;
  ImageResult result;
  d.result = readgif(d.image, bytes, result);
  d.unreadable = result.unreadable;
  return d;
}

std::vector<uint8_t> rgbof(const Image& image) {
  if (!image.rgb) return {};
  const uint8_t* p = image.rgb.get();
  return {p, p + static_cast<size_t>(image.width) * image.height * 3};
}

std::vector<uint8_t> indexedof(const Image& image) {
  if (!image.indexed) return {};
  const uint8_t* p = image.indexed.get();
  return {p, p + static_cast<size_t>(image.width) * image.height};
}

// ---- Building GIF files by hand ------------------------------------------------

// Packs LZW codes least significant bit first. The code width follows the
// decoder's rule: it starts at mincodesize + 1, resets at a clear code, and
// grows once the table's next free code reaches 1 << width (every code after
// the first one following a clear adds one table entry).
std::vector<uint8_t> packlzw(int mincodesize, const std::vector<int>& codes) {
  const int clear = 1 << mincodesize;
  int width = mincodesize + 1;
  int next = clear + 2;
  bool first = true;
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int bits = 0;
  for (int code : codes) {
    acc |= static_cast<uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      bytes.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
    if (code == clear) {
      width = mincodesize + 1;
      next = clear + 2;
      first = true;
    } else if (first) {
      first = false;
    } else if (next < 4096) {
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
  }
  if (bits > 0) bytes.push_back(static_cast<uint8_t>(acc));
  return bytes;
}

// Cuts data into sub-blocks of at most `blocksize` bytes, ending with a zero length.
std::vector<uint8_t> subblocks(const std::vector<uint8_t>& data, size_t blocksize = 255) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < data.size(); at += blocksize) {
    const size_t n = std::min(blocksize, data.size() - at);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  out.push_back(0);
  return out;
}

struct GifLayout {
  std::string version = "GIF89a";
  int screenwidth = 0, screenheight = 0;  // 0: the image's size
  std::vector<uint8_t> global;            // red, green, blue triples; 2, 4, 8... entries
  std::vector<uint8_t> extensions;        // raw bytes before the image
  int width = 1, height = 1;
  bool interlaced = false;
  std::vector<uint8_t> local;
  int mincodesize = 2;
  std::vector<int> codes;
};

int tablebits(size_t bytes) {
  int bits = 0;
  while ((2u << bits) * 3 < bytes) ++bits;
  return bits;
}

void put16(std::vector<uint8_t>& out, int v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

std::vector<uint8_t> buildgif(const GifLayout& s) {
  std::vector<uint8_t> out(s.version.begin(), s.version.end());
  put16(out, s.screenwidth ? s.screenwidth : s.width);
  put16(out, s.screenheight ? s.screenheight : s.height);
  out.push_back(s.global.empty() ? 0 : static_cast<uint8_t>(0x80 | 0x70 | tablebits(s.global.size())));
  out.push_back(0);
  out.push_back(0);
  out.insert(out.end(), s.global.begin(), s.global.end());
  out.insert(out.end(), s.extensions.begin(), s.extensions.end());
  out.push_back(0x2C);
  put16(out, 0);
  put16(out, 0);
  put16(out, s.width);
  put16(out, s.height);
  uint8_t flags = s.interlaced ? 0x40 : 0;
  if (!s.local.empty()) flags |= static_cast<uint8_t>(0x80 | tablebits(s.local.size()));
  out.push_back(flags);
  out.insert(out.end(), s.local.begin(), s.local.end());
  out.push_back(static_cast<uint8_t>(s.mincodesize));
  const auto data = subblocks(packlzw(s.mincodesize, s.codes));
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(0x3B);
  return out;
}

const std::vector<uint8_t> kFourColours = {10, 20, 30, 200, 0, 0, 0, 200, 0, 0, 0, 200};

// ---- Test pictures ---------------------------------------------------------------

struct Source {
  int width, height;
  std::vector<uint8_t> rgb;
};

// 30 colours in diagonal bands: long repeated strings.
Source bands(int width, int height) {
  Noise n(7);
  std::vector<uint8_t> colours(90);
  for (auto& c : colours) c = static_cast<uint8_t>(n.next());
  Source s{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int k = (x * 7 + y * 3) % 30;
      s.rgb.insert(s.rgb.end(), colours.begin() + 3 * k, colours.begin() + 3 * k + 3);
    }
  return s;
}

// 256 colours at random: few repeated strings, so the code table fills.
Source noise(int width, int height) {
  Noise n(99);
  Source s{width, height, {}};
  for (int i = 0; i < width * height; ++i) {
    const int k = static_cast<int>(n.next() & 255);
    s.rgb.push_back(static_cast<uint8_t>(k));
    s.rgb.push_back(static_cast<uint8_t>(255 - k));
    s.rgb.push_back(static_cast<uint8_t>(k * 7));
  }
  return s;
}

void expectmatchesoracles(const fs::path& dir, const fs::path& file, const std::string& label) {
  SCOPED_TRACE(label);
  const Decoded ours = decode(test::readbytes(file));
  const Picture pnm = test::netpbm("giftopnm '" + file.string() + "'", dir);
  ASSERT_FALSE(pnm.rgb.empty()) << "giftopnm could not read the file";
  ASSERT_EQ(ours.image.width, pnm.width);
  ASSERT_EQ(ours.image.height, pnm.height);
  EXPECT_TRUE(rgbof(ours.image) == pnm.rgb);
  const Picture pil = test::pillowread(file, dir);
  ASSERT_EQ(pil.width, pnm.width);
  if (!pil.indexed.empty()) {
    EXPECT_TRUE(indexedof(ours.image) == pil.indexed);
  }
  EXPECT_EQ(ours.result, pil.transparency);
  if (pil.transparency >= 0) {
    EXPECT_EQ(ours.image.palette[pil.transparency].a, 0);
  }
  EXPECT_EQ(std::string(ours.image.formatTag), "GIF");
}

// ---- Reader --------------------------------------------------------------------------

TEST(GifReader, FilesOfOtherEncodersDecodeAsTheirDecodersSay) {
  if (!test::havepillow() || !test::havetool("pamtogif") || !test::havetool("convert"))
    GTEST_SKIP() << "Pillow, netpbm or ImageMagick missing";
  TempDir dir;
  const Source b = bands(37, 23);
  const Source n = noise(120, 90);
  test::writeppm(dir / "bands.ppm", b.width, b.height, b.rgb);
  test::writeppm(dir / "noise.ppm", n.width, n.height, n.rgb);
  // The colour of band 0 becomes transparent in the pamtogif case.
  char transparent[32];
  std::snprintf(transparent, sizeof transparent, "rgb:%02x/%02x/%02x", b.rgb[0], b.rgb[1], b.rgb[2]);
  const std::string pil = std::string(test::kPython) + " -c \"from PIL import Image; ";
  const struct {
    const char* label;
    std::string command;
  } cases[] = {
      {"pamtogif", "pamtogif bands.ppm > x.gif"},
      {"pamtogif interlaced", "pamtogif -interlace bands.ppm > x.gif"},
      {"pamtogif transparent", std::string("pamtogif -transparent=") + transparent + " bands.ppm > x.gif"},
      {"pamtogif full table", "pamtogif noise.ppm > x.gif"},
      {"pamtogif interlaced full table", "pamtogif -interlace noise.ppm > x.gif"},
      {"Pillow", pil + "Image.open('bands.ppm').quantize(30).save('x.gif', interlace=0)\""},
      {"Pillow interlaced", pil + "Image.open('noise.ppm').quantize(256).save('x.gif', interlace=1)\""},
      {"Pillow transparent", pil + "Image.open('bands.ppm').quantize(30).save('x.gif', transparency=3)\""},
      {"Pillow 4 colours", pil + "Image.open('bands.ppm').quantize(4).save('x.gif', optimize=1)\""},
      {"Pillow 2 colours", pil + "Image.open('noise.ppm').quantize(2).save('x.gif', optimize=1)\""},
      {"ImageMagick", "convert bands.ppm x.gif"},
      {"ImageMagick 8 colours interlaced", "convert noise.ppm -colors 8 -interlace GIF x.gif"},
      {"ImageMagick full table", "convert noise.ppm x.gif"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(test::runshell(c.command, dir.path()).status, 0) << c.command;
    expectmatchesoracles(dir.path(), dir / "x.gif", c.label);
  }
}

TEST(GifReader, HandBuiltStreams) {
  // A GIF87a file with only a local colour table takes the local colours.
  {
    GifLayout s;
    s.version = "GIF87a";
    s.width = 4;
    s.local = kFourColours;
    s.codes = {4, 0, 1, 2, 3, 5};
    const Decoded d = decode(buildgif(s));
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(rgbof(d.image), std::vector<uint8_t>(kFourColours));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d.image.palette[i], (Rgba{kFourColours[3 * i], kFourColours[3 * i + 1], kFourColours[3 * i + 2], 255}));
  }
  // Graphic control extension with and without its transparency bit.
  for (const uint8_t flags : {0x00, 0x01}) {
    GifLayout s;
    s.global = kFourColours;
    s.extensions = {0x21, 0xF9, 4, flags, 0, 0, 2, 0, 0x21, 0xFE, 3, 'a', 'b', 'c', 0};
    s.codes = {4, 1, 5};
    const Decoded d = decode(buildgif(s));
    EXPECT_EQ(d.result, flags ? 2 : -1);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(d.image.palette[i].a, flags && i == 2 ? 0 : 255) << i;
  }
  // The screen size is not the picture size.
  {
    GifLayout s;
    s.global = kFourColours;
    s.screenwidth = s.screenheight = 100;
    s.width = 10;
    s.height = 20;
    s.codes = {4, 0, 5};
    const Decoded d = decode(buildgif(s));
    EXPECT_EQ(d.image.width, 10);
    EXPECT_EQ(d.image.height, 20);
  }
  // Interlaced rows arrive in the order 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
  {
    GifLayout s;
    s.global = std::vector<uint8_t>(16 * 3, 0);
    s.height = 10;
    s.interlaced = true;
    s.mincodesize = 4;
    s.codes = {16};
    for (int v = 0; v < 10; ++v) s.codes.push_back(v);
    s.codes.push_back(17);
    const Decoded d = decode(buildgif(s));
    EXPECT_EQ(indexedof(d.image), (std::vector<uint8_t>{0, 5, 3, 6, 2, 7, 4, 8, 1, 9}));
  }
  // Codes beyond the next free code: 7 repeats the last first pixel after
  // the previous string and leaves 0 as the previous code.
  {
    GifLayout s;
    s.global = kFourColours;
    s.width = 7;
    s.codes = {4, 1, 7, 6, 7, 5};
    const Decoded d = decode(buildgif(s));
    EXPECT_EQ(indexedof(d.image), (std::vector<uint8_t>{1, 1, 1, 1, 1, 0, 1}));
  }
  // Refused before anything is allocated: no image, minimum code sizes 1 and 12.
  {
    const std::vector<uint8_t> noimage = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    Decoded d = decode(noimage);
    EXPECT_EQ(d.result, 0);
    EXPECT_FALSE(d.image.rgb);
    for (int size : {1, 12}) {
      GifLayout s;
      s.global = kFourColours;
      s.mincodesize = size;
      s.codes = {};
      d = decode(buildgif(s));
      EXPECT_EQ(d.result, 0);
      EXPECT_FALSE(d.image.rgb);
      EXPECT_FALSE(d.image.indexed);
    }
  }
}

// A header whose size the LZW data could never fill is refused before the
// picture is allocated; a picture the data could fill, or a small one with
// its end code right away (the rest index 0), still loads.
TEST(GifReader, SizesTheDataCannotHold) {
  const struct Case {
    const char* what;
    int width, height;
    std::vector<int> codes;
    bool loads;
  } cases[] = {
      {"30000 x 2000 from three codes", 30000, 2000, {4, 0, 5}, false},
      {"4096 x 4096 from three codes", 4096, 4096, {4, 0, 5}, false},
      {"256 x 256 ended at once: small pictures pass", 256, 256, {4, 0, 5}, true},
      {"300 x 300 ended at once", 300, 300, {4, 0, 5}, false},
  };
  for (const Case& c : cases) {
    GifLayout s;
    s.global = kFourColours;
    s.width = c.width;
    s.height = c.height;
    s.codes = c.codes;
    const Decoded d = decode(buildgif(s));
    EXPECT_EQ(d.image.indexed != nullptr, c.loads) << c.what;
    EXPECT_EQ(d.unreadable.empty(), c.loads) << c.what << ": " << d.unreadable;
    if (!c.loads) {
      EXPECT_FALSE(d.image.rgb) << c.what;
    }
  }
  // Long strings: 1,200 codes of growing strings fill 600 x 1000 pixels in
  // about 1.6 KB; the bound must let such a file through.
  GifLayout s;
  s.global = kFourColours;
  s.width = 600;
  s.height = 1000;
  s.codes = {4, 0};
  for (int next = 6; next < 1206; ++next) s.codes.push_back(next);
  s.codes.push_back(5);
  const std::vector<uint8_t> file = buildgif(s);
  const Decoded d = decode(file);
  EXPECT_TRUE(d.unreadable.empty()) << d.unreadable << " (" << file.size() << " bytes)";
  ASSERT_TRUE(d.image.indexed);
}

// Clear codes in mid-stream, codes that straddle sub-blocks of every length,
// and a stream that grows to 12-bit codes: Pillow is the judge.
TEST(GifReader, CodeWidthsAndSubBlocksAgreeWithPillow) {
  if (!test::havepillow()) GTEST_SKIP() << "Pillow missing";
  TempDir dir;
  GifLayout s;
  s.global = kFourColours;
  s.mincodesize = 2;
  s.width = 64;
  s.height = 64;
  // Grow to 4 bits, clear, grow again, and then add strings until the table is full.
  s.codes = {4, 0, 1, 2, 3, 6, 7, 8, 4, 3, 2, 1, 0, 6, 9};
  Noise n(5);
  for (int i = 0; i < 4200; ++i) s.codes.push_back(static_cast<int>(n.next() & 3));
  s.codes.push_back(5);
  const auto packed = packlzw(s.mincodesize, s.codes);
  for (size_t blocksize : {255, 1, 2, 3, 7}) {
    SCOPED_TRACE(blocksize);
    std::vector<uint8_t> file = buildgif(s);
    // Replace the data sub-blocks by ones of the chosen length.
    const size_t head = file.size() - subblocks(packed).size() - 1;
    file.resize(head);
    const auto blocks = subblocks(packed, blocksize);
    file.insert(file.end(), blocks.begin(), blocks.end());
    file.push_back(0x3B);
    test::writebytes(dir / "x.gif", file);
    const Picture pil = test::pillowread(dir / "x.gif", dir.path());
    ASSERT_EQ(pil.width, 64);
    const Decoded d = decode(file);
    EXPECT_TRUE(rgbof(d.image) == pil.rgb);
  }
}

// Every cut of a file ends cleanly: what was decoded before the cut is kept,
// everything after it stays 0.
TEST(GifReader, TruncatedFilesStopCleanly) {
  if (!test::havetool("pamtogif")) GTEST_SKIP() << "netpbm missing";
  TempDir dir;
  const Source n = noise(40, 30);
  test::writeppm(dir / "noise.ppm", n.width, n.height, n.rgb);
  ASSERT_EQ(test::runshell("pamtogif -interlace noise.ppm > x.gif", dir.path()).status, 0);
  const std::vector<uint8_t> whole = test::readbytes(dir / "x.gif");
  const Decoded full = decode(whole);
  const std::vector<uint8_t> expected = indexedof(full.image);
  ASSERT_EQ(expected.size(), 1200u);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const Decoded d = decode(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    if (!d.image.indexed) continue;
    const std::vector<uint8_t> got = indexedof(d.image);
    ASSERT_EQ(got.size(), expected.size());
    // Interlaced: compare in the order the rows were decoded.
    size_t mismatches = 0;
    for (size_t i = 0; i < got.size(); ++i)
      if (got[i] != expected[i] && got[i] != 0) ++mismatches;
    EXPECT_EQ(mismatches, 0u) << "cut at " << cut;
  }
}

// ---- Writer --------------------------------------------------------------------------

struct Indexed {
  int width, height;
  std::vector<uint8_t> pixels;
  Palette palette;
};

Palette rainbow() {
  Palette p;
  for (int i = 0; i < 256; ++i)
    p[i] = Rgba{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), 255};
  return p;
}

std::vector<uint8_t> lzwdata(const std::vector<uint8_t>& file) {
  // Header 13 + 768, graphic control extension 8, descriptor 10, then the
  // minimum code size and the sub-blocks.
  size_t pos = 13 + 768 + 8 + 10;
  EXPECT_EQ(file[pos - 10], 0x2C);
  EXPECT_EQ(file[pos], 8);
  ++pos;
  std::vector<uint8_t> data;
  while (pos < file.size() && file[pos] != 0) {
    data.insert(data.end(), file.begin() + static_cast<std::ptrdiff_t>(pos + 1),
                file.begin() + static_cast<std::ptrdiff_t>(pos + 1 + file[pos]));
    pos += 1 + file[pos];
  }
  EXPECT_EQ(file.size(), pos + 2);
  EXPECT_EQ(file.back(), 0x3B);
  return data;
}

// Unpacks codes at the decoder's widths (see packlzw).
std::vector<int> unpacklzw(const std::vector<uint8_t>& data, std::vector<int>* widths = nullptr) {
  std::vector<int> codes;
  int width = 9, next = 258;
  bool first = true;
  size_t bit = 0;
  while (bit + width <= data.size() * 8) {
    int code = 0;
    for (int k = 0; k < width; ++k, ++bit)
      if (data[bit / 8] & (1 << (bit % 8))) code |= 1 << k;
    codes.push_back(code);
    if (widths) widths->push_back(width);
    if (code == 257) break;
    if (code == 256) {
      width = 9;
      next = 258;
      first = true;
    } else if (first) {
      first = false;
    } else if (next < 4096) {
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
  }
  return codes;
}

std::vector<uint8_t> writeandread(const Indexed& p, const fs::path& file) {
  EXPECT_EQ(writegif(file.c_str(), nullptr, p.pixels.data(), p.width, p.height, p.palette, nullptr).status, 1);
  return test::readbytes(file);
}

TEST(GifWriter, IndependentDecodersReadOurFiles) {
  if (!test::havepillow() || !test::havetool("giftopnm")) GTEST_SKIP() << "Pillow or netpbm missing";
  TempDir dir;
  std::vector<Indexed> cases;
  Noise n(3);
  {
    Indexed p{97, 61, {}, rainbow()};  // noise: the table fills and is cleared
    for (int i = 0; i < p.width * p.height; ++i) p.pixels.push_back(static_cast<uint8_t>(n.next()));
    cases.push_back(p);
  }
  {
    Indexed p{300, 200, {}, rainbow()};  // long strings, codes up to 12 bits
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) p.pixels.push_back(static_cast<uint8_t>((x / 3 + y / 5) & 255));
    cases.push_back(p);
  }
  {
    Indexed p{64, 64, std::vector<uint8_t>(64 * 64, 200), rainbow()};  // one colour
    cases.push_back(p);
  }
  {
    Indexed p{1, 1, {42}, rainbow()};
    cases.push_back(p);
  }
  {
    Indexed p{13, 7, {}, rainbow()};  // entries 5 and 9 fully transparent: 5 is written
    p.palette[5].a = p.palette[9].a = 0;
    for (int i = 0; i < 91; ++i) p.pixels.push_back(static_cast<uint8_t>(i % 12));
    cases.push_back(p);
  }
  {
    Indexed p{13, 7, {}, rainbow()};  // the smallest alpha wins over an earlier partial one
    p.palette[7].a = 128;
    p.palette[200].a = 0;
    for (int i = 0; i < 91; ++i) p.pixels.push_back(static_cast<uint8_t>(i % 3 == 0 ? 200 : i));
    cases.push_back(p);
  }
  const int transparent[] = {-1, -1, -1, -1, 5, 200};
  for (size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(c);
    const Indexed& p = cases[c];
    const std::vector<uint8_t> file = writeandread(p, dir / "x.gif");
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
    const Picture pil = test::pillowread(dir / "x.gif", dir.path());
    ASSERT_EQ(pil.width, p.width);
    ASSERT_EQ(pil.height, p.height);
    EXPECT_TRUE(pil.indexed == p.pixels);
    EXPECT_EQ(pil.transparency, transparent[c]);
    const Picture pnm = test::netpbm("giftopnm -alphaout=alpha.pgm x.gif", dir.path());
    ASSERT_EQ(pnm.width, p.width);
    std::vector<uint8_t> expected;
    for (uint8_t v : p.pixels) expected.insert(expected.end(), {p.palette[v].r, p.palette[v].g, p.palette[v].b});
    EXPECT_TRUE(pnm.rgb == expected);
    const Picture alpha = test::netpbm("cat alpha.pgm", dir.path());
    ASSERT_EQ(alpha.width, p.width);
    for (size_t i = 0; i < p.pixels.size(); ++i)
      ASSERT_EQ(alpha.rgb[3 * i] == 0, p.pixels[i] == transparent[c]) << i;
    // And our own reader agrees.
    const Decoded d = decode(file);
    EXPECT_EQ(indexedof(d.image), p.pixels);
    EXPECT_EQ(d.result, transparent[c]);
  }
}

TEST(GifWriter, OneByOnePictureIsClearPixelEnd) {
  TempDir dir;
  const std::vector<uint8_t> file = writeandread(Indexed{1, 1, {0x2A}, rainbow()}, dir / "x.gif");
  // 256, 0x2A, 257 at 9 bits each, least significant bit first: 27 bits.
  EXPECT_EQ(lzwdata(file), (std::vector<uint8_t>{0x00, 0x55, 0x04, 0x04}));
  // The fixed head: screen, flags 0xF7, the table, the control extension without transparency.
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 6, file.begin() + 13), (std::vector<uint8_t>{1, 0, 1, 0, 0xF7, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 781, file.begin() + 799),
            (std::vector<uint8_t>{0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0}));
}

TEST(GifWriter, ClearsAfter3838NewStrings) {
  TempDir dir;
  Noise n(11);
  Indexed p{200, 100, {}, rainbow()};
  for (int i = 0; i < p.width * p.height; ++i) p.pixels.push_back(static_cast<uint8_t>(n.next()));
  std::vector<int> widths;
  const std::vector<int> codes = unpacklzw(lzwdata(writeandread(p, dir / "x.gif")), &widths);
  ASSERT_GT(codes.size(), 5000u);
  EXPECT_EQ(codes.front(), 256);
  EXPECT_EQ(codes.back(), 257);
  // The first code after each clear starts a string; every later code adds
  // one, so 3,839 codes fill codes 258 to 4,095 and the next one is a clear.
  size_t second = 1;
  while (second < codes.size() && codes[second] != 256) ++second;
  ASSERT_LT(second, codes.size());
  EXPECT_EQ(second, 1u + 3839u);
  EXPECT_EQ(widths[second - 1], 12);
  EXPECT_EQ(widths[second], 12);
  EXPECT_EQ(widths[second + 1], 9);
  for (size_t i = 1; i < second; ++i) ASSERT_LT(codes[i], 4096) << i;
}

// Without indexed pixels the writer quantizes: index 0 stays free for the
// transparent colour of the given palette, and the colours come close to
// the picture's.
TEST(GifWriter, QuantizesTrueColourPictures) {
  if (!test::havepillow() || !test::havetool("giftopnm")) GTEST_SKIP() << "Pillow or netpbm missing";
  TempDir dir;
  const Source s = bands(50, 40);
  Palette palette{};
  palette[0] = Rgba{1, 2, 3, 0};
  ASSERT_EQ(writegif((dir / "x.gif").c_str(), s.rgb.data(), nullptr, s.width, s.height, palette, nullptr).status, 1);
  const Picture pil = test::pillowread(dir / "x.gif", dir.path());
  ASSERT_EQ(pil.width, s.width);
  EXPECT_EQ(pil.transparency, 0);
  for (uint8_t v : pil.indexed) ASSERT_NE(v, 0);
  const Picture pnm = test::netpbm("giftopnm x.gif", dir.path());
  EXPECT_TRUE(pnm.rgb == pil.rgb);
  int worst = 0;
  for (size_t i = 0; i < s.rgb.size(); ++i) worst = std::max(worst, std::abs(int(pil.rgb[i]) - int(s.rgb[i])));
  EXPECT_LE(worst, 8);
}

// loadimage finds both formats by their first bytes and gives truecolour pixels.
TEST(GifReader, LoadimageReadsGifFiles) {
  GifLayout s;
  s.global = kFourColours;
  s.width = 4;
  s.codes = {4, 3, 2, 1, 0, 5};
  Image image;
  ASSERT_EQ(loadimage(image, buildgif(s)).status, 1);
  EXPECT_EQ(image.kind, ImageKind::Indexed);
  EXPECT_EQ(image.pixelBytes, 4);
  EXPECT_EQ(rgbof(image), (std::vector<uint8_t>{0, 0, 200, 0, 200, 0, 200, 0, 0, 10, 20, 30}));
  // A file that ends before its first image is no picture: nothing stands in.
  Image empty;
  const std::vector<uint8_t> noimage = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  const ImageResult none = loadimage(empty, noimage);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.unreadable, "the file holds no image");
  EXPECT_FALSE(empty.rgb);
  EXPECT_FALSE(empty.indexed);
}

TEST(GifWriter, RefusesAnOutputThatCannotBeCreated) {
  TempDir dir;
  const Indexed p{1, 1, {0}, rainbow()};
  EXPECT_EQ(writegif((dir / "missing" / "x.gif").c_str(), nullptr, p.pixels.data(), 1, 1, p.palette, nullptr).status, 0);
}

}  // namespace
}  // namespace torvex
