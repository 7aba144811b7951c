// BMP: uncompressed 8-bit and 24-bit pictures, rows bottom first, each
// padded to a multiple of 4 bytes.
#include <cstring>
#include <vector>

#include "formats.h"
#include "output.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

struct BmpHeader {
  int width = 0;
  int height = 0;
  bool topdown = false;
  int bits = 0;
  int entrybytes = 0;  // bytes of one palette entry
  int colours = 0;     // palette entries stored in the file
};

// Reads the information header; false when the picture is refused.
// Headers of 108 and 124 bytes (what most current programs write) begin
// with the 40-byte layout and are read as it.
bool readheader(ByteReader& in, uint32_t headersize, BmpHeader& h) {
  const bool extended = headersize == 108 || headersize == 124;
  if (headersize < 12 || (headersize > 64 && !extended)) return false;
  const size_t start = in.pos() - 4;
  if (headersize == 12) {
    h.width = in.u16le();
    h.height = in.u16le();
    if (in.u16le() != 1) return false;
    h.bits = in.u16le();
    h.entrybytes = 3;
    h.colours = 256;
  } else if (headersize == 40 || headersize == 64 || extended) {
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
    if (in.u32le() != 0) return false;  // run-length and bit-field layouts are not read
    in.skip(12);                        // image size, resolutions
    h.colours = static_cast<int>(in.u32le() & 0xFFFF);
    if (h.colours == 0) h.colours = 256;
    h.entrybytes = 4;
  }
  in.seek(start + headersize);
  if (h.bits != 8 && h.bits != 24) return false;
  return h.width > 0 && h.width <= 0x7FFF && h.height > 0 && h.height <= 0x7FFF;
}

int readbody(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "BMP", 4);
  ByteReader in(bytes);
  in.skip(10);
  const uint32_t pixeloffset = in.u32le();
  const uint32_t headersize = in.u32le();
  BmpHeader h;
  if (!readheader(in, headersize, h)) return 0;

  int64_t gap = static_cast<int64_t>(pixeloffset) - headersize - 14;
  if (h.bits == 8) {
    for (Rgba& c : image.palette) c = Rgba{0, 0, 0, 255};
    for (int i = 0; i < h.colours; ++i) {
      const auto e = in.bytes(static_cast<size_t>(h.entrybytes));
      if (i < 256) image.palette[i] = Rgba{e[2], e[1], e[0], 255};
    }
    gap -= static_cast<int64_t>(h.colours) * h.entrybytes;
  }
  if (gap < 0) return 0;
  in.skip(static_cast<size_t>(gap));

  const int pixelbytes = h.bits / 8;
  const size_t rowbytes = static_cast<size_t>(h.width) * pixelbytes;
  const size_t stride = (rowbytes + 3) & ~size_t{3};
  // Every row must be there (the last one may lack its pad bytes).
  if (in.remaining() < stride * (h.height - 1) + rowbytes) return 0;

  if (!prepareimage(image, h.bits == 8 ? 3 : 2, h.width, h.height, result)) return 0;
  const uint8_t* data = bytes.data() + in.pos();
  uint8_t* rgb = image.rgb.get();
  for (int y = 0; y < h.height; ++y) {
    const int filerow = h.topdown ? y : h.height - 1 - y;
    const uint8_t* src = data + stride * filerow;
    uint8_t* dst = rgb + static_cast<size_t>(y) * h.width * 3;
    if (h.bits == 8) {
      uint8_t* idx = image.indexed.get() + static_cast<size_t>(y) * h.width;
      for (int x = 0; x < h.width; ++x) {
        const Rgba& c = image.palette[src[x]];
        idx[x] = src[x];
        dst[x * 3] = c.r;
        dst[x * 3 + 1] = c.g;
        dst[x * 3 + 2] = c.b;
      }
    } else {
      for (int x = 0; x < h.width; ++x) {
        dst[x * 3] = src[x * 3 + 2];
        dst[x * 3 + 1] = src[x * 3 + 1];
        dst[x * 3 + 2] = src[x * 3];
      }
    }
  }
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
    return 0;
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
