// The record rebuild on arbitrary template records: a small picture takes
// the place of every record of an SHPI file (or of the input itself when it
// is no SHPI file), in the four combinations of the palette and
// transparency options, with and without a directory palette and a "-pal"
// record. Attachment offsets, counts and start indices come from the input.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../quiet.h"
#include "torvex/shpi/replace.h"

namespace {

torvex::Image picture;
std::vector<uint8_t> userpalette;
torvex::RebuildEvents events;  // what the rebuild says along the way is beside the point here

void setup() {
  torvex::fuzz::quietservices();
  constexpr int kSide = 12;
  torvex::ImageResult prepared;
  torvex::prepareimage(picture, 3, kSide, kSide, prepared);
  picture.kind = torvex::Indexed;
  for (int i = 0; i < kSide * kSide; ++i) {
    const bool border = i % kSide == 0 || i / kSide == 0 || i % kSide == kSide - 1 || i / kSide == kSide - 1;
    picture.indexed[static_cast<size_t>(i)] = border ? 7 : static_cast<uint8_t>(i % 40);
  }
  // Forty colours in use: 24 close together (one cell of the remap's colour
  // map, so that it fills the whole cell), the rest spread out. Each colour
  // used costs a search of the game's palette; the unused entries cost
  // nothing.
  for (int k = 0; k < 256; ++k)
    picture.palette[static_cast<size_t>(k)] =
        k < 24 ? torvex::Rgba{uint8_t(96 + 8 * (k % 4)), uint8_t(96 + 4 * (k / 4)), 100, 255}
               : torvex::Rgba{uint8_t(k * 37), uint8_t(255 - k * 13), uint8_t(k * 91), 255};
  (void)torvex::completeimage(picture);
  userpalette.assign(2000, 0);
  userpalette[0] = 0x24;
  userpalette[4] = 200;
  for (size_t i = 16; i < 16 + 600; ++i) userpalette[i] = static_cast<uint8_t>(i * 11);
}

void rebuild(std::span<const uint8_t> record) {
  // Options 0, 2, 4 and 6: keep or new palette, transparency off or on.
  // The directory palette is there in two of them, the "-pal" record in one.
  for (int options = 0; options < 8; options += 2) {
    const bool directory = options == 0 || options == 4;
    const torvex::ShpiPaletteRecordFinder find = [directory]() -> torvex::Block {
      if (!directory) return {};
      // A 0x2A palette record of 200 entries.
      torvex::Block record = torvex::allocblock(16 + 4 * 200);
      record.data[0] = 0x2A;
      record.data[4] = 200;
      for (int32_t k = 0; k < 200; ++k)
        for (int c = 0; c < 4; ++c) record.data[16 + 4 * k + c] = static_cast<uint8_t>(k * (c + 1));
      return record;
    };
    const std::span<const uint8_t> user = options == 6 ? std::span<const uint8_t>(userpalette) : std::span<const uint8_t>();
    try {
      (void)torvex::rebuildrecord(record, picture, options, find, user, events);
    } catch (const torvex::FatalError&) {
      // A refusal through the fatal service is an answer, not a fault.
    }
  }
}

uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!picture.indexed) setup();
  // Inputs above this size add time, not new paths.
  if (size > (128u << 10)) return 0;
  const std::span<const uint8_t> bytes(data, size);
  if (size >= 16 && std::memcmp(data, "SHPI", 4) == 0) {
    const uint32_t count = std::min<uint32_t>(get32(data + 8), static_cast<uint32_t>((size - 16) / 8));
    for (uint32_t i = 0; i < count && i < 16; ++i) {
      const uint32_t offset = get32(data + 16 + 8 * i);
      if (offset >= size) continue;
      uint32_t end = static_cast<uint32_t>(size);
      for (uint32_t k = 0; k < count; ++k) {
        const uint32_t other = get32(data + 16 + 8 * k);
        if (other > offset && other < end) end = other;
      }
      rebuild(bytes.subspan(offset, end - offset));
    }
    return 0;
  }
  rebuild(bytes);
  return 0;
}
