// GIF pictures: the reader decodes the first image of a GIF87a or GIF89a
// file (variable-width LZW, interlaced or not, transparent colour of a
// graphic control extension); the writer stores a 256-colour picture as a
// GIF89a file with one image and a full global colour table.
#include <algorithm>
#include <cstring>
#include <vector>

#include "formats.h"
#include "output.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kHashSlots = 5003;  // prime, so the probe sequence visits every slot
// Larger pictures are refused before anything is allocated: a few bytes of
// LZW data can claim any size.
constexpr int64_t kMaxPixels = int64_t{1} << 26;

// Pixels past the end code are index 0, so a few bytes of LZW data can
// claim any size; but a header that claims far more than its data could
// ever give is garbage, not a picture, and would cost its full size in
// memory. The most such data can give: every code is at least three bits,
// and the n-th code after a clear gives at most n pixels (each new string
// is one longer than one before it), never more than the 4,096 a string
// can hold. Small pictures pass whatever their data: they cost nothing.
constexpr int64_t kAlwaysPixels = int64_t{1} << 16;
int64_t mostpixels(size_t bytes) {
  const int64_t codes = static_cast<int64_t>(bytes) * 8 / 3;
  const int64_t most = codes <= kMaxCodes ? codes * (codes + 1) / 2
                                          : int64_t{kMaxCodes} * (kMaxCodes + 1) / 2 + (codes - kMaxCodes) * kMaxCodes;
  return std::max(most, kAlwaysPixels);
}

template <class T>
MemPtr<T[]> allocarray(int count) {
  return MemPtr<T[]>(static_cast<T*>(allocmem(static_cast<int32_t>(sizeof(T) * count))));
}

// ---- Reader ------------------------------------------------------------------

// The reader's working state, one object per file read. Reads past the end
// of the file give zeros: a file cut inside its pixel data keeps its size,
// and decoding stops at the first read past the end (the rest stays 0).
class GifDecoder {
 public:
  explicit GifDecoder(std::span<const uint8_t> bytes) : in_(bytes, PastEnd::kZeros) {}

  int read(Image& image, ImageResult& result);

 private:
  bool endofdata() const { return in_.overrun(); }
  // Reads one data sub-block into `to` (room for 255 bytes); its length,
  // or 0 at the end of the data.
  int readsubblock(uint8_t* to) {
    const int length = in_.u8();
    in_.read({to, static_cast<size_t>(length)});
    return endofdata() ? 0 : length;
  }
  void skipsubblocks() {
    uint8_t scratch[255];
    while (readsubblock(scratch) != 0) {
    }
  }
  void readtable(int entries) { in_.read({&table_[0][0], static_cast<size_t>(entries) * 3}); }
  int readimage(Image& image, int transparent, ImageResult& result);
  int readcode();
  void startlzw(int mincodesize);
  uint8_t nextpixel();

  ByteReader in_;
  // Entries the file does not give stay black.
  uint8_t table_[256][3] = {};

  // LZW
  int mincodesize_ = 0;
  int clearcode_ = 0;
  int endcode_ = 0;
  int codesize_ = 0;
  int codelimit_ = 0;
  int nextcode_ = 0;
  int previous_ = 0;
  int firstpixel_ = 0;
  bool fresh_ = false;
  bool done_ = false;
  MemPtr<uint16_t[]> prefix_;
  Bytes suffix_;
  Bytes stack_;
  int stacktop_ = 0;

  // Bit input: two bytes carried over from the last sub-block, then the
  // current sub-block, and slack so a code's three bytes are always inside.
  uint8_t bits_[2 + 255 + 4] = {};
  int bitpos_ = 0;
  int bitcount_ = 0;
  int lastbyte_ = 2;
};

int GifDecoder::readcode() {
  while (bitpos_ + codesize_ > bitcount_) {
    if (done_) return endcode_;
    bits_[0] = bits_[lastbyte_ - 2];
    bits_[1] = bits_[lastbyte_ - 1];
    const int length = readsubblock(bits_ + 2);
    if (length == 0) {
      done_ = true;
      return endcode_;
    }
    bitpos_ = (bitpos_ - bitcount_) + 16;
    lastbyte_ = 2 + length;
    bitcount_ = (2 + length) * 8;
  }
  const int at = bitpos_ >> 3;
  const uint32_t word = static_cast<uint32_t>(bits_[at]) | static_cast<uint32_t>(bits_[at + 1]) << 8 |
                        static_cast<uint32_t>(bits_[at + 2]) << 16;
  const int code = static_cast<int>((word >> (bitpos_ & 7)) & ((1u << codesize_) - 1));
  bitpos_ += codesize_;
  return code;
}

void GifDecoder::startlzw(int mincodesize) {
  mincodesize_ = mincodesize;
  clearcode_ = 1 << mincodesize;
  endcode_ = clearcode_ + 1;
  codesize_ = mincodesize + 1;
  codelimit_ = 2 * clearcode_;
  nextcode_ = clearcode_ + 2;
  fresh_ = true;
  done_ = false;
  stacktop_ = 0;
  bitpos_ = 0;
  bitcount_ = 0;
  lastbyte_ = 2;
}

