// The 30 FB decoder: a canonical prefix code over byte values, with an escape
// symbol that introduces runs, literal bytes and the end mark.
//
// The block is one bit stream, most significant bit first. The reader takes
// input one byte at a time (eight at once when they are there) and never
// looks past the block: once the input is used up it supplies zero bits and
// counts them, and a stream that needs any of those bits is corrupt. Output
// goes through the checked LzOutput: a run is a copy from one byte back. A block
// may end right after its end mark, or carry a padding byte after it.
#include <bit>
#include <cstring>

#include "decoders.h"

namespace torvex {

namespace {

class BitReader {
 public:
  // Past the end of the block the input reads as zero bytes, which the
  // reader counts: they are only padding to keep the buffer full.
  explicit BitReader(std::span<const uint8_t> block) : in_(block, PastEnd::kZeros) {}

  // At least 56 bits are buffered afterwards (some may be padding).
  void refill() {
    if (count_ > 56) return;
    if (in_.remaining() >= 8) {
      uint64_t word;
      std::memcpy(&word, in_.peek(8).data(), 8);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      bits_ |= word >> count_;
      const int bytes = (63 - count_) >> 3;
      in_.skip(static_cast<size_t>(bytes));
      count_ += bytes * 8;
      return;
    }
    while (count_ <= 56) {
      bits_ |= static_cast<uint64_t>(in_.u8()) << (56 - count_);
      count_ += 8;
    }
  }
  // The next `count` bits (1-32), without consuming them; at least that
  // many must be buffered.
  uint32_t peek(int count) const { return static_cast<uint32_t>(bits_ >> (64 - count)); }
  void skip(int count) {
    bits_ <<= count;
    count_ -= count;
  }
  uint32_t take(int count) {
    const uint32_t v = peek(count);
    skip(count);
    return v;
  }
  // True once a bit past the end of the input has been consumed: the zero
  // bits supplied past the end sit at the tail of the buffer.
  bool overrun() const { return static_cast<uint64_t>(count_) < 8 * static_cast<uint64_t>(in_.zerosread()); }
  uint64_t raw() const { return bits_; }

