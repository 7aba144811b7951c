// BMP: palette pictures of 1, 4 and 8 bits (uncompressed, or run-length
// coded with RLE8 and RLE4), and truecolour pictures of 16 bits (5-5-5, or
// any masks given as bit fields), 24 bits and 32 bits (opacity only where a
// mask names it). Rows bottom first, or top first when the height is
// negative; each padded to a multiple of 4 bytes.
#include <bit>
#include <cstring>
#include <vector>

#include "formats.h"
#include "output.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

struct BmpHeader {
  uint32_t size = 0;
  int width = 0;
  int height = 0;
  bool topdown = false;
  int bits = 0;
  uint32_t compression = kRgb;
  int entrybytes = 0;  // bytes of one palette entry
  int colours = 0;     // palette entries stored in the file
  uint32_t masks[4] = {};  // red, green, blue, alpha of 16- and 32-bit pixels
  bool alpha = false;      // the alpha mask counts
};

// One channel of a bit-field pixel, scaled to 8 bits (rounded down, as the
// common decoders do).
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (!m) return;
    shift = std::countr_zero(m);
    max = m >> shift;
  }
  uint8_t operator()(uint32_t pixel) const {
    if (!max) return 0;
    const uint64_t v = (pixel & mask) >> shift;
    return static_cast<uint8_t>(v * 255 / max);
  }
};

// Reads the information header; false, with the reason, when the picture
// is refused. Windows headers of 40 bytes and their later forms (52, 56,
// 108, 124) share their first 40 bytes; the OS/2 headers are 12 bytes, or
// 16 to 64 in their second version.
bool readheader(ByteReader& in, BmpHeader& h, ImageResult& result) {
  const size_t start = in.pos();
  h.size = in.u32le();
  const uint32_t size = h.size;
  if (size == 12) {
    h.width = in.u16le();
    h.height = in.u16le();
    if (in.u16le() != 1) return unreadable(result, "BMP with more than one plane");
    h.bits = in.u16le();
    h.entrybytes = 3;
    h.colours = h.bits <= 8 ? 1 << h.bits : 0;
  } else if (size == 16 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124) {
    // Sizes beyond 16 bits are refused rather than cut to their low bits.
    const uint32_t width = in.u32le();
    h.width = width > 0x7FFF ? 0 : static_cast<int>(width);
    // A negative height marks rows stored top first.
    const int64_t height = static_cast<int32_t>(in.u32le());
    h.topdown = height < 0;
    const int64_t rows = h.topdown ? -height : height;
    h.height = rows > 0x7FFF ? 0 : static_cast<int>(rows);
    in.skip(2);  // planes
    h.bits = in.u16le();
    if (size >= 20) h.compression = in.u32le();
    if (size >= 36) {
      in.skip(12);  // image size, resolutions
      h.colours = static_cast<int>(in.u32le() & 0xFFFF);
    }
    if (h.colours == 0 && h.bits <= 8) h.colours = 1 << h.bits;
    h.entrybytes = 4;
    // OS/2's second header uses 3 and 4 for its own codings.
    if (size == 16 || size == 64) {
      if (h.compression >= kBitFields) return unreadable(result, "OS/2 BMP coding is not supported");
    } else if (size >= 52) {
      in.seek(start + 40);
      for (int k = 0; k < (size >= 56 ? 4 : 3); ++k) h.masks[k] = in.u32le();
    }
  } else {
    return unreadable(result, format("BMP header of %u bytes is not supported", size));
  }
  in.seek(start + size);

  const bool fields = h.compression == kBitFields || h.compression == kAlphaBitFields;
  if (fields && h.size == 40) {
    // The masks follow a 40-byte header.
    for (int k = 0; k < (h.compression == kAlphaBitFields ? 4 : 3); ++k) h.masks[k] = in.u32le();
  }
  const bool supported = (h.compression == kRgb && (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16 ||
                                                     h.bits == 24 || h.bits == 32)) ||
                         (h.compression == kRle8 && h.bits == 8) || (h.compression == kRle4 && h.bits == 4) ||
                         (fields && (h.bits == 16 || h.bits == 32));
  if (!supported)
    return unreadable(result, format("BMP of %d bits with coding %u is not supported", h.bits, h.compression));
  if (h.compression == kRgb && h.bits == 16) {
    h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F, h.masks[3] = 0;
  } else if (h.compression == kRgb && h.bits == 32) {
    h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF, h.masks[3] = 0;
  }
  // Windows ignores an alpha mask unless the pixels are bit fields.
  h.alpha = fields && h.masks[3] != 0 && (h.compression == kAlphaBitFields || h.size >= 56);
  if ((h.compression == kRle8 || h.compression == kRle4) && h.topdown)
    return unreadable(result, "run-length BMP stored top row first");
  if (h.width <= 0 || h.width > 0x7FFF || h.height <= 0 || h.height > 0x7FFF)
    return unreadable(result, "BMP picture size out of range");
  return true;
}

