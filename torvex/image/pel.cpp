// PEL: a BMP-like 8-bit layout with the magic "PL"; rows bottom first,
// exactly `width` bytes each.
#include <cstring>

#include "formats.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

constexpr size_t kPaletteAt = 54;

int readbody(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  if (bytes.size() < kPaletteAt) return unreadable(result, "the file ends inside its header");
  ByteReader in(bytes);
  in.seek(18);
  const int width = static_cast<int16_t>(in.u16le());
  in.seek(22);
  const int height = static_cast<int16_t>(in.u16le());
  in.seek(50);
  const int stated = in.u8();
  const int entries = stated == 0 ? 256 : stated;
  if (width <= 0 || height <= 0) return unreadable(result, "PEL picture size out of range");

  // All 256 entries are taken whatever the stated count; an entry whose
  // blue, green and red are not all in a short file stays black, as do
  // those after it.
  for (Rgba& c : image.palette) c = Rgba{0, 0, 0, 255};
  ByteReader palette(bytes.subspan(kPaletteAt));
  for (Rgba& c : image.palette) {
    if (palette.remaining() < 3) break;
    const auto entry = palette.bytes(3);
    c = Rgba{entry[2], entry[1], entry[0], 255};
    if (!palette.atend()) palette.skip(1);  // the reserved byte
  }

  // Every row must be there, or the picture is refused.
  in.seek(kPaletteAt + 4 * static_cast<size_t>(entries));
  const size_t pixels = static_cast<size_t>(width) * height;
  if (in.remaining() < pixels) return unreadable(result, "the file ends inside its pixel data");

  if (!prepareimage(image, 3, width, height, result)) return 0;
  for (int j = 0; j < height; ++j) {
    const size_t row = static_cast<size_t>(height - 1 - j) * width;
    const auto src = in.bytes(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
      const Rgba& c = image.palette[src[x]];
      image.indexed[row + x] = src[x];
      uint8_t* p = image.rgb.get() + (row + x) * 3;
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
  return 1;
}

}  // namespace

int readpel(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "PEL", 4);
  try {
    return readbody(image, bytes, result);
  } catch (const ParseError&) {
    return unreadable(result, "the pixels would start past the end of the file");
  }
}

}  // namespace torvex
