// Rebuilding one record: a new picture in the replaced record's own pixel
// type, its palette attachment placed right after the new pixels, and the
// new colours fitted to the palette the game will show them with.
#include <algorithm>
#include <cstring>

#include "replace.h"
#include "torvex/platform/limits.h"

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

void fitpalette(std::span<uint8_t> indices, int width, int height, Palette& own, std::span<uint8_t> reference,
                int oldborder, int options, RebuildEvents& events, int storable) {
  const int newborder = borderindex(indices, width, height);
  const bool transparent = options & kShpiTransparency;
  const auto oldindex = static_cast<uint8_t>(oldborder);
  const auto newindex = static_cast<uint8_t>(newborder);

  if (options & kShpiNewPalette) {
    events.note(RecordNote(RecordNote::kNewPalette));
    // The old border index stays the transparent one: the two entries change places.
    if (transparent && oldborder != newborder) {
      for (uint8_t& x : indices) x = x == oldindex ? newindex : x == newindex ? oldindex : x;
      std::swap(own[oldindex], own[newindex]);
    }
    encodepalette(reference, own);
    return;
  }

  const std::span<uint8_t> record = palettepart(reference);
  Palette game{};
  const int32_t written = decodepalette(record, game) / 4;
  // Only the entries that the record really holds are candidates (the rest
  // of the table is zero-filled and would read as spare black entries), and
  // of those only the ones the pixels can name.
  int first = written > 0 && record.size() >= 12 ? static_cast<int>(get16(&record[10])) : 0;
  int count = std::min(written, storable - first);
  if (count <= 0) first = 0, count = std::min(256, storable);
  const bool outside = std::any_of(indices.begin(), indices.end(), [&](uint8_t x) {
    return x < first || x >= first + count;
  });
  if (game != own || outside) {
    events.note(RecordNote(RecordNote::kRemapping));
    ColourRemap remap(reinterpret_cast<const uint8_t*>(game.data() + first), count, 4, oldborder - first);
    // Only the colours the pixels use are looked up: each lookup is a
    // search of the game's palette.
    bool used[256] = {};
    for (uint8_t x : indices) used[x] = true;
    uint8_t map[256] = {};
    for (size_t k = 0; k < 256; ++k)
      if (used[k]) map[k] = static_cast<uint8_t>(first + remap.nearest(own[k].r, own[k].g, own[k].b));
    for (uint8_t& x : indices) x = transparent && x == newindex ? oldindex : map[x];
  }
  for (size_t k = 0; k < 256; ++k) {
    if (!transparent)
      game[k].a = 255;
    else if (static_cast<int>(k) != oldborder && game[k].a != 0)
      game[k].a = 255;
  }
  encodepalette(record, game);
}

// Requantizes the picture's colours to indices 1 to `colours` - 1 (index 0
// stays the transparent one), with the palette to match; false when the
// quantizer ran out of memory.
bool fewercolours(const Image& image, std::span<uint8_t> indices, Palette& palette, int colours) {
  uint8_t planes[3][256];
  if (!image.rgb || !dl1quant(image.rgb.get(), indices.data(), image.width, image.height, colours - 1, planes))
    return false;
  for (uint8_t& x : indices) ++x;
  palette = Palette{};
  for (int i = 1; i < colours; ++i) palette[i] = Rgba{planes[0][i - 1], planes[1][i - 1], planes[2][i - 1], 255};
  return true;
}

