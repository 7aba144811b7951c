// Game versions, face numbers, the names of face files and the lookup of a
// face's pictures.
#include "faces.h"
#include "torvex/platform/platform.h"

namespace torvex {

namespace {

// Tried in this order: a folder holding the '98 face pack is a '98 folder,
// whatever else it holds.
constexpr GameVersion kVersions[] = {
    {98, "required\\FACES.viv", "required", "FACES.VIV"},
    {99, "gamedata\\FACES99.viv", "gamedata", "FACES99.VIV"},
    {2000, "gamedata\\FACES00.viv", "gamedata", "FACES00.VIV"},
    {2001, "gamedata\\FACES01.viv", "gamedata", "FACES01.VIV"},
};

}  // namespace

std::span<const GameVersion> gameversions() { return kVersions; }

std::string gameprefix(std::string_view folder) {
  std::string prefix(folder);
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  return prefix;
}

const GameVersion* detectversion(std::string_view prefix) {
  for (const GameVersion& v : kVersions)
    if (fileexists((std::string(prefix) + v.tested).c_str())) return &v;
  return nullptr;
}

FaceNumber parsefacenumber(std::string_view text, int& number) {
  if (text.size() > 4) return FaceNumber::kTooLong;
  if (text.empty()) return FaceNumber::kNotANumber;
  number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return FaceNumber::kNotANumber;
    number = number * 10 + (c - '0');
  }
  return FaceNumber::kValid;
}

FaceNames facefilenames(int kind, int version, int number) {
  const long n = number;
  if (kind == kGameFace || kind == kSecondGameFace)
    return {format("FAC%05ld.FSH", n), kind == kSecondGameFace ? "FAC8" : version == 98 ? "face" : "FAC1"};
  // Photos of the later versions are named by the four digits alone.
  if (version != 98) return {format("%04ld.fsh", n), format("%04ld", n)};
  const char letter = kind == kLargePhoto ? 'L' : 'S';
  if (n >= 1000) return {format("%c%04ld.FSH", letter, n), format("%04ld", n)};
  return {format("%c%03ld.FSH", letter, n), format("%c%03ld", static_cast<char>(letter + 32), n)};
}

std::string picturebase(char letter, int number) { return format("%c%04d", letter, number); }

bool findpicture(std::string& base) {
  for (const char* extension : kPictureExtensions) {
    std::string name = base + extension;
    if (!fileexists(name.c_str())) continue;
    base = std::move(name);
    return true;
  }
  return false;
}

FaceSize smallfacesize(int version) {
  switch (version) {
    case 98:
      return {52, 74};
    case 99:
      return {36, 43};
    default:
      return {};
  }
}

}  // namespace torvex
