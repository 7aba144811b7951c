// The quantizer and the remap, against small pictures whose right answers
// follow from the bin layout, and against a brute-force nearest search.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <set>
#include <vector>

#include "torvex/image/image.h"

namespace torvex {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

std::vector<uint8_t> pixelsof(const std::vector<Rgb>& colours) {
  std::vector<uint8_t> out;
  for (const Rgb& c : colours) out.insert(out.end(), {c.r, c.g, c.b});
  out.insert(out.end(), {0, 0, 0, 0});
  return out;
}

TEST(Quantizer, FewBinsKeepTheirCentres) {
  // Ten colours in ten different bins, one per row so no error carries over.
  const std::vector<Rgb> colours = {{0x13, 0x27, 0xFF}, {0, 0, 0},     {255, 255, 255}, {200, 10, 10},
                                    {10, 200, 10},      {10, 10, 200}, {100, 100, 100}, {50, 60, 70},
                                    {255, 0, 255},      {128, 128, 0}};
  const auto rgb = pixelsof(colours);
  std::vector<uint8_t> out(colours.size());
  uint8_t palette[3][256];
  int count = 0;
  ASSERT_EQ(dl1quant(rgb.data(), out.data(), 1, static_cast<int>(colours.size()), 255, palette, &count), 1);
  EXPECT_EQ(count, 10);
  for (size_t i = 0; i < colours.size(); ++i) {
    const int k = out[i];
    ASSERT_LT(k, 10);
    EXPECT_EQ(palette[0][k], (colours[i].r & 0xF8) + 4) << i;
    EXPECT_EQ(palette[1][k], (colours[i].g & 0xF8) + 4) << i;
    EXPECT_EQ(palette[2][k], (colours[i].b & 0xF8) + 4) << i;
  }
  EXPECT_EQ(palette[0][out[0]], 0x14);
  EXPECT_EQ(palette[1][out[0]], 0x24);
  EXPECT_EQ(palette[2][out[0]], 0xFC);
}

TEST(Quantizer, ManyBinsReduceToExactly255AndSkipIndexZero) {
  const int width = 64, height = 64;
  std::vector<uint8_t> rgb(width * height * 3 + 4);
  std::mt19937 random(7);
  for (size_t i = 0; i < static_cast<size_t>(width * height * 3); ++i) rgb[i] = static_cast<uint8_t>(random());
  Palette palette{};
  palette[0] = Rgba{1, 2, 3, 4};
  ImageResult result;
  Bytes indexed = quantizeimage(rgb.data(), palette, width, height, result);
  ASSERT_TRUE(indexed);
  EXPECT_FALSE(result.refused());
  const auto* first = indexed.get();
  EXPECT_EQ(*std::min_element(first, first + width * height), 1);
  EXPECT_EQ(palette[0], (Rgba{1, 2, 3, 4}));  // entry 0 is left alone

  // The same as dl1quant's 255 colours, one index and one entry up.
  std::vector<uint8_t> plain(width * height);
  uint8_t planes[3][256];
  int count = 0;
  ASSERT_EQ(dl1quant(rgb.data(), plain.data(), width, height, 255, planes, &count), 1);
  EXPECT_EQ(count, 255);
  for (int i = 1; i < 256; ++i) EXPECT_EQ(palette[i], (Rgba{planes[0][i - 1], planes[1][i - 1], planes[2][i - 1], 255})) << i;
  for (int i = 0; i < width * height; ++i) ASSERT_EQ(indexed[i], plain[i] + 1) << i;
}

TEST(Quantizer, UniformRowsOfPaletteColoursMapWithoutError) {
  // Bin centres are palette colours when nothing is reduced; whole rows of
  // one of them must map to it everywhere (no error builds up).
  const int width = 37;
  const Rgb rows[] = {{4, 4, 4}, {252, 12, 132}, {100, 164, 36}};
  std::vector<Rgb> colours;
  for (const Rgb& c : rows) colours.insert(colours.end(), width, c);
  const auto rgb = pixelsof(colours);
  std::vector<uint8_t> out(colours.size());
  uint8_t palette[3][256];
  ASSERT_EQ(dl1quant(rgb.data(), out.data(), width, 3, 255, palette), 1);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < width; ++x) {
      const int k = out[y * width + x];
      EXPECT_EQ(palette[0][k], rows[y].r);
      EXPECT_EQ(palette[1][k], rows[y].g);
      EXPECT_EQ(palette[2][k], rows[y].b);
    }
}

TEST(Quantizer, EqualDistanceMapsToTheLowerIndex) {
  // Two colours wanted from three bins: the single pixel (0,0,8) merges into
  // its parent with the (0,0,0) pixels, giving (4,4,4) at index 1 and (4,4,20)
  // at index 0 (the walk visits higher children first). The pixel's slot
  // centre (4,4,12) is 64 from both: index 0 must win.
  std::vector<Rgb> colours(100, Rgb{0, 0, 0});
  colours.insert(colours.end(), 100, Rgb{0, 0, 16});
  colours.push_back(Rgb{0, 0, 8});
  const auto rgb = pixelsof(colours);
  std::vector<uint8_t> out(colours.size());
  uint8_t palette[3][256];
  int count = 0;
  ASSERT_EQ(dl1quant(rgb.data(), out.data(), 1, static_cast<int>(colours.size()), 2, palette, &count), 1);
  ASSERT_EQ(count, 2);
  EXPECT_EQ((std::vector<int>{palette[0][0], palette[1][0], palette[2][0]}), (std::vector<int>{4, 4, 20}));
  EXPECT_EQ((std::vector<int>{palette[0][1], palette[1][1], palette[2][1]}), (std::vector<int>{4, 4, 4}));
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[100], 0);
  EXPECT_EQ(out[200], 0);
}