RecordRebuild rebuildrecord(std::span<const uint8_t> record, const Image& image, int options,
                            const ShpiPaletteRecordFinder& find, std::span<const uint8_t> user_palette,
                            RebuildEvents& events) {
  RecordRebuild result;
  auto fail = [&result](RecordRebuild::Status status) {
    result.status = status;
    result.bytes = Block{};
    return std::move(result);
  };
  if (record.size() < kShpiRecordHeader) return fail(RecordRebuild::kNoPictureRecord);
  const ShpiType* type = shpitype(record[0]);
  if (!type) return fail(RecordRebuild::kNoPictureRecord);
  result.type = type->code;
  const size_t size = record.size();
  const int oldwidth = static_cast<int>(get16(&record[4])), oldheight = static_cast<int>(get16(&record[6]));
  uint32_t attachment = get24(&record[1]);
  if (attachment > kLargestAttachment) attachment = 0;
  // An attachment must lie inside the record to be copied from it.
  if (attachment >= size) attachment = 0;

  const int width = image.width, height = image.height;
  if (width != oldwidth || height != oldheight) {
    RecordNote note(RecordNote::kSizeMismatch);
    note.oldwidth = oldwidth, note.oldheight = oldheight, note.width = width, note.height = height;
    events.note(note);
  }

  // The new indices are fitted before they are stored, so the picture to
  // encode gets its own copy of them.
  Image fitted;
  fitted.width = image.width;
  fitted.height = image.height;
  const Image* source = &image;
  const size_t count = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
  if (type->indexed) {
    Block copy = allocblock(static_cast<int32_t>(count + 4));
    if (image.indexed && count) std::memcpy(copy.get(), image.indexed.get(), count);
    fitted.indexed = std::move(copy.data);
    fitted.palette = image.palette;
    source = &fitted;
  }

  const int64_t pixelsize = shpipixelsize(*type, width, height);
  const int64_t end = (kShpiRecordHeader + pixelsize + 3) / 4 * 4;
  if (attachment && end > kAttachmentField) return fail(RecordRebuild::kTooLargeForAttachment);
  const int64_t total = end + (attachment ? static_cast<int64_t>(size - attachment) : 0);
  if (total > kMaxBlock) return fail(RecordRebuild::kTooLarge);
  result.bytes = allocblock(static_cast<int32_t>(total));
  uint8_t* n = result.bytes.get();
  n[0] = record[0] & 0x7F;  // the new pixels are stored uncompressed
  if (attachment) {
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
  if (attachment) std::memcpy(n + end, &record[attachment], size - attachment);
  if (attachment && record[attachment] != 0x7C) {
    reference = result.bytes.mutablespan().subspan(static_cast<size_t>(end));
  } else if (type->indexed) {
    // The directory's palette record itself, so that the entries it does
    // not hold are never chosen.
    const Block found = find ? find() : Block{};
    Palette probe{};
    if (found && decodepalette(found.span(), probe) > 0) {
      working.assign(found.get(), found.get() + found.size);
      reference = working;
    } else {
      events.note(RecordNote(RecordNote::kNoPalette));
    }
    if (!user_palette.empty()) {
      events.note(RecordNote(RecordNote::kExternalPalette));
      working.assign(user_palette.begin(), user_palette.end());
      reference = working;
    }
  }

  // A new palette needs the record's own attachment to live in; without
  // one the game shows the shared palette, so the picture is fitted to it.
  int fitoptions = options;
  if (type->indexed && !reference.empty() && (options & kShpiNewPalette) && reference.data() != n + end) {
    RecordNote note(RecordNote::kNoOwnPalette);
    note.name = image.shpiName;
    events.note(note);
    fitoptions &= ~kShpiNewPalette;
  }

  // 4-bit pixels name 16 entries. Fitting to the game's palette picks among
  // those; a picture that keeps its own colours (a new palette, or none to
  // fit to) is quantized to them instead of having its indices cut.
  const int storable = type->code == 0x40 ? 16 : 256;
  const std::span<uint8_t> indices(fitted.indexed.get(), type->indexed ? count : 0);
  if (storable < 256 && (reference.empty() || (fitoptions & kShpiNewPalette)) &&
      std::any_of(indices.begin(), indices.end(), [&](uint8_t x) { return x >= storable; })) {
    RecordNote note(RecordNote::kFewerColours);
    note.name = image.shpiName;
    note.colours = storable;
    events.note(note);
    if (!fewercolours(image, indices, fitted.palette, storable)) return fail(RecordRebuild::kCantEncode);
  }

  if (type->indexed && !reference.empty()) {
    ShpiPicture old;
    const int oldborder =
        decodepicture(record, old, {}) && old.indexed
            ? borderindex({old.indexed.get(), static_cast<size_t>(old.width) * static_cast<size_t>(old.height)},
                          old.width, old.height)
            : 0;
    fitpalette(indices, width, height, fitted.palette, reference, oldborder, fitoptions, events, storable);
  }

  Block pixels = encodepixels(type->code, *source);
  if (!pixels && pixelsize > 0) return fail(RecordRebuild::kCantEncode);
  if (pixels.size) std::memcpy(n + kShpiRecordHeader, pixels.get(), static_cast<size_t>(pixels.size));
  return result;
}

}  // namespace torvex
