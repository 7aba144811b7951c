// PCX: run-length coded rows of colour planes. Read: 256 colours (palette in
// the last 769 bytes, or grey without it), 24-bit (three 8-bit planes, a
// fourth for opacity), and 2 to 16 colours from the header's 16-entry
// palette (1 bit in 1 to 4 planes, or 2 or 4 bits packed in one). Written:
// 256 colours.
#include <algorithm>
#include <cstring>
#include <vector>

#include "formats.h"
#include "output.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

constexpr size_t kHeaderBytes = 128;
constexpr size_t kPaletteBytes = 769;
constexpr size_t kHeaderPaletteAt = 16;
constexpr const char* kUnsupported = "** unsupported PCX format! **\n";

enum class Layout { kPalette256, kTrueColour, kHeaderPalette };

}  // namespace

int readpcx(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "PCX", 4);
  if (bytes.size() < kHeaderBytes) return unreadable(result, "the file ends inside its header");
  ByteReader head(bytes.first(kHeaderBytes));
  head.skip(2);
  const bool encoded = head.u8() != 0;
  const int bits = head.u8();
  head.seek(8);
  const int width = head.u16le() + 1;
  const int height = head.u16le() + 1;
  head.seek(65);
  const int planes = head.u8();
  const int bytesperline = head.u16le();

  Layout layout;
  if (bits == 8 && planes == 1)
    layout = Layout::kPalette256;
  else if (bits == 8 && (planes == 3 || planes == 4))
    layout = Layout::kTrueColour;
  else if ((bits == 1 && planes >= 1 && planes <= 4) || ((bits == 2 || bits == 4) && planes == 1))
    layout = Layout::kHeaderPalette;
  else {
    result.notes.emplace_back(kUnsupported);
    return unreadable(result, format("PCX of %d bits in %d planes is not supported", bits, planes));
  }
  if (width > 0x7FFF || height > 0x7FFF) return unreadable(result, "PCX picture size out of range");

  // The pixels end where the 256-colour palette begins; a file without one
  // is grey.
  const bool tail = layout == Layout::kPalette256 && bytes.size() >= kHeaderBytes + kPaletteBytes &&
                    bytes[bytes.size() - kPaletteBytes] == 12;
  const size_t dataend = tail ? bytes.size() - kPaletteBytes : bytes.size();
  // A plane row holds at least the row's bits; more is the usual even
  // padding, which is dropped.
  const size_t needed = (static_cast<size_t>(width) * bits + 7) / 8;
  const size_t planebytes = static_cast<size_t>(bytesperline) > needed ? bytesperline : needed;
  const size_t linebytes = planebytes * planes;
  // A run byte pair yields at most 63 bytes: a header claiming more than
  // the data could hold is not worth the memory.
  const size_t data = dataend - kHeaderBytes;
  if (static_cast<uint64_t>(linebytes) * height > (data / 2 + 1) * 63)
    return unreadable(result, "the PCX header claims more pixels than the file holds");

  switch (layout) {
    case Layout::kPalette256:
      if (tail) {
        ByteReader colours(bytes.last(kPaletteBytes - 1));
        for (Rgba& c : image.palette) {
          const auto entry = colours.bytes(3);
          c = Rgba{entry[0], entry[1], entry[2], 255};
        }
      } else {
        for (int i = 0; i < 256; ++i) {
          const auto v = static_cast<uint8_t>(i);
          image.palette[i] = Rgba{v, v, v, 255};
        }
      }
      break;
    case Layout::kHeaderPalette:
      for (Rgba& c : image.palette) c = Rgba{0, 0, 0, 255};
      for (int i = 0; i < 16; ++i) {
        const uint8_t* e = bytes.data() + kHeaderPaletteAt + 3 * i;
        image.palette[i] = Rgba{e[0], e[1], e[2], 255};
      }
      // Two equal colours say nothing: such monochrome files are black on white.
      if (bits * planes == 1 && image.palette[0] == image.palette[1]) {
        image.palette[0] = Rgba{0, 0, 0, 255};
        image.palette[1] = Rgba{255, 255, 255, 255};
      }
      break;
    case Layout::kTrueColour:
      break;
  }
  const bool indexed = layout != Layout::kTrueColour;
  if (!prepareimage(image, indexed ? 3 : 2, width, height, result)) return 0;
  if (layout == Layout::kTrueColour && planes == 4) {
    image.alpha.reset(static_cast<uint8_t*>(allocmem(width * height)));
  }

  // Each scan line is decoded whole (a run may cross from one plane into
  // the next, not into the next line: what would fall beyond is dropped),
  // then taken apart. A file cut short keeps its size; the lines that are
  // not in it stay black.
  ByteReader in(bytes.subspan(kHeaderBytes, data));
  std::vector<uint8_t> line(linebytes);
  for (int y = 0; y < height; ++y) {
    if (in.atend()) {
      result.cutshort = true;
      break;
    }
    std::fill(line.begin(), line.end(), 0);
    size_t at = 0;
    while (at < linebytes && !in.atend()) {
      int count = 1;
      uint8_t value = in.u8();
      if (encoded && (value & 0xC0) == 0xC0) {
        count = value & 0x3F;
        if (in.atend()) break;
        value = in.u8();
      }
      for (int i = 0; i < count && at < linebytes; ++i) line[at++] = value;
    }
    if (at < linebytes) result.cutshort = true;

    const size_t first = static_cast<size_t>(y) * width;
    if (layout == Layout::kTrueColour) {
      uint8_t* rgb = image.rgb.get() + first * 3;
      for (int x = 0; x < width; ++x)
        for (int k = 0; k < 3; ++k) rgb[x * 3 + k] = line[k * planebytes + x];
      if (planes == 4)
        for (int x = 0; x < width; ++x) image.alpha[first + x] = line[3 * planebytes + x];
      continue;
    }
    uint8_t* idx = image.indexed.get() + first;
    uint8_t* rgb = image.rgb.get() + first * 3;
    for (int x = 0; x < width; ++x) {
      uint8_t v = 0;
      if (bits == 8) {
        v = line[x];
      } else if (bits == 1) {
        for (int k = 0; k < planes; ++k) v |= ((line[k * planebytes + x / 8] >> (7 - x % 8)) & 1) << k;
      } else {
        const int perbyte = 8 / bits;
        v = (line[x / perbyte] >> (8 - bits * (x % perbyte + 1))) & ((1 << bits) - 1);
      }
      const Rgba& c = image.palette[v];
      idx[x] = v;
      rgb[x * 3] = c.r;
      rgb[x * 3 + 1] = c.g;
      rgb[x * 3 + 2] = c.b;
    }
  }
  // An opacity plane left empty means an opaque picture.
  if (image.alpha) {
    const size_t pixels = static_cast<size_t>(width) * height;
    if (std::all_of(image.alpha.get(), image.alpha.get() + pixels, [](uint8_t a) { return a == 0; })) image.alpha.reset();
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