uint8_t GifDecoder::nextpixel() {
  int code;
  if (fresh_) {
    fresh_ = false;
    code = clearcode_;
  } else {
    if (stacktop_ > 0) return stack_[--stacktop_];
    code = readcode();
  }

  if (code == clearcode_) {
    codesize_ = mincodesize_ + 1;
    codelimit_ = 2 * clearcode_;
    nextcode_ = clearcode_ + 2;
    stacktop_ = 0;
    do code = readcode();
    while (code == clearcode_);
    if (code > clearcode_) code = 0;
    previous_ = firstpixel_ = code;
    return static_cast<uint8_t>(code);
  }

  if (code == endcode_) {
    if (!done_) {
      skipsubblocks();
      done_ = true;
    }
    return 0;
  }

  int incoming = code;
  if (code >= nextcode_) {
    stack_[stacktop_++] = static_cast<uint8_t>(firstpixel_);
    code = previous_;
    if (incoming > nextcode_) incoming = 0;
  }
  // Every defined code's prefix is a smaller code, so the walk ends; the
  // bound only guards the stack against a table left over from before a clear.
  while (code >= clearcode_ && stacktop_ < kMaxCodes - 1) {
    stack_[stacktop_++] = suffix_[code];
    code = prefix_[code];
  }
  if (code >= clearcode_) code = 0;
  firstpixel_ = code;

  if (nextcode_ < kMaxCodes) {
    prefix_[nextcode_] = static_cast<uint16_t>(previous_);
    suffix_[nextcode_] = static_cast<uint8_t>(firstpixel_);
    ++nextcode_;
    if (nextcode_ >= codelimit_ && codesize_ < 12) {
      ++codesize_;
      codelimit_ *= 2;
    }
  }
  previous_ = incoming;
  return static_cast<uint8_t>(firstpixel_);
}

