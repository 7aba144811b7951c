// Rebuilding one record: a new picture in the replaced record's own pixel
// type, its palette attachment placed right after the new pixels, and the
// new colours fitted to the palette the game will show them with.
#include <algorithm>
#include <cstring>

#include "replace.h"

namespace torvex {

namespace {

// A palette record is decoded and written back through this many bytes at
// most: the header and 256 entries of four bytes.
constexpr size_t kPaletteRecordLimit = 16 + 1024;
// Larger attachment offsets are garbage, not a chained record.
constexpr uint32_t kLargestAttachment = 1000000;
// The record header's attachment field is 24 bits wide.
constexpr int64_t kAttachmentField = 0xFFFFFF;

uint32_t get24(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }
unsigned get16(const uint8_t* p) { return p[0] | p[1] << 8; }
void put16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

std::span<uint8_t> palettepart(std::span<uint8_t> reference) {
  return reference.first(std::min(reference.size(), kPaletteRecordLimit));
}

}  // namespace

int borderindex(std::span<const uint8_t> indices, int width, int height) {
  if (width <= 0 || height <= 0 || indices.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) return 0;
  int counts[256] = {};
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  for (size_t x = 0; x < w; ++x) {
    ++counts[indices[x]];
    ++counts[indices[(h - 1) * w + x]];
  }
  for (size_t y = 0; y < h; ++y) {
    ++counts[indices[y * w]];
    ++counts[indices[y * w + w - 1]];
  }
  const int threshold = (width + height) * 2 / 3;
  for (int i = 0; i < 256; ++i)
    if (counts[i] > threshold) return i;
  return 0;
}

void fitpalette(std::span<uint8_t> indices, int width, int height, Palette& own, std::span<uint8_t> reference, int u,
                int options) {
  const int v = borderindex(indices, width, height);
  const bool transparent = options & kShpiTransparency;

  if (options & kShpiNewPalette) {
    message("creating new palette\n");
    if (transparent && u != v) {
      for (uint8_t& x : indices) x = x == u ? static_cast<uint8_t>(v) : x == v ? static_cast<uint8_t>(u) : x;
      std::swap(own[static_cast<size_t>(u)], own[static_cast<size_t>(v)]);
    }
    encodepalette(reference, own);
    return;
  }

  const std::span<uint8_t> record = palettepart(reference);
  Palette game{};
  const int32_t written = decodepalette(record, game) / 4;
  if (game != own) {
    message("palettes are different, remapping...\n");
    // Only the entries that the record really holds are candidates: the rest
    // of the table is zero-filled and would read as spare black entries.
    const int start = record.size() >= 12 ? static_cast<int>(get16(&record[10])) : 0;
    const int entries = written > 0 ? std::min(256, start + written) : 0;
    ColourRemap remap(reinterpret_cast<const uint8_t*>(game.data()), entries, 4, u);
    uint8_t map[256];
    for (size_t k = 0; k < 256; ++k) map[k] = static_cast<uint8_t>(remap.nearest(own[k].r, own[k].g, own[k].b));
    for (uint8_t& x : indices) x = transparent && x == v ? static_cast<uint8_t>(u) : map[x];
  }
  for (size_t k = 0; k < 256; ++k) {
    if (!transparent)
      game[k].a = 255;
    else if (static_cast<int>(k) != u && game[k].a != 0)
      game[k].a = 255;
  }
  encodepalette(record, game);
}

Block rebuildrecord(std::span<const uint8_t> record, const Image& image, int options, const ShpiPaletteFinder& find,
                    std::span<const uint8_t> user_palette) {
  if (record.size() < kShpiRecordHeader) return {};
  const ShpiType* type = shpitype(record[0]);
  if (!type) return {};
  const size_t size = record.size();
  const int ow = static_cast<int>(get16(&record[4])), oh = static_cast<int>(get16(&record[6]));
  uint32_t a = get24(&record[1]);
  if (a > kLargestAttachment) a = 0;
  // An attachment must lie inside the record to be copied from it.
  if (a >= size) a = 0;

  const int width = image.width, height = image.height;
  if (width != ow || height != oh) message("WARNING: size mismatch (orig %dx%d, new %dx%d)\n", ow, oh, width, height);

  // The new indices are fitted before they are stored, so the picture to
  // encode gets its own copy of them.
  Image fitted;
  fitted.width = image.width;
  fitted.height = image.height;
  const Image* source = &image;
  if (type->indexed) {
    const size_t count = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
    Block copy = allocblock(static_cast<int32_t>(count + 4));
    if (image.indexed && count) std::memcpy(copy.get(), image.indexed.get(), count);
    fitted.indexed = std::move(copy.data);
    fitted.palette = image.palette;
    source = &fitted;
  }

  const int64_t pixelsize = shpipixelsize(*type, width, height);
  const int64_t end = (kShpiRecordHeader + pixelsize + 3) / 4 * 4;
  if (a && end > kAttachmentField)
    fatal("picture %dx%d is too large for a record with a palette attachment\n", width, height);
  const int64_t total = end + (a ? static_cast<int64_t>(size - a) : 0);
  if (total > 0x7FFFFFF0) fatal("picture %dx%d is too large for an SHPI record\n", width, height);
  Block out = allocblock(static_cast<int32_t>(total));
  uint8_t* n = out.get();
  n[0] = record[0] & 0x7F;  // the new pixels are stored uncompressed
  if (a) {
    n[1] = static_cast<uint8_t>(end), n[2] = static_cast<uint8_t>(end >> 8), n[3] = static_cast<uint8_t>(end >> 16);
  } else {
    std::memcpy(n + 1, &record[1], 3);
  }
  put16(n + 4, static_cast<unsigned>(width));
  put16(n + 6, static_cast<unsigned>(height));
  std::memcpy(n + 8, &record[8], 8);

  // The reference palette: the record's own attachment, else the
  // directory's palette, overridden by a "-pal" file.
  std::span<uint8_t> reference;
  std::vector<uint8_t> working;
  if (a) std::memcpy(n + end, &record[a], size - a);
  if (a && record[a] != 0x7C) {
    reference = out.mutablespan().subspan(static_cast<size_t>(end));
  } else if (type->indexed) {
    Palette found{};
    if (find && find(found) > 0) {
      working.assign(kPaletteRecordLimit, 0);
      working[0] = 0xFF;
      working[4] = 1;
      std::memcpy(working.data() + kShpiRecordHeader, found.data(), 1024);
      reference = working;
    } else {
      message("WARNING: no palette in pack file\n");
    }
    if (!user_palette.empty()) {
      message("using supplied external palette file\n");
      working.assign(user_palette.begin(), user_palette.end());
      reference = working;
    }
  }

  if (type->indexed && !reference.empty()) {
    ShpiPicture old;
    const int u = decodepicture(record, old, {}) && old.indexed
                      ? borderindex({old.indexed.get(), static_cast<size_t>(old.width) * static_cast<size_t>(old.height)},
                                    old.width, old.height)
                      : 0;
    const size_t count = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
    // A new palette needs the record's own attachment to live in; without
    // one the game shows the shared palette, so the picture is fitted to it.
    int fitoptions = options;
    if ((options & kShpiNewPalette) && reference.data() != n + end) {
      message("WARNING: '%s' has no palette of its own, fitting it to the game's palette\n", image.shpiName);
      fitoptions &= ~kShpiNewPalette;
    }
    fitpalette({fitted.indexed.get(), count}, width, height, fitted.palette, reference, u, fitoptions);
  }

  Block pixels = encodepixels(type->code, *source);
  if (!pixels && pixelsize > 0) fatal("couldn't encode '%s' as SHPI type 0x%02X\n", image.sourceName.c_str(), type->code);
  if (pixels.size) std::memcpy(n + kShpiRecordHeader, pixels.get(), static_cast<size_t>(pixels.size));
  return out;
}

Block replacerecord(PackEntry& entry, const Image& input, int options, std::span<const uint8_t> user_palette) {
  if (input.isData) {
    Block copy = allocblock(input.pixelBytes);
    if (input.pixelBytes) std::memcpy(copy.get(), input.indexed.get(), static_cast<size_t>(input.pixelBytes));
    return copy;
  }
  Block record = loadlist(entry);
  if (!record) fatal("couldn't read '%s'\n", entry.name.c_str());
  Block rebuilt = rebuildrecord(record.span(), input, options,
                                [&entry](Palette& palette) { return findpalette(entry, palette); }, user_palette);
  if (!rebuilt) fatal("'%s' is no picture record, can't replace it with the image '%s'\n", entry.name.c_str(),
                      input.sourceName.c_str());
  return rebuilt;
}

}  // namespace torvex
