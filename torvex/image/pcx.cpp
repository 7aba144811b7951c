// PCX: 256-colour pictures, run-length coded rows, the palette in the last
// 769 bytes of the file.
#include <cstring>
#include <vector>

#include "formats.h"
#include "output.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

constexpr size_t kHeaderBytes = 128;
constexpr size_t kPaletteBytes = 769;

}  // namespace

int readpcx(Image& image, std::span<const uint8_t> bytes) {
  std::memcpy(image.formatTag, "PCX", 4);
  if (bytes.size() < kHeaderBytes) return 0;
  const uint8_t* head = bytes.data();
  const bool encoded = head[2] != 0;
  const int width = peek16le(head + 8) + 1;
  const int height = peek16le(head + 10) + 1;
  const int bytesperline = peek16le(head + 66);
  if (width > 0x7FFF || height > 0x7FFF) return 0;
  // A run byte pair yields at most 63 pixels: a header claiming more pixels
  // than the data could hold is not worth the memory.
  const size_t data = bytes.size() - kHeaderBytes;
  if (static_cast<uint64_t>(width) * height > (data / 2 + 1) * 63) return 0;

  prepareimage(image, 3, width, height);
  if (bytes.size() < kHeaderBytes + kPaletteBytes || bytes[bytes.size() - kPaletteBytes] != 12) {
    report("** unsupported PCX format! **\n");
    return 0;
  }
  const uint8_t* pal = bytes.data() + bytes.size() - kPaletteBytes + 1;
  for (int i = 0; i < 256; ++i) image.palette[i] = Rgba{pal[i * 3], pal[i * 3 + 1], pal[i * 3 + 2], 255};

  // Rows hold `bytes per line` bytes when that is more than the width (the
  // usual even padding); the padding is dropped. Pixels that are not in the
  // file stay zero.
  const int rowlength = bytesperline > width ? bytesperline : width;
  const uint8_t* src = bytes.data() + kHeaderBytes;
  const uint8_t* end = bytes.data() + bytes.size() - kPaletteBytes;
  uint8_t* idx = image.indexed.get();
  uint8_t* rgb = image.rgb.get();
  for (int y = 0; y < height && src < end; ++y) {
    const size_t rowstart = static_cast<size_t>(y) * width;
    int x = 0;
    while (x < rowlength && src < end) {
      int count = 1;
      uint8_t value = *src++;
      if (encoded && (value & 0xC0) == 0xC0) {
        count = value & 0x3F;
        if (src == end) break;
        value = *src++;
      }
      const Rgba& c = image.palette[value];
      for (int k = 0; k < count && x < rowlength; ++k, ++x) {
        if (x >= width) continue;
        idx[rowstart + x] = value;
        uint8_t* p = rgb + (rowstart + x) * 3;
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
      }
    }
  }
  return 1;
}

int16_t writepcx(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                 const Palette& palette, const uint8_t*) {
  if (width <= 0 || height <= 0 || width > 0x10000 || height > 0x10000 || (!rgb && !indexed)) return 0;
  Palette colours = palette;
  Bytes quantized;
  if (!indexed) {
    quantized = quantizeimage(rgb, colours, width, height);
    indexed = quantized.get();
  }

  std::vector<uint8_t> out(kHeaderBytes, 0);
  auto put16 = [&out](size_t at, int v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  out[0] = 10;
  out[1] = 5;
  out[2] = 1;
  out[3] = 8;
  put16(8, width - 1);
  put16(10, height - 1);
  put16(12, width);
  put16(14, height);
  out[65] = 1;
  put16(66, width);
  put16(68, 2);

  out.reserve(kHeaderBytes + static_cast<size_t>(width) * height + kPaletteBytes);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = indexed + static_cast<size_t>(y) * width;
    int x = 0;
    while (x < width) {
      const uint8_t v = row[x];
      if (x <= width - 3 && row[x + 1] == v && row[x + 2] == v) {
        int count = 3;
        while (count < 63 && x + count < width && row[x + count] == v) ++count;
        out.push_back(static_cast<uint8_t>(0xC0 | count));
        out.push_back(v);
        x += count;
      } else {
        if (v >= 0xC0) out.push_back(0xC1);
        out.push_back(v);
        ++x;
      }
    }
  }
  out.push_back(12);
  for (const Rgba& c : colours) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
  return writewholefile(name, out);
}

}  // namespace torvex
