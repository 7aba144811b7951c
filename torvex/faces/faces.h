// Player faces of the games: which game version a folder holds, the names of
// the face and photo files for a face number, where the pictures of a face
// are found, the built-in palette of the '99 game's second face image, and
// the crop and shrink that make a small photo out of a large one. The "-face"
// command (torvex/commands/faces.cpp) drives them and says what happens.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torvex {

// ---- Game versions ----------------------------------------------------------------

// One game version: the face pack tested to find it (relative to the game
// folder), the folder and the name of its face pack.
struct GameVersion {
  int version;            // 98, 99, 2000 or 2001
  const char* tested;     // "required\\FACES.viv" ...
  const char* directory;  // "required" or "gamedata"
  const char* facepack;   // "FACES.VIV", "FACES99.VIV" ...
};

// The versions in the order they are tried; the first whose face pack exists
// wins, so a folder holding both '98 and '99 packs is a '98 folder.
std::span<const GameVersion> gameversions();

// The game folder as a prefix of the game's paths: a "\" is added unless the
// folder is empty (the current one) or already ends in "\" or "/".
std::string gameprefix(std::string_view folder);

// The version whose face pack is found under `prefix` (letter case of the
// names does not matter), or null.
const GameVersion* detectversion(std::string_view prefix);

// The photo packs of every version, relative to the game folder.
constexpr const char* kLargePhotoPack = "PHOTOS\\BPHOTO.VIV";
constexpr const char* kSmallPhotoPack = "PHOTOS\\SPHOTO.VIV";

// ---- Face numbers and names ---------------------------------------------------------

// A face number on the command line: one to four decimal digits.
enum class FaceNumber { kValid, kTooLong, kNotANumber };
FaceNumber parsefacenumber(std::string_view text, int& number);

// Kinds of face files; kSecondGameFace is the '99 game face's second image.
constexpr int kGameFace = 0;
constexpr int kLargePhoto = 1;
constexpr int kSmallPhoto = 2;
constexpr int kSecondGameFace = 0x80;

// Which kinds a run has to do.
constexpr int kDoGameFaces = 1;
constexpr int kDoLargePhotos = 2;
constexpr int kDoSmallPhotos = 4;

// The SHPI file that holds a face of `kind` in the game's packs, and the
// name of the image inside it.
struct FaceNames {
  std::string file;
  std::string image;
};
FaceNames facefilenames(int kind, int version, int number);

// The base names of a face's pictures in the current folder: "G0005",
// "L0005", "S0005".
std::string picturebase(char letter, int number);

// The extensions a face picture may have, in the order they are tried.
constexpr std::array<const char*, 5> kPictureExtensions = {".png", ".pcx", ".jpg", ".gif", ".bmp"};

// Looks for `base` with each extension in turn; the first file that exists
// (in any letter case) replaces `base`. False when none does.
bool findpicture(std::string& base);

// ---- The '99 palette ------------------------------------------------------------------

// The palette record of the '99 game's second face image: a 16-byte header
// (type 0x24, 256 entries) and 256 RGB entries.
extern const std::array<uint8_t, 16 + 3 * 256> faceGamePalette99;

// ---- Small photos -----------------------------------------------------------------------

struct FaceSize {
  int width = 0;
  int height = 0;
};

// The small photo's size for the versions that define it ('98, '99); a zero
// size for the others, whose size the caller takes from the game's own
// small photos.
FaceSize smallfacesize(int version);

// A truecolour picture: red, green, blue, rows top to bottom.
struct RgbPicture {
  std::vector<uint8_t> rgb;
  int width = 0;
  int height = 0;
};

// The rectangle of a photo on a dark background that holds the face (all
// coordinates inclusive), widened or shortened until it is wider than
// `target` in proportion. False when the picture is too small or too odd to
// give one.
struct CropBox {
  int left = 0, top = 0, right = 0, bottom = 0;
};
bool facecropbox(const RgbPicture& image, FaceSize target, CropBox& box);

// Cuts the face out of a photo on a dark background and shrinks it to about
// `target`'s area with the crop's aspect kept, adding black rows on top
// until it is `target.height` high. False when the picture is too small or
// too odd to give a crop.
bool cropface(const RgbPicture& image, RgbPicture& result, FaceSize target);

// Shrinks (or enlarges, for a step below 1) a width x height truecolour
// picture by a box filter of `step` x `step` pixels sampled every 0.2
// pixel; width and height become the result's.
void shrinkbox(std::span<const uint8_t> source, std::vector<uint8_t>& destination, int& width, int& height,
               double step);

}  // namespace torvex
