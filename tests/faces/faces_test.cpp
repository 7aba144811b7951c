// The face library: names of face files, face numbers, the game folder
// prefix and version detection, the '99 palette, and the crop and shrink
// of small photos on pictures drawn here with known dark borders.
#include "torvex/faces/faces.h"

#include <gtest/gtest.h>

#include "support.h"
#include "torvex/platform/text.h"

namespace torvex {
namespace {

namespace fs = std::filesystem;

TEST(FaceNames, EveryKindVersionAndNumberRange) {
  struct Case {
    int kind, version, number;
    const char* file;
    const char* image;
  };
  const Case cases[] = {
      {kGameFace, 98, 5, "FAC00005.FSH", "face"},
      {kGameFace, 99, 1234, "FAC01234.FSH", "FAC1"},
      {kGameFace, 2001, 7, "FAC00007.FSH", "FAC1"},
      {kSecondGameFace, 99, 5, "FAC00005.FSH", "FAC8"},
      // '98 photos: three digits and a lower-case letter below 1000, four
      // digits alone from 1000 on.
      {kLargePhoto, 98, 5, "L005.FSH", "l005"},
      {kLargePhoto, 98, 999, "L999.FSH", "l999"},
      {kLargePhoto, 98, 1234, "L1234.FSH", "1234"},
      {kSmallPhoto, 98, 5, "S005.FSH", "s005"},
      {kSmallPhoto, 98, 1000, "S1000.FSH", "1000"},
      // Later versions: large and small photos share their names.
      {kLargePhoto, 99, 5, "0005.fsh", "0005"},
      {kLargePhoto, 99, 1234, "1234.fsh", "1234"},
      {kSmallPhoto, 2000, 5, "0005.fsh", "0005"},
      {kSmallPhoto, 2001, 0, "0000.fsh", "0000"},
  };
  for (const Case& c : cases) {
    const FaceNames names = facefilenames(c.kind, c.version, c.number);
    EXPECT_EQ(names.file, c.file) << c.kind << " " << c.version << " " << c.number;
    EXPECT_EQ(names.image, c.image) << c.kind << " " << c.version << " " << c.number;
  }
  EXPECT_EQ(picturebase('G', 5), "G0005");
  EXPECT_EQ(picturebase('L', 1234), "L1234");
}

TEST(FaceNames, FaceNumbersAreOneToFourDigits) {
  struct Case {
    const char* text;
    FaceNumber result;
    int number;
  };
  const Case cases[] = {
      {"5", FaceNumber::kValid, 5},           {"0012", FaceNumber::kValid, 12},
      {"9999", FaceNumber::kValid, 9999},     {"12345", FaceNumber::kTooLong, 0},
      {"00001", FaceNumber::kTooLong, 0},     {"", FaceNumber::kNotANumber, 0},
      {"12a", FaceNumber::kNotANumber, 0},    {"-5", FaceNumber::kNotANumber, 0},
      {"+5", FaceNumber::kNotANumber, 0},     {" 5", FaceNumber::kNotANumber, 0},
  };
  for (const Case& c : cases) {
    int n = -1;
    EXPECT_EQ(parsefacenumber(c.text, n), c.result) << c.text;
    if (c.result == FaceNumber::kValid) {
      EXPECT_EQ(n, c.number) << c.text;
    }
  }
}

TEST(GameFolder, PrefixGetsOneSeparator) {
  struct Case {
    const char* folder;
    const char* prefix;
  };
  const Case cases[] = {
      {"", ""},                // the current folder
      {"\\", "\\"},            // a root
      {".", ".\\"},            // one character, still a folder name
      {"d", "d\\"},
      {"C:", "C:\\"},
      {"games\\nhl", "games\\nhl\\"},
      {"games\\", "games\\"},
      {"games/", "games/"},
  };
  for (const Case& c : cases) EXPECT_EQ(gameprefix(c.folder), c.prefix) << c.folder;
}

TEST(GameFolder, VersionsAreTriedInOrderInAnyLetterCase) {
  test::TempDir dir;
  test::CurrentFolder in(dir.path());
  EXPECT_EQ(detectversion(""), nullptr);
  struct Step {
    const char* file;  // added to the folder
    int version;       // then found
  };
  // Each pack added wins over those before it only when it comes earlier in
  // the order 98, 99, 2000, 2001.
  const Step steps[] = {
      {"GameData/faces01.viv", 2001},
      {"GameData/Faces00.VIV", 2000},
      {"GameData/FACES99.VIV", 99},
      {"Required/faces.viv", 98},
  };
  for (const Step& s : steps) {
    fs::create_directories(fs::path(s.file).parent_path());
    test::writetext(s.file, "pack");
    const GameVersion* v = detectversion("");
    ASSERT_NE(v, nullptr) << s.file;
    EXPECT_EQ(v->version, s.version) << s.file;
  }
}

TEST(FacePictures, ExtensionsAreTriedInOrder) {
  test::TempDir dir;
  test::CurrentFolder in(dir.path());
  std::string base = "G0005";
  EXPECT_FALSE(findpicture(base));
  EXPECT_EQ(base, "G0005");
  // Added from the last extension to the first: each time the new one wins.
  for (const char* name : {"G0005.bmp", "G0005.gif", "G0005.JPG", "g0005.pcx", "G0005.png"}) {
    test::writetext(name, "x");
    base = "G0005";
    ASSERT_TRUE(findpicture(base)) << name;
    EXPECT_TRUE(endswithname(base, fs::path(name).extension().string())) << base;
  }
}

TEST(FacePalette99, HeaderAndTableRows) {
  const auto& p = faceGamePalette99;
  const std::vector<uint8_t> header = {0x24, 0, 0, 0, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 16), header);
  auto entry = [&](int i) {
    return static_cast<uint32_t>(p[16 + 3 * i] << 16 | p[17 + 3 * i] << 8 | p[18 + 3 * i]);
  };
  // The first and last entry of every row of sixteen, and the ramps between.
  const std::pair<int, uint32_t> spots[] = {
      {0, 0x000000},   {15, 0x797979},  {16, 0x818181},  {31, 0xffffff},  {32, 0x382810},  {47, 0x917159},
      {48, 0x997561},  {63, 0xf6c2ae},  {64, 0x654c40},  {79, 0xaa8975},  {80, 0xb29179},  {95, 0xfad2b2},
      {96, 0x693838},  {111, 0xae7575}, {112, 0xb27d7d}, {127, 0xfabebe}, {128, 0x594c48}, {143, 0xa58d85},
      {144, 0xae958d}, {159, 0xffdace}, {160, 0x85795d}, {161, 0x85795d}, {175, 0xaea179}, {176, 0xb2a179},
      {191, 0xfac2a1}, {192, 0x794840}, {207, 0xc2958d}, {208, 0xc29991}, {223, 0xfae2ce}, {224, 0x595048},
      {239, 0xa59589}, {240, 0xaa998d}, {255, 0xfae2d2},
  };
  for (const auto& [i, rgb] : spots) EXPECT_EQ(entry(i), rgb) << "entry " << i;
  for (int i = 0; i < 32; ++i) EXPECT_EQ(p[16 + 3 * i], p[17 + 3 * i]) << "grey ramp, entry " << i;
}

// ---- Crop and shrink ------------------------------------------------------------------

struct Rect {
  int left, top, right, bottom;
};

// A width x height picture of `background` with `face` filled in `colour`.
RgbPicture picture(int width, int height, uint8_t background, Rect face, std::array<uint8_t, 3> colour) {
  RgbPicture p;
  p.width = width;
  p.height = height;
  p.rgb.assign(static_cast<size_t>(width) * height * 3, background);
  for (int y = face.top; y <= face.bottom; ++y)
    for (int x = face.left; x <= face.right; ++x)
      std::copy(colour.begin(), colour.end(), p.rgb.begin() + (static_cast<ptrdiff_t>(y) * width + x) * 3);
  return p;
}

constexpr FaceSize k98 = {52, 74};
constexpr std::array<uint8_t, 3> kSkin = {200, 150, 100};

TEST(CropFace, BoxFromTheDarkBorders) {
  // 200 x 300, the face x 50-149 from row 30 to the bottom. Sides: the first
  // dark pixels beside the middle are 49 and 150, 10 more room each: 39-160;
  // top: row 30 less 5; bottom: the last row, whose first pixel is dark.
  // 122 x 275 is narrower than 52:74, so the box widens to 194 columns.
  struct Case {
    const char* what;
    uint8_t background;
    CropBox box;
  };
  const Case cases[] = {
      {"black", 0, {3, 25, 196, 299}},
      {"darkest grey that is still dark", 14, {3, 25, 196, 299}},
      // 15 is neither dark nor bright: no side is found (the box starts 21
      // wide at the middle), and no bottom row qualifies (2*300/3 + 4).
      // 21 x 180 widens to 127 columns.
      {"grey 15", 15, {37, 25, 163, 204}},
  };
  for (const Case& c : cases) {
    const RgbPicture photo = picture(200, 300, c.background, {50, 30, 149, 299}, kSkin);
    CropBox box;
    ASSERT_TRUE(facecropbox(photo, k98, box)) << c.what;
    EXPECT_EQ(box.left, c.box.left) << c.what;
    EXPECT_EQ(box.top, c.box.top) << c.what;
    EXPECT_EQ(box.right, c.box.right) << c.what;
    EXPECT_EQ(box.bottom, c.box.bottom) << c.what;
  }
}

TEST(CropFace, TopIsTheFirstRowWithABrightChannel) {
  struct Case {
    const char* what;
    std::array<uint8_t, 3> marker;  // one pixel in row 40
    int top;
  };
  const Case cases[] = {
      {"16 in one channel is bright", {0, 16, 0}, 35},
      {"15 in every channel is not", {15, 15, 15}, 95},
  };
  for (const Case& c : cases) {
    RgbPicture photo = picture(200, 300, 0, {50, 100, 149, 299}, kSkin);
    std::copy(c.marker.begin(), c.marker.end(), photo.rgb.begin() + (40 * 200 + 5) * 3);
    CropBox box;
    ASSERT_TRUE(facecropbox(photo, k98, box)) << c.what;
    EXPECT_EQ(box.top, c.top) << c.what;
  }
}

TEST(CropFace, AFullWidthCropLosesRowsUntilItIsWideEnough) {
  // No dark pixel at all: the box starts at 20-40 x 0-204 (no bottom row
  // qualifies), widens to the whole width, then loses one row at the top for
  // two at the bottom until 60 / height > 52 / 74: 40 times, to 85 rows.
  const RgbPicture photo = picture(60, 300, 0, {0, 0, 59, 299}, kSkin);
  CropBox box;
  ASSERT_TRUE(facecropbox(photo, k98, box));
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, 59);
  EXPECT_EQ(box.top, 40);
  EXPECT_EQ(box.bottom, 124);
}

