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
constexpr const char* kUnsupported = "** unsupported PCX format! **\n";

}  // namespace

int readpcx(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "PCX", 4);
  if (bytes.size() < kHeaderBytes) return 0;
  ByteReader head(bytes.first(kHeaderBytes));
  head.skip(2);
  const bool encoded = head.u8() != 0;
  head.seek(8);
  const int width = head.u16le() + 1;
  const int height = head.u16le() + 1;
  head.seek(66);
  const int bytesperline = head.u16le();
  if (width > 0x7FFF || height > 0x7FFF) return 0;
  // A run byte pair yields at most 63 pixels: a header claiming more pixels
  // than the data could hold is not worth the memory.
  const size_t data = bytes.size() - kHeaderBytes;
  if (static_cast<uint64_t>(width) * height > (data / 2 + 1) * 63) return 0;

  if (!prepareimage(image, 3, width, height, result)) return 0;
  if (bytes.size() < kHeaderBytes + kPaletteBytes || bytes[bytes.size() - kPaletteBytes] != 12) {
    result.notes.emplace_back(kUnsupported);
    return 0;
  }
  ByteReader tail(bytes.last(kPaletteBytes - 1));
  for (Rgba& c : image.palette) {
    const auto entry = tail.bytes(3);
    c = Rgba{entry[0], entry[1], entry[2], 255};
  }

  // Rows hold `bytes per line` bytes when that is more than the width (the
  // usual even padding); the padding is dropped. The pixels end where the
  // palette begins: a file cut short keeps its size, and the pixels that
  // are not in it stay zero.
  const int rowlength = bytesperline > width ? bytesperline : width;
  ByteReader in(bytes.subspan(kHeaderBytes, bytes.size() - kHeaderBytes - kPaletteBytes));
  uint8_t* idx = image.indexed.get();
  uint8_t* rgb = image.rgb.get();
  for (int y = 0; y < height && !in.atend(); ++y) {
    const size_t rowstart = static_cast<size_t>(y) * width;
    int x = 0;
    while (x < rowlength && !in.atend()) {
      int count = 1;
      uint8_t value = in.u8();
      if (encoded && (value & 0xC0) == 0xC0) {
        count = value & 0x3F;
        if (in.atend()) break;
        value = in.u8();
      }
      const Rgba& c = image.palette[value];
      for (int i = 0; i < count && x < rowlength; ++i, ++x) {
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

ImageResult writepcx(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t*) {
  if (width <= 0 || height <= 0 || width > 0x10000 || height > 0x10000 || (!rgb && !indexed)) return {};
  Palette colours = palette;
  Bytes quantized;
  if (!indexed) {
    ImageResult result;
    quantized = quantizeimage(rgb, colours, width, height, result);
    if (!quantized) return result;
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
