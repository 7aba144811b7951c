// GIF pictures: the reader decodes the first image of a GIF87a or GIF89a
// file (variable-width LZW, interlaced or not, transparent colour of a
// graphic control extension); the writer stores a 256-colour picture as a
// GIF89a file with one image and a full global colour table.
#include <cstring>
#include <vector>

#include "formats.h"

namespace torvex {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kHashSlots = 5003;  // prime, so the probe sequence visits every slot
// Larger pictures are refused before anything is allocated: a few bytes of
// LZW data can claim any size.
constexpr int64_t kMaxPixels = int64_t{1} << 26;

// The coder's working state. There is one picture in flight at a time, so it
// lives here, in one place, and every read or write starts by resetting it.
struct GifCoder {
  // ---- reader: input bytes
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  bool endofdata = false;  // a read was attempted at or beyond the end

  // ---- reader: LZW
  int mincodesize = 0;
  int clearcode = 0;
  int endcode = 0;
  int codesize = 0;
  int codelimit = 0;
  int nextcode = 0;
  int previous = 0;
  int firstpixel = 0;
  bool fresh = false;
  bool done = false;
  MemPtr<uint16_t[]> prefix;
  Bytes suffix;
  Bytes stack;
  int stacktop = 0;

  // ---- reader: bit input (two bytes carried over from the last sub-block,
  // then the current sub-block, and slack so a code's three bytes are always inside)
  uint8_t bits[2 + 255 + 4] = {};
  int bitpos = 0;
  int bitcount = 0;
  int lastbyte = 2;

  // ---- writer
  MemPtr<uint16_t[]> hashcodes;  // 0 = empty slot
  MemPtr<uint32_t[]> hashkeys;
  int wcodesize = 9;
  int maxcode = 511;
  int wnextcode = 258;
  int prefixcode = 0;
  bool firstpixelpending = true;
  uint32_t accumulator = 0;
  int accbits = 0;
  uint8_t block[256] = {};  // length byte, then up to 255 data bytes
  std::vector<uint8_t>* out = nullptr;