TEST(CropFace, RefusesPicturesThatGiveNoCrop) {
  CropBox box;
  RgbPicture result;
  const RgbPicture empty;
  EXPECT_FALSE(facecropbox(empty, k98, box));
  EXPECT_FALSE(cropface(empty, result, k98));
  // A one-pixel-wide picture can never be wider than 10:1.
  const RgbPicture thin = picture(1, 50, 0, {0, 0, 0, 49}, kSkin);
  EXPECT_FALSE(cropface(thin, result, {100, 10}));
  // The buffer must hold the pixels the size claims.
  RgbPicture short_ = picture(20, 20, 0, {5, 5, 14, 14}, kSkin);
  short_.rgb.resize(100);
  EXPECT_FALSE(cropface(short_, result, k98));
}

TEST(CropFace, ShrinksToTheAreaAndAddsBlackRowsOnTop) {
  // The box of BoxFromTheDarkBorders, 194 x 275: step sqrt(194*275 / (52*74))
  // = 3.72 gives 52 columns and 73 rows, and one black row on top makes 74.
  const RgbPicture photo = picture(200, 300, 0, {50, 30, 149, 299}, kSkin);
  RgbPicture small;
  ASSERT_TRUE(cropface(photo, small, k98));
  ASSERT_EQ(small.width, 52);
  ASSERT_EQ(small.height, 74);
  ASSERT_EQ(small.rgb.size(), 52u * 74 * 3);
  auto at = [&small](int x, int y) { return &small.rgb[(static_cast<size_t>(y) * 52 + x) * 3]; };
  for (int x = 0; x < 52; ++x) EXPECT_EQ(at(x, 0)[0] | at(x, 0)[1] | at(x, 0)[2], 0) << "added row, column " << x;
  EXPECT_EQ(std::vector<uint8_t>(at(26, 40), at(26, 40) + 3), std::vector<uint8_t>(kSkin.begin(), kSkin.end()));
  EXPECT_EQ(at(0, 40)[0], 0);   // the dark margin at the sides
  EXPECT_EQ(at(51, 40)[0], 0);
}