void putindex(Image& image, size_t at, uint8_t index) {
  const Rgba& c = image.palette[index];
  image.indexed[at] = index;
  uint8_t* p = image.rgb.get() + at * 3;
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

// RLE8 and RLE4 from the start of `data`, rows bottom first. Pixels that no
// run reaches keep index 0. True when the data ended before the picture did.
bool decoderle(Image& image, const BmpHeader& h, std::span<const uint8_t> data) {
  ByteReader in(data);
  const bool four = h.compression == kRle4;
  int x = 0, y = 0;  // y counts file rows, from the bottom
  auto put = [&](uint8_t index) {
    if (x < h.width && y < h.height) putindex(image, static_cast<size_t>(h.height - 1 - y) * h.width + x, index);
    ++x;
  };
  while (y < h.height) {
    if (in.remaining() < 2) return true;
    const int count = in.u8();
    const uint8_t value = in.u8();
    if (count > 0) {
      for (int k = 0; k < count; ++k) put(four ? (k & 1 ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of the row
      x = 0;
      ++y;
    } else if (value == 1) {  // end of the picture
      return false;
    } else if (value == 2) {  // move right and up
      if (in.remaining() < 2) return true;
      x += in.u8();
      y += in.u8();
    } else {  // `value` pixels as they are, padded to a whole 16-bit word
      const size_t bytes = four ? (value + 1) / 2 : value;
      if (in.remaining() < bytes) return true;
      const auto literal = in.bytes(bytes);
      for (int k = 0; k < value; ++k) put(four ? (k & 1 ? literal[k / 2] & 15 : literal[k / 2] >> 4) : literal[k]);
      if (bytes & 1) {
        if (in.atend()) return true;
        in.skip(1);
      }
    }
  }
  return false;
}

int readbody(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "BMP", 4);
  ByteReader in(bytes);
  in.skip(10);
  const uint32_t pixeloffset = in.u32le();
  BmpHeader h;
  if (!readheader(in, h, result)) return 0;

  const bool indexed = h.bits <= 8;
  if (indexed) {
    for (Rgba& c : image.palette) c = Rgba{0, 0, 0, 255};
    int entries = h.colours;
    // OS/2's first header has no count: its palette fills the room before
    // the pixels, as many entries as the depth has.
    if (h.size == 12 && pixeloffset >= in.pos()) entries = std::min<int64_t>(entries, (pixeloffset - in.pos()) / 3);
    for (int i = 0; i < entries; ++i) {
      const auto e = in.bytes(static_cast<size_t>(h.entrybytes));
      if (i < 256) image.palette[i] = Rgba{e[2], e[1], e[0], 255};
    }
  }
  if (pixeloffset < in.pos()) return unreadable(result, "BMP pixels start inside the palette");
  in.seek(pixeloffset);

  const bool rle = h.compression == kRle8 || h.compression == kRle4;
  const size_t rowbytes = (static_cast<size_t>(h.width) * h.bits + 7) / 8;
  const size_t stride = (rowbytes + 3) & ~size_t{3};
  // Every row must be there (the last one may lack its pad bytes).
  if (!rle && in.remaining() < stride * (h.height - 1) + rowbytes)
    return unreadable(result, "the file ends inside its pixel data");
  // A run pair yields at most 255 pixels: a header claiming far more than
  // the data could hold (allowing for generous skips) is not worth the memory.
  if (rle && static_cast<uint64_t>(h.width) * h.height > (in.remaining() + 2) * uint64_t{32640})
    return unreadable(result, "the BMP header claims more pixels than the file holds");

  if (!prepareimage(image, indexed ? 3 : 2, h.width, h.height, result)) return 0;
  if (rle) {
    result.cutshort = decoderle(image, h, in.rest());
    return 1;
  }
  const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
  if (h.alpha) {
    image.alpha.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(h.width * h.height))));
  }
  bool anyalpha = false;
  const uint8_t* data = bytes.data() + in.pos();
  for (int y = 0; y < h.height; ++y) {
    const int filerow = h.topdown ? y : h.height - 1 - y;
    const uint8_t* src = data + stride * filerow;
    const size_t first = static_cast<size_t>(y) * h.width;
    uint8_t* dst = image.rgb.get() + first * 3;
    for (int x = 0; x < h.width; ++x) {
      switch (h.bits) {
        case 1:
          putindex(image, first + x, (src[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          putindex(image, first + x, x & 1 ? src[x / 2] & 15 : src[x / 2] >> 4);
          break;
        case 8:
          putindex(image, first + x, src[x]);
          break;
        case 24:
          dst[x * 3] = src[x * 3 + 2];
          dst[x * 3 + 1] = src[x * 3 + 1];
          dst[x * 3 + 2] = src[x * 3];
          break;
        default: {
          const uint32_t p = h.bits == 16 ? peek16le(src + x * 2) : peek32le(src + x * 4);
          dst[x * 3] = red(p);
          dst[x * 3 + 1] = green(p);
          dst[x * 3 + 2] = blue(p);
          if (h.alpha) {
            image.alpha[first + x] = alpha(p);
            anyalpha |= image.alpha[first + x] != 0;
          }
        }
      }
    }
  }
  // Writers that name an alpha mask but leave it empty mean an opaque
  // picture, not an invisible one.
  if (h.alpha && !anyalpha) image.alpha.reset();
  return 1;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

}  // namespace

int readbmp(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  try {
    return readbody(image, bytes, result);
  } catch (const ParseError&) {
    image.rgb.reset();
    image.indexed.reset();
    image.alpha.reset();
    return unreadable(result, "the file ends inside its header or palette");
  }
}

ImageResult writebmp(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t*) {
  if (width <= 0 || height <= 0 || (!rgb && !indexed)) return {};
  const bool eight = indexed != nullptr;
  const uint32_t colours = eight ? 256 : 0;
  const size_t rowbytes = static_cast<size_t>(width) * (eight ? 1 : 3);
  const size_t stride = (rowbytes + 3) & ~size_t{3};
  const uint32_t offset = 54 + 4 * colours;
  const size_t total = offset + stride * height;

  std::vector<uint8_t> out;
  out.reserve(total);
  out.push_back('B');
  out.push_back('M');
  put32(out, static_cast<uint32_t>(total));
  put32(out, 0);
  put32(out, offset);
  put32(out, 40);
  put32(out, static_cast<uint32_t>(width));
  put32(out, static_cast<uint32_t>(height));
  put16(out, 1);
  put16(out, eight ? 8 : 24);
  put32(out, 0);  // compression
  put32(out, 0);  // image size
  put32(out, 0);
  put32(out, 0);  // resolutions
  put32(out, colours);
  put32(out, 0);  // important colours
  for (uint32_t i = 0; i < colours; ++i) {
    out.push_back(palette[i].b);
    out.push_back(palette[i].g);
    out.push_back(palette[i].r);
    out.push_back(0);
  }
  for (int y = height - 1; y >= 0; --y) {
    if (eight) {
      const uint8_t* src = indexed + static_cast<size_t>(y) * width;
      out.insert(out.end(), src, src + width);
    } else {
      const uint8_t* src = rgb + static_cast<size_t>(y) * width * 3;
      for (int x = 0; x < width; ++x) {
        out.push_back(src[x * 3 + 2]);
        out.push_back(src[x * 3 + 1]);
        out.push_back(src[x * 3]);
      }
    }
    out.resize(out.size() + stride - rowbytes, 0);
  }
  return writewholefile(name, out);
}

}  // namespace torvex
