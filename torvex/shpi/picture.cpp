// Pictures reached through the directory: loading and decoding a record,
// and the search for its palette among its neighbours.
#include <cstring>

#include "shpi.h"

namespace torvex {

namespace {

// Palettes standing on their own (not named after a picture) are small.
constexpr int32_t kLoosePaletteLimit = 1400;

std::string_view four(const std::string& name) { return std::string_view(name).substr(0, 4); }

PackEntry* choosepalette(const PackEntry& picture) {
  if (!picture.parent || !picture.parent->directory) return nullptr;
  auto members = picture.parent->directory->members();
  auto first = [&](auto test) -> PackEntry* {
    for (PackEntry& m : members)
      if (test(four(m.name), m)) return &m;
    return nullptr;
  };
  const std::string_view own = four(picture.name);
  PackEntry* found = first([](std::string_view n, const PackEntry&) { return n == "!pal" || n == "!PAL"; });
  if (!found && own.size() > 1)
    found = first([&](std::string_view n, const PackEntry&) { return n.starts_with("!") && n.substr(1) == own.substr(1); });
  if (!found)
    found = first([](std::string_view n, const PackEntry& m) { return n.starts_with("!") && m.size <= kLoosePaletteLimit; });
  if (!found) found = first([](std::string_view n, const PackEntry&) { return n.starts_with("pal") || n.starts_with("PAL"); });
  if (!found)
    found = first([](std::string_view n, const PackEntry& m) { return n == "????" && m.size <= kLoosePaletteLimit; });
  return found;
}

}  // namespace

ShpiPaletteFinder paletteof(const PackEntry& entry) {
  return [&entry](Palette& palette) { return findpalette(entry, palette); };
}

ShpiPaletteRecordFinder paletterecordof(const PackEntry& entry) {
  return [&entry]() { return findpaletterecord(entry); };
}

Block findpaletterecord(const PackEntry& entry) {
  PackEntry* chosen = choosepalette(entry);
  if (!chosen) return {};
  Block bytes = loadlist(*chosen);
  closelist(*chosen, false);
  if (!bytes || bytes.size < 1) return {};
  // A picture record standing for the palette carries it as its attachment.
  if (bytes.data[0] == 0x78 || bytes.data[0] == 0x7B) {
    const int32_t a = shpiattachment(bytes.span());
    if (a >= 1 && a <= bytes.size - 1) return copyblock(bytes.span().subspan(static_cast<size_t>(a)));
  }
  return bytes;
}

int32_t findpalette(const PackEntry& entry, Palette& palette) {
  const Block record = findpaletterecord(entry);
  return record ? decodepalette(record.span(), palette) : 0;
}

int16_t loadpicture(const PackEntry& entry, std::span<const uint8_t> content, ShpiPicture& picture) {
  picture.rgb.reset();
  picture.indexed.reset();
  picture.alpha.reset();
  if (entry.contentkind() == kContentWholeFile) return 0;
  return decodepicture(content, picture, paletteof(entry));
}

}  // namespace torvex