// Decodes the image whose descriptor starts at the read position.
int GifDecoder::readimage(Image& image, int transparent, ImageResult& result) {
  uint8_t descriptor[9];
  in_.read(descriptor);
  if (endofdata()) return unreadable(result, "the file ends inside the image descriptor");
  const int width = descriptor[4] | descriptor[5] << 8;
  const int height = descriptor[6] | descriptor[7] << 8;
  const bool interlaced = descriptor[8] & 0x40;
  if (descriptor[8] & 0x80) readtable(2 << (descriptor[8] & 7));
  const int mincodesize = in_.u8();
  if (endofdata()) return unreadable(result, "the file ends before the image data");
  if (mincodesize < 2 || mincodesize > 11) return unreadable(result, format("LZW code size %d", mincodesize));
  // The record holds sizes as signed 16-bit values.
  if (width == 0 || height == 0 || width > 32767 || height > 32767 ||
      static_cast<int64_t>(width) * height > kMaxPixels)
    return unreadable(result, format("unsupported picture size %dx%d", width, height));
  if (static_cast<int64_t>(width) * height > mostpixels(in_.remaining()))
    return unreadable(result, format("%zu bytes of image data cannot hold a %dx%d picture", in_.remaining(), width, height));

  prefix_ = allocarray<uint16_t>(kMaxCodes);
  suffix_ = allocarray<uint8_t>(kMaxCodes);
  stack_ = allocarray<uint8_t>(kMaxCodes);
  startlzw(mincodesize);
  if (!prepareimage(image, 3, width, height, result)) return 0;
  for (int i = 0; i < 256; ++i) image.palette[i] = Rgba{table_[i][0], table_[i][1], table_[i][2], 255};

  uint8_t* indexed = image.indexed.get();
  uint8_t* rgb = image.rgb.get();
  const Palette& palette = image.palette;
  // Interlaced rows come in four passes: every 8th from 0, every 8th from 4,
  // every 4th from 2, every 2nd from 1.
  static constexpr int kPassStart[4] = {0, 4, 2, 1};
  static constexpr int kPassStep[4] = {8, 8, 4, 2};
  int pass = 0;
  int row = 0;
  for (int n = 0; n < height && !endofdata(); ++n) {
    uint8_t* rowindexed = indexed + static_cast<size_t>(row) * width;
    uint8_t* rowrgb = rgb + static_cast<size_t>(row) * width * 3;
    int x = 0;
    for (; x < width; ++x) {
      // The rest of the current string comes straight from the stack.
      const uint8_t v = stacktop_ > 0 ? stack_[--stacktop_] : nextpixel();
      if (endofdata()) break;
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
  // The file ended before the last pixel: what was there is kept.
  if (endofdata()) result.cutshort = true;
  if (transparent >= 0) image.palette[transparent].a = 0;
  return transparent;
}

int GifDecoder::read(Image& image, ImageResult& result) {
  in_.skip(6);  // the signature, tested by the caller
  uint8_t screen[7];
  in_.read(screen);
  if (screen[4] & 0x80) readtable(2 << (screen[4] & 7));

  int transparent = -1;
  for (;;) {
    const uint8_t b = in_.u8();
    if (endofdata() || b == 0x3B) return unreadable(result, "the file holds no image");
    if (b == 0x21) {
      const uint8_t label = in_.u8();
      uint8_t first[255] = {};
      const int length = readsubblock(first);
      if (length != 0) {
        if (label == 0xF9 && length >= 4 && (first[0] & 1)) transparent = first[3];
        skipsubblocks();
      }
      continue;
    }
    if (b == 0x2C) return readimage(image, transparent, result);
  }
}

// ---- Writer ------------------------------------------------------------------

void put16(uint8_t* at, int value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

// The writer's LZW coder, one object per file written: codes go into data
// sub-blocks appended to `out`.
class GifEncoder {
 public:
  explicit GifEncoder(std::vector<uint8_t>& out) : out_(out) {}
  void encode(const uint8_t* pixels, size_t count);

 private:
  void flushblock() {
    if (block_[0] == 0) return;
    out_.insert(out_.end(), block_, block_ + 1 + block_[0]);
    block_[0] = 0;
  }
  void putbyte(uint8_t byte) {
    block_[1 + block_[0]++] = byte;
    if (block_[0] == 255) flushblock();
  }
  void outputcode(int code);

  std::vector<uint8_t>& out_;
  int codesize_ = 9;
  int maxcode_ = 511;
  int nextcode_ = 258;
  uint32_t accumulator_ = 0;
  int accbits_ = 0;
  uint8_t block_[256] = {};  // length byte, then up to 255 data bytes
};

void GifEncoder::outputcode(int code) {
  accumulator_ |= static_cast<uint32_t>(code) << accbits_;
  accbits_ += codesize_;
  while (accbits_ >= 8) {
    putbyte(static_cast<uint8_t>(accumulator_));
    accumulator_ >>= 8;
    accbits_ -= 8;
  }
  if (nextcode_ > maxcode_) {
    ++codesize_;
    maxcode_ = codesize_ == 12 ? kMaxCodes : (1 << codesize_) - 1;
  }
}

void GifEncoder::encode(const uint8_t* pixels, size_t count) {
  MemPtr<uint16_t[]> hashcodes = allocarray<uint16_t>(kHashSlots);  // 0 = empty slot
  MemPtr<uint32_t[]> hashkeys = allocarray<uint32_t>(kHashSlots);
  uint16_t* codes = hashcodes.get();
  uint32_t* keys = hashkeys.get();
  codesize_ = 9;
  maxcode_ = 511;
  nextcode_ = 258;
  outputcode(256);

  int prefix = 0;
  for (size_t i = 0; i < count; ++i) {
    const int pixel = pixels[i];
    if (i == 0) {
      prefix = pixel;
      continue;
    }
    const uint32_t key = static_cast<uint32_t>(prefix) << 8 | static_cast<uint32_t>(pixel);
    int slot = (pixel << 4) + prefix;
    if (slot >= kHashSlots) slot -= kHashSlots;
    if (codes[slot] != 0 && keys[slot] == key) {
      prefix = codes[slot];
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
        prefix = codes[slot];
        continue;
      }
    }
    outputcode(prefix);
    if (nextcode_ >= kMaxCodes) {
      std::memset(codes, 0, sizeof(uint16_t) * kHashSlots);
      nextcode_ = 258;
      outputcode(256);
      codesize_ = 9;
      maxcode_ = 511;
    } else {
      codes[slot] = static_cast<uint16_t>(nextcode_++);
      keys[slot] = key;
    }
    prefix = pixel;
  }

  if (count > 0) outputcode(prefix);
  outputcode(257);
  if (accbits_ > 0) putbyte(static_cast<uint8_t>(accumulator_));
  flushblock();
}

}  // namespace

int readgif(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "GIF", 4);
  GifDecoder decoder(bytes);
  return decoder.read(image, result);
}

ImageResult writegif(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t* /*alpha*/) {
  Palette colours = palette;
  // The transparent colour: the first entry of the smallest alpha below 255.
  int transparent = -1;
  for (int i = 0; i < 256; ++i)
    if (colours[i].a < 255 && (transparent < 0 || colours[i].a < colours[transparent].a)) transparent = i;

  ImageResult result;
  Bytes quantized;
  if (indexed == nullptr) {
    quantized = quantizeimage(rgb, colours, width, height, result);
    if (!quantized) return result;
    indexed = quantized.get();
  }

  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> out;
  out.reserve(800 + pixels + pixels / 2);

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

  GifEncoder(out).encode(indexed, pixels);
  out.push_back(0x00);
  out.push_back(0x3B);

  // A short write (a full disk) must not pass for a written picture.
  result.status = writewholefile(name, out).status;
  return result;
}

}  // namespace torvex
