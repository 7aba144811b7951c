// PEL: a BMP-like 8-bit layout with the magic "PL"; rows bottom first,
// exactly `width` bytes each.
#include <cstring>

#include "formats.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

int readpel(Image& image, std::span<const uint8_t> bytes) {
  std::memcpy(image.formatTag, "PEL", 4);
  constexpr size_t kPaletteAt = 54;
  if (bytes.size() < kPaletteAt) return 0;
  const int width = static_cast<int16_t>(peek16le(bytes.data() + 18));
  const int height = static_cast<int16_t>(peek16le(bytes.data() + 22));
  const int stated = bytes[50] == 0 ? 256 : bytes[50];
  if (width <= 0 || height <= 0) return 0;

  // All 256 entries are taken whatever the stated count; entries past the
  // end of a short file stay black.
  for (int i = 0; i < 256; ++i) {
    const size_t at = kPaletteAt + 4 * static_cast<size_t>(i);
    image.palette[i] = at + 3 <= bytes.size() ? Rgba{bytes[at + 2], bytes[at + 1], bytes[at], 255} : Rgba{0, 0, 0, 255};
  }
  const size_t pixelsat = kPaletteAt + 4 * static_cast<size_t>(stated);
  const size_t pixels = static_cast<size_t>(width) * height;
  if (pixelsat > bytes.size() || bytes.size() - pixelsat < pixels) return 0;

  prepareimage(image, 3, width, height);
  const uint8_t* data = bytes.data() + pixelsat;
  for (int j = 0; j < height; ++j) {
    const size_t row = static_cast<size_t>(height - 1 - j) * width;
    const uint8_t* src = data + static_cast<size_t>(j) * width;
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

}  // namespace torvex
