// Palette records: decoding every palette type into RGBA entries, writing
// entries back in a record's own type, and the run's palette cache.
#include <cstdint>

#include "shpi.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

// Bytes per stored entry, or 0 for a type that is no palette.
int palettestride(uint8_t type) {
  switch (type) {
    case 0x22: case 0x40: case 0xC0: case 0x24: return 3;
    case 0x23: case 0x2D: case 0x29: case 0x6F: return 2;
    case 0x2A: case 0x7C: case 0x2E: case 0xFF: return 4;
    default: return 0;
  }
}

Rgba decodeentry(uint8_t type, const uint8_t* b) {
  const unsigned v = peek16le(b);
  auto five = [](unsigned x) { return static_cast<uint8_t>((x & 0x1F) << 3); };
  switch (type) {
    case 0x22: case 0x40: case 0xC0:
      return {static_cast<uint8_t>(b[0] * 4), static_cast<uint8_t>(b[1] * 4), static_cast<uint8_t>(b[2] * 4), 255};
    case 0x23: case 0x2D: return {five(v), five(v >> 5), five(v >> 10), 255};
    case 0x24: return {b[0], b[1], b[2], 255};
    case 0x29: case 0x6F: return {five(v >> 11), five(v >> 6), five(v), 255};
    case 0x2A: case 0x7C: return {b[2], b[1], b[0], b[3]};
    case 0x2E: return {five(v), five(v >> 5), five(v >> 10), b[3]};
    default: return {b[0], b[1], b[2], b[3]};  // 0xFF
  }
}

}  // namespace

int32_t decodepalette(std::span<const uint8_t> record, Palette& palette) {
  if (record.size() < kShpiRecordHeader) return 0;
  const uint8_t type = record[0];
  const int stride = palettestride(type);
  if (stride == 0) return 0;
  const int count = type == 0xFF ? 256 : peek16le(&record[4]);
  const int start = peek16le(&record[10]);
  const size_t room = (record.size() - kShpiRecordHeader) / static_cast<size_t>(stride);
  int written = 0;
  for (int i = 0; i < count && start + i <= 255 && static_cast<size_t>(i) < room; ++i) {
    palette[static_cast<size_t>(start + i)] = decodeentry(type, &record[kShpiRecordHeader + static_cast<size_t>(stride * i)]);
    ++written;
  }
  // The 8-bit palettes mark their transparent colour by making it the last
  // entry, pure green or pure magenta.
  if (type == 0x24 && written > 0) {
    Rgba& last = palette[static_cast<size_t>(start + written - 1)];
    if ((last.r == 0 && last.g == 255 && last.b == 0) || (last.r == 255 && last.g == 0 && last.b == 255)) last.a = 0;
  }
  return 4 * written;
}

void encodepalette(std::span<uint8_t> record, const Palette& palette) {
  if (record.size() < kShpiRecordHeader) return;
  const uint8_t type = record[0];
  int stride = 0;
  switch (type) {
    case 0x22: case 0x40: case 0xC0: case 0x24: stride = 3; break;
    case 0x23: case 0x2D: case 0x29: stride = 2; break;
    case 0x2A: case 0x7C: stride = 4; break;
    default: return;  // 0x2E, 0x6F, 0xFF and the rest keep their entries
  }
  const int count = peek16le(&record[4]);
  const int start = peek16le(&record[10]);
  const size_t room = (record.size() - kShpiRecordHeader) / static_cast<size_t>(stride);
  for (int i = 0; i < count && start + i <= 255 && static_cast<size_t>(i) < room; ++i) {
    const Rgba& c = palette[static_cast<size_t>(start + i)];
    uint8_t* b = &record[kShpiRecordHeader + static_cast<size_t>(stride * i)];
    unsigned v = 0;
    switch (type) {
      case 0x22: case 0x40: case 0xC0:
        b[0] = c.r >> 2, b[1] = c.g >> 2, b[2] = c.b >> 2;
        break;
      case 0x24:
        b[0] = c.r, b[1] = c.g, b[2] = c.b;
        break;
      case 0x23: case 0x2D:
        v = ((c.b >> 3u) << 10) + ((c.g >> 3u) << 5) + (c.r >> 3u);
        b[0] = static_cast<uint8_t>(v), b[1] = static_cast<uint8_t>(v >> 8);
        break;
      case 0x29:
        v = ((c.r >> 3u) << 11) + ((c.g >> 3u) << 6) + (c.b >> 3u);
        b[0] = static_cast<uint8_t>(v), b[1] = static_cast<uint8_t>(v >> 8);
        break;
      default:  // 0x2A, 0x7C
        b[0] = c.b, b[1] = c.g, b[2] = c.r, b[3] = c.a;
        break;
    }
  }
}

}  // namespace torvex