TEST(Quantizer, CompleteImageGivesBothForms) {
  // Truecolour: index 0 becomes the transparent black, pixels avoid it.
  Image truecolour;
  ImageResult prepared;
  ASSERT_TRUE(prepareimage(truecolour, 2, 4, 2, prepared));
  truecolour.kind = TrueColour;
  for (int i = 0; i < 24; ++i) truecolour.rgb[i] = static_cast<uint8_t>(i * 10);
  EXPECT_EQ(completeimage(truecolour).status, 1);
  ASSERT_TRUE(truecolour.indexed && truecolour.alpha);
  EXPECT_EQ(truecolour.palette[0], (Rgba{0, 0, 0, 0}));
  for (int i = 0; i < 8; ++i) {
    EXPECT_GE(truecolour.indexed[i], 1);
    EXPECT_EQ(truecolour.alpha[i], 255);
  }

  // Indexed: rgb from the palette; alpha only where the palette has it.
  for (bool translucent : {false, true}) {
    Image indexed;
    ASSERT_TRUE(prepareimage(indexed, 1, 3, 1, prepared));
    indexed.kind = Indexed;
    for (int i = 0; i < 256; ++i) indexed.palette[i] = Rgba{static_cast<uint8_t>(i), 7, 9, 255};
    if (translucent) indexed.palette[2].a = 40;
    indexed.indexed[0] = 1;
    indexed.indexed[1] = 2;
    indexed.indexed[2] = 3;
    EXPECT_EQ(completeimage(indexed).status, 1);
    EXPECT_EQ(indexed.rgb[3], 2);
    EXPECT_EQ(indexed.rgb[4], 7);
    EXPECT_EQ(indexed.alpha[0], 255);
    EXPECT_EQ(indexed.alpha[1], translucent ? 40 : 255);
    EXPECT_EQ(indexed.alpha[2], 255);
  }
}

// The remap answers for the representative colour of the colour's map
// entry; the oracle searches the whole palette for that colour.
int bruteforce(const std::vector<uint8_t>& palette, int entries, int excluded, int r, int g, int b) {
  const int cr = r / 8 * 8 + 4, cg = g / 4 * 4 + 2, cb = b / 8 * 8 + 4;
  int best = INT_MAX, index = -1;
  for (int i = 0; i < entries; ++i) {
    if (i == excluded) continue;
    const int dr = cr - palette[i * 4], dg = cg - palette[i * 4 + 1], db = cb - palette[i * 4 + 2];
    const int d = 4 * dr * dr + 9 * dg * dg + db * db;
    if (d < best) {
      best = d;
      index = i;
    }
  }
  return index;
}

TEST(Remap, AgreesWithBruteForceEverywhere) {
  std::mt19937 random(11);
  struct Case {
    const char* what;
    int entries;
    int excluded;
    bool duplicates;
  } cases[] = {
      {"random 256", 256, -1, false},
      {"duplicates: ties go to the lower index", 256, -1, true},
      {"excluded index", 256, 17, true},
      {"few entries", 5, 0, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> palette(256 * 4);
    for (auto& v : palette) v = static_cast<uint8_t>(random());
    if (c.duplicates)
      for (int i = 128; i < 256; ++i) std::copy_n(&palette[(i - 128) * 4], 4, &palette[i * 4]);
    if (c.excluded >= 0) std::copy_n(&palette[c.excluded * 4], 4, &palette[(c.excluded + 1) * 4 + 0]);
    ColourRemap remap(palette.data(), c.entries, 4, c.excluded);
    int mismatches = 0;
    for (int r = 0; r < 256; r += 8)
      for (int g = 0; g < 256; g += 4)
        for (int b = 0; b < 256; b += 8) {
          // Any colour of the entry gives the same answer as its corner.
          const int got = remap.nearest(r + (g & 7), g + (b & 3), b + (r & 7));
          mismatches += got != bruteforce(palette, c.entries, c.excluded, r, g, b);
        }
    EXPECT_EQ(mismatches, 0) << c.what;
  }
}

TEST(Remap, NeverReturnsTheExcludedIndex) {
  std::vector<uint8_t> palette = {10, 20, 30, 200, 200, 200, 0, 0, 0};
  // Two remaps at once, asked in turn: each keeps its own map.
  ColourRemap without(palette.data(), 3, 3, 0);
  ColourRemap with(palette.data(), 3, 3, -1);
  EXPECT_EQ(without.nearest(10, 20, 30), 2);
  EXPECT_EQ(with.nearest(10, 20, 30), 0);
  EXPECT_EQ(without.nearest(12, 22, 28), 2);
  EXPECT_EQ(with.nearest(12, 22, 28), 0);
}

}  // namespace
}  // namespace torvex