TEST(ShrinkBox, ColumnsAndRowsOfTheGrid) {
  struct Case {
    int width, height;
    double step;
    int columns, rows;
  };
  const Case cases[] = {
      {104, 10, 2.0, 51, 4},   // x = 0, 2, ... 100: 102 < 104 - 2 fails
      {104, 104, 2.0, 51, 51},
      {4, 4, 2.0, 1, 1},
      {10, 10, 1.0, 9, 9},     // step 1 leaves out the last row and column
      {3, 2, 0.5, 5, 3},       // below 1 the picture grows
      {10, 10, 0.0, 0, 0},     // no step, no grid
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> source(static_cast<size_t>(c.width) * c.height * 3, 7);
    std::vector<uint8_t> out;
    int w = c.width, h = c.height;
    shrinkbox(source, out, w, h, c.step);
    EXPECT_EQ(w, c.columns) << c.width << "x" << c.height << " step " << c.step;
    EXPECT_EQ(h, c.rows) << c.width << "x" << c.height << " step " << c.step;
    EXPECT_EQ(out.size(), static_cast<size_t>(c.columns) * c.rows * 3);
    for (uint8_t v : out) ASSERT_EQ(v, 7);
  }
}

TEST(ShrinkBox, EachOutputPixelSamplesItsOwnPlace) {
  // 8 x 8 in quadrants of distinct colours; step 2 gives a 3 x 3 grid.
  // Pixels 0 and 2 of a row or column lie wholly inside one quadrant (the
  // middle one samples across the edge), so they take its colour exactly:
  // columns follow x, rows follow y.
  const int w0 = 8, h0 = 8;
  std::vector<uint8_t> source(static_cast<size_t>(w0) * h0 * 3);
  for (int y = 0; y < h0; ++y)
    for (int x = 0; x < w0; ++x) {
      uint8_t* p = &source[(static_cast<size_t>(y) * w0 + x) * 3];
      p[0] = static_cast<uint8_t>(10 + 40 * (x / 4));
      p[1] = static_cast<uint8_t>(20 + 60 * (y / 4));
      p[2] = 255;
    }
  std::vector<uint8_t> out;
  int w = w0, h = h0;
  shrinkbox(source, out, w, h, 2.0);
  ASSERT_EQ(w, 3);
  ASSERT_EQ(h, 3);
  auto at = [&out](int x, int y) { return std::vector<uint8_t>(&out[(y * 3 + x) * 3], &out[(y * 3 + x) * 3 + 3]); };
  EXPECT_EQ(at(0, 0), (std::vector<uint8_t>{10, 20, 255}));
  EXPECT_EQ(at(2, 0), (std::vector<uint8_t>{50, 20, 255}));
  EXPECT_EQ(at(0, 2), (std::vector<uint8_t>{10, 80, 255}));
  EXPECT_EQ(at(2, 2), (std::vector<uint8_t>{50, 80, 255}));

  // A 0/200 split inside one box averages between them, limited to 255.
  const std::vector<uint8_t> halves = {0, 0, 0, 200, 200, 200, 0, 0, 0, 200, 200, 200,
                                       0, 0, 0, 200, 200, 200, 0, 0, 0, 200, 200, 200};
  w = 4, h = 2;  // x = 0 and 1.5; y = 0
  shrinkbox(halves, out, w, h, 1.5);
  ASSERT_EQ(w, 2);
  ASSERT_EQ(h, 1);
  EXPECT_GT(out[0], 0);
  EXPECT_LT(out[0], 200);
}

}  // namespace
}  // namespace torvex