 private:
  ByteReader in_;
  uint64_t bits_ = 0;  // left-aligned
  int count_ = 0;      // bits buffered, padding included
};

// z zero bits, a one bit, then z + 2 bits b: the number 2^(z+2) + b (4 and
// up). Larger numbers than 2^26 never occur in a sound stream (sizes are 24
// bits); -1 for those and for reads past the input.
int64_t readnumber(BitReader& bits) {
  bits.refill();
  const uint64_t raw = bits.raw();
  if (raw == 0) return -1;
  const int zeros = std::countl_zero(raw);
  if (zeros > 24) return -1;
  bits.skip(zeros + 1);
  const int64_t value = (int64_t{1} << (zeros + 2)) + bits.take(zeros + 2);
  return bits.overrun() ? -1 : value;
}

constexpr int kMaxLength = 16;  // the limits are 16-bit values

struct Code {
  uint8_t symbols[256];
  int32_t total = 0;
  int last = 0;                      // the last code length L
  int32_t base[kMaxLength + 1]{};    // code - base[len] is the index into symbols
  uint32_t limit[kMaxLength + 1]{};  // left-aligned end of each length's codes
  // Indexed by the next 8 bits: symbol, and code length (0 for longer codes).
  uint8_t fastsymbol[256]{};
  uint8_t fastlength[256]{};
};

bool readcode(BitReader& bits, Code& code) {
  int32_t count[kMaxLength + 1]{};
  int64_t next = 0;
  int32_t total = 0;
  for (int len = 1;; ++len) {
    // A table still not full at the longest length the limits can express is
    // corrupt (a decoder that kept reading would never stop).
    if (len > kMaxLength) return false;
    code.base[len] = static_cast<int32_t>(next * 2 - total);
    const int64_t number = readnumber(bits);
    if (number < 0) return false;
    const int64_t n = number - 4;
    next = next * 2 + n;
    total += static_cast<int32_t>(n > 256 ? 257 : n);
    if (total > 256 || next > (int64_t{1} << len)) return false;  // more codes than values or room
    count[len] = static_cast<int32_t>(n);
    code.limit[len] = n > 0 ? static_cast<uint32_t>((next << (16 - len)) & 0xFFFF) : 0;
    if (n > 0 && code.limit[len] == 0) {
      code.last = len;
      break;
    }
  }
  code.limit[code.last] = 0x10000;  // above every 16-bit value
  code.total = total;

  // The symbols in code order: each is the k-th value not yet used, counting
  // on from the previous one and wrapping from 255 to 0.
  bool used[256]{};
  int previous = 255;
  int unused = 256;
  for (int32_t i = 0; i < total; ++i) {
    const int64_t number = readnumber(bits);
    if (number < 0) return false;
    int64_t k = (number - 3 - 1) % unused + 1;
    int v = previous;
    while (k > 0) {
      v = (v + 1) & 0xFF;
      if (!used[v]) --k;
    }
    used[v] = true;
    --unused;
    code.symbols[i] = static_cast<uint8_t>(v);
    previous = v;
  }

  // Canonical codes: each length's codes in ascending order, in list order.
  uint32_t first = 0;
  int32_t index = 0;
  for (int len = 1; len <= code.last; ++len) {
    for (int32_t j = 0; j < count[len]; ++j, ++index) {
      if (len > 8) continue;
      const uint32_t c = first + static_cast<uint32_t>(j);
      const uint32_t from = c << (8 - len);
      for (uint32_t e = from; e < from + (1u << (8 - len)); ++e) {
        code.fastsymbol[e] = code.symbols[index];
        code.fastlength[e] = static_cast<uint8_t>(len);
      }
    }
    first = (first + static_cast<uint32_t>(count[len])) << 1;
  }
  return true;
}

}  // namespace

FbStatus fbdecode30(std::span<const uint8_t> src, std::span<uint8_t> buffer, size_t size) {
  LzOutput out(buffer, size);
  BitReader bits(src);
  bits.refill();
  bits.skip(40);  // kind and size: the header, already read by the caller
  const uint32_t escape = bits.take(8);
  Code code;
  if (bits.overrun() || !readcode(bits, code)) return FbStatus::kCorrupt;

  try {
    for (;;) {
      bits.refill();
      if (bits.overrun()) return FbStatus::kCorrupt;
      const uint32_t top = bits.peek(8);
      uint32_t symbol;
      if (const int short_len = code.fastlength[top]) {
        symbol = code.fastsymbol[top];
        bits.skip(short_len);
      } else {
        const uint32_t window = bits.peek(16);
        int len = 9;
        while (len < code.last && code.limit[len] <= window) ++len;
        if (len > code.last || code.limit[len] <= window) return FbStatus::kCorrupt;
        const int64_t index = static_cast<int64_t>(bits.take(len)) - code.base[len];
        if (index < 0 || index >= code.total) return FbStatus::kCorrupt;
        symbol = code.symbols[index];
      }
      if (symbol != escape) {
        out.put(static_cast<uint8_t>(symbol));
        continue;
      }
      const int64_t number = readnumber(bits);
      if (number < 0) return FbStatus::kCorrupt;
      const int64_t repeat = number - 4;
      if (repeat > 0) {
        // A run repeats the last byte: the output refuses a run with no byte
        // before it, or one longer than the room left.
        out.copy(1, static_cast<size_t>(repeat));
        continue;
      }
      bits.refill();
      if (bits.take(1) == 1) break;  // the end mark
      out.put(static_cast<uint8_t>(bits.take(8)));
    }
  } catch (const ParseError&) {
    return FbStatus::kCorrupt;
  }
  return bits.overrun() ? FbStatus::kCorrupt : finished(out);
}

}  // namespace torvex