  void reset() { *this = GifCoder{}; }
};

GifCoder gifcoder;

template <class T>
MemPtr<T[]> allocarray(int count) {
  return MemPtr<T[]>(static_cast<T*>(allocmem(static_cast<int32_t>(sizeof(T) * count))));
}

// ---- Reader ------------------------------------------------------------------

uint8_t readbyte() {
  GifCoder& g = gifcoder;
  if (g.pos >= g.size) {
    g.endofdata = true;
    return 0;
  }
  return g.data[g.pos++];
}

// Reads one data sub-block into `to` (room for 255 bytes); its length.
int readsubblock(uint8_t* to) {
  const int length = readbyte();
  for (int i = 0; i < length; ++i) to[i] = readbyte();
  return gifcoder.endofdata ? 0 : length;
}

void skipsubblocks() {
  uint8_t scratch[255];
  while (readsubblock(scratch) != 0) {
  }
}

int readcode() {
  GifCoder& g = gifcoder;
  while (g.bitpos + g.codesize > g.bitcount) {
    if (g.done) return g.endcode;
    g.bits[0] = g.bits[g.lastbyte - 2];
    g.bits[1] = g.bits[g.lastbyte - 1];
    const int length = readsubblock(g.bits + 2);
    if (length == 0) {
      g.done = true;
      return g.endcode;
    }
    g.bitpos = (g.bitpos - g.bitcount) + 16;
    g.lastbyte = 2 + length;
    g.bitcount = (2 + length) * 8;
  }
  const int at = g.bitpos >> 3;
  const uint32_t word = static_cast<uint32_t>(g.bits[at]) | static_cast<uint32_t>(g.bits[at + 1]) << 8 |
                        static_cast<uint32_t>(g.bits[at + 2]) << 16;
  const int code = static_cast<int>((word >> (g.bitpos & 7)) & ((1u << g.codesize) - 1));
  g.bitpos += g.codesize;
  return code;
}

void startlzw(int mincodesize) {
  GifCoder& g = gifcoder;
  g.mincodesize = mincodesize;
  g.clearcode = 1 << mincodesize;
  g.endcode = g.clearcode + 1;
  g.codesize = mincodesize + 1;
  g.codelimit = 2 * g.clearcode;
  g.nextcode = g.clearcode + 2;
  g.fresh = true;
  g.done = false;
  g.stacktop = 0;
  g.bitpos = 0;
  g.bitcount = 0;
  g.lastbyte = 2;
}

uint8_t nextpixel() {
  GifCoder& g = gifcoder;
  int code;
  if (g.fresh) {
    g.fresh = false;
    code = g.clearcode;
  } else {
    if (g.stacktop > 0) return g.stack[--g.stacktop];
    code = readcode();
  }

  if (code == g.clearcode) {
    g.codesize = g.mincodesize + 1;
    g.codelimit = 2 * g.clearcode;
    g.nextcode = g.clearcode + 2;
    g.stacktop = 0;
    do code = readcode();
    while (code == g.clearcode);
    if (code > g.clearcode) code = 0;
    g.previous = g.firstpixel = code;
    return static_cast<uint8_t>(code);
  }

  if (code == g.endcode) {
    if (!g.done) {
      skipsubblocks();
      g.done = true;
    }
    return 0;
  }

  int incoming = code;
  if (code >= g.nextcode) {
    g.stack[g.stacktop++] = static_cast<uint8_t>(g.firstpixel);
    code = g.previous;
    if (incoming > g.nextcode) incoming = 0;
  }
  // Every defined code's prefix is a smaller code, so the walk ends; the
  // bound only guards the stack against a table left over from before a clear.
  while (code >= g.clearcode && g.stacktop < kMaxCodes - 1) {
    g.stack[g.stacktop++] = g.suffix[code];
    code = g.prefix[code];
  }
  if (code >= g.clearcode) code = 0;
  g.firstpixel = code;

  if (g.nextcode < kMaxCodes) {
    g.prefix[g.nextcode] = static_cast<uint16_t>(g.previous);
    g.suffix[g.nextcode] = static_cast<uint8_t>(g.firstpixel);
    ++g.nextcode;
    if (g.nextcode >= g.codelimit && g.codesize < 12) {
      ++g.codesize;
      g.codelimit *= 2;
    }
  }
  g.previous = incoming;
  return static_cast<uint8_t>(g.firstpixel);
}

// Decodes the image whose descriptor starts at the read position.
int readimage(Image& image, uint8_t (&table)[256][3], int transparent) {
  GifCoder& g = gifcoder;
  uint8_t descriptor[9];
  for (uint8_t& b : descriptor) b = readbyte();
  if (g.endofdata) return 0;
  const int width = descriptor[4] | descriptor[5] << 8;
  const int height = descriptor[6] | descriptor[7] << 8;
  const bool interlaced = descriptor[8] & 0x40;
  if (descriptor[8] & 0x80) {
    const int entries = 2 << (descriptor[8] & 7);
    for (int i = 0; i < entries; ++i)
      for (int c = 0; c < 3; ++c) table[i][c] = readbyte();
  }
  const int mincodesize = readbyte();
  if (g.endofdata || mincodesize < 2 || mincodesize > 11) return 0;
  // The record holds sizes as signed 16-bit values.
  if (width == 0 || height == 0 || width > 32767 || height > 32767 ||
      static_cast<int64_t>(width) * height > kMaxPixels)
    return 0;

  g.prefix = allocarray<uint16_t>(kMaxCodes);
  g.suffix = allocarray<uint8_t>(kMaxCodes);
  g.stack = allocarray<uint8_t>(kMaxCodes);
  startlzw(mincodesize);
  prepareimage(image, 3, width, height);
  for (int i = 0; i < 256; ++i) image.palette[i] = Rgba{table[i][0], table[i][1], table[i][2], 255};

  uint8_t* indexed = image.indexed.get();
  uint8_t* rgb = image.rgb.get();
  const Palette& palette = image.palette;
  // Interlaced rows come in four passes: every 8th from 0, every 8th from 4,
  // every 4th from 2, every 2nd from 1.
  static constexpr int kPassStart[4] = {0, 4, 2, 1};
  static constexpr int kPassStep[4] = {8, 8, 4, 2};
  int pass = 0;
  int row = 0;
  for (int n = 0; n < height && !g.endofdata; ++n) {
    uint8_t* rowindexed = indexed + static_cast<size_t>(row) * width;
    uint8_t* rowrgb = rgb + static_cast<size_t>(row) * width * 3;
    int x = 0;
    for (; x < width; ++x) {
      // The rest of the current string comes straight from the stack.
      const uint8_t v = g.stacktop > 0 ? g.stack[--g.stacktop] : nextpixel();
      if (g.endofdata) break;
      rowindexed[x] = v;
    }
    for (int i = 0; i < x; ++i) {
      const Rgba& c = palette[rowindexed[i]];
      rowrgb[3 * i] = c.r;
      rowrgb[3 * i + 1] = c.g;
      rowrgb[3 * i + 2] = c.b;
    }
    if (!interlaced) {
      ++row;
      continue;
    }
    row += kPassStep[pass];
    while (row >= height && pass < 3) {
      ++pass;
      row = kPassStart[pass];
    }
    if (row >= height) break;
  }
  if (transparent >= 0) image.palette[transparent].a = 0;
  return transparent;
}

// ---- Writer ------------------------------------------------------------------

void put16(uint8_t* at, int value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void flushblock() {
  GifCoder& g = gifcoder;
  if (g.block[0] == 0) return;
  g.out->insert(g.out->end(), g.block, g.block + 1 + g.block[0]);
  g.block[0] = 0;
}

void outputcode(int code) {
  GifCoder& g = gifcoder;
  g.accumulator |= static_cast<uint32_t>(code) << g.accbits;
  g.accbits += g.wcodesize;
  while (g.accbits >= 8) {
    g.block[1 + g.block[0]++] = static_cast<uint8_t>(g.accumulator);
    if (g.block[0] == 255) flushblock();
    g.accumulator >>= 8;
    g.accbits -= 8;
  }
  if (g.wnextcode > g.maxcode) {
    ++g.wcodesize;
    g.maxcode = g.wcodesize == 12 ? kMaxCodes : (1 << g.wcodesize) - 1;
  }
}

void encodepixels(const uint8_t* pixels, size_t count) {
  GifCoder& g = gifcoder;
  g.hashcodes = allocarray<uint16_t>(kHashSlots);
  g.hashkeys = allocarray<uint32_t>(kHashSlots);
  uint16_t* codes = g.hashcodes.get();
  uint32_t* keys = g.hashkeys.get();
  g.wcodesize = 9;
  g.maxcode = 511;
  g.wnextcode = 258;
  g.firstpixelpending = true;
  outputcode(256);

  for (size_t i = 0; i < count; ++i) {
    const int pixel = pixels[i];
    if (g.firstpixelpending) {
      g.firstpixelpending = false;
      g.prefixcode = pixel;
      continue;
    }
    const uint32_t key = static_cast<uint32_t>(g.prefixcode) << 8 | static_cast<uint32_t>(pixel);
    int slot = (pixel << 4) + g.prefixcode;
    if (slot >= kHashSlots) slot -= kHashSlots;
    if (codes[slot] != 0 && keys[slot] == key) {
      g.prefixcode = codes[slot];
      continue;
    }
    if (codes[slot] != 0) {
      const int step = slot == 0 ? 1 : kHashSlots - slot;
      bool found = false;
      do {
        slot -= step;
        if (slot < 0) slot += kHashSlots;
        if (codes[slot] != 0 && keys[slot] == key) {
          found = true;
          break;
        }
      } while (codes[slot] != 0);
      if (found) {
        g.prefixcode = codes[slot];
        continue;
      }
    }
    outputcode(g.prefixcode);
    if (g.wnextcode >= kMaxCodes) {
      std::memset(codes, 0, sizeof(uint16_t) * kHashSlots);
      g.wnextcode = 258;
      outputcode(256);
      g.wcodesize = 9;
      g.maxcode = 511;
    } else {
      codes[slot] = static_cast<uint16_t>(g.wnextcode++);
      keys[slot] = key;
    }
    g.prefixcode = pixel;
  }

  if (!g.firstpixelpending) outputcode(g.prefixcode);
  outputcode(257);
  if (g.accbits > 0) {
    g.block[1 + g.block[0]++] = static_cast<uint8_t>(g.accumulator);
    if (g.block[0] == 255) flushblock();
  }
  flushblock();
}

}  // namespace

int readgif(Image& image, std::span<const uint8_t> bytes) {
  std::memcpy(image.formatTag, "GIF", 4);
  GifCoder& g = gifcoder;
  g.reset();
  g.data = bytes.data();
  g.size = bytes.size();
  g.pos = 6;

  uint8_t screen[7];
  for (uint8_t& b : screen) b = readbyte();
  // Entries the file does not give stay black.
  uint8_t table[256][3] = {};
  if (screen[4] & 0x80) {
    const int entries = 2 << (screen[4] & 7);
    for (int i = 0; i < entries; ++i)
      for (int c = 0; c < 3; ++c) table[i][c] = readbyte();
  }

  int transparent = -1;
  int result = 0;
  for (;;) {
    const uint8_t b = readbyte();
    if (g.endofdata || b == 0x3B) break;
    if (b == 0x21) {
      const uint8_t label = readbyte();
      uint8_t first[255] = {};
      const int length = readsubblock(first);
      if (length != 0) {
        if (label == 0xF9 && length >= 4 && (first[0] & 1)) transparent = first[3];
        skipsubblocks();
      }
      continue;
    }
    if (b == 0x2C) {
      result = readimage(image, table, transparent);
      break;
    }
  }
  g.reset();
  return result;
}

int16_t writegif(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                 const Palette& palette, const uint8_t* /*alpha*/) {
  Palette colours = palette;
  // The transparent colour: the first entry of the smallest alpha below 255.
  int transparent = -1;
  for (int i = 0; i < 256; ++i)
    if (colours[i].a < 255 && (transparent < 0 || colours[i].a < colours[transparent].a)) transparent = i;

  File file(name, 1);
  if (!file) return 0;

  Bytes quantized;
  if (indexed == nullptr) {
    quantized = quantizeimage(rgb, colours, width, height);
    indexed = quantized.get();
  }

  GifCoder& g = gifcoder;
  g.reset();
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> out;
  out.reserve(800 + pixels + pixels / 2);
  g.out = &out;

  // Signature, screen, global table, graphic control extension, image
  // descriptor and the minimum code size.
  constexpr size_t kHeadBytes = 6 + 7 + 768 + 8 + 10 + 1;
  out.resize(kHeadBytes);
  uint8_t* h = out.data();
  std::memcpy(h, "GIF89a", 6);
  put16(h + 6, width);
  put16(h + 8, height);
  h[10] = 0xF7;  // global table of 256 entries, 8-bit colour resolution
  h[11] = 0;     // background
  h[12] = 0;     // aspect
  for (int i = 0; i < 256; ++i) {
    h[13 + 3 * i] = colours[i].r;
    h[14 + 3 * i] = colours[i].g;
    h[15 + 3 * i] = colours[i].b;
  }
  uint8_t* c = h + 13 + 768;
  c[0] = 0x21;
  c[1] = 0xF9;
  c[2] = 0x04;
  c[3] = transparent >= 0 ? 1 : 0;
  c[4] = c[5] = 0;  // delay
  c[6] = static_cast<uint8_t>(transparent >= 0 ? transparent : 0);
  c[7] = 0x00;
  uint8_t* d = c + 8;
  d[0] = 0x2C;
  put16(d + 1, 0);
  put16(d + 3, 0);
  put16(d + 5, width);
  put16(d + 7, height);
  d[9] = 0;  // no local table, not interlaced
  d[10] = 8;

  encodepixels(indexed, pixels);
  out.push_back(0x00);
  out.push_back(0x3B);
  g.reset();

  // A short write (a full disk) must not pass for a written picture.
  return file.writeall(out) ? 1 : 0;
}

}  // namespace torvex
