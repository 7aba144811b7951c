// Bounds-checked reading of the byte layouts of the formats, and the checked
// output of the decoders that copy earlier output. A read that would pass
// the end throws ParseError, and so does an output step that would reach
// outside its buffer; each parser catches it once, at its public function,
// and reports failure there. Checks are written as `n > size - pos`, which
// cannot overflow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace torvex {

struct ParseError {};

// What a read that reaches past the end of the bytes does.
enum class PastEnd {
  kFail,   // it fails the parse: the rule for nearly every layout
  kZeros,  // the missing bytes read as zeros and are counted: only for the
           // few formats whose own rules read a cut file that way
};

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes, PastEnd pastend = PastEnd::kFail)
      : data_(bytes), zerofill_(pastend == PastEnd::kZeros) {}

  size_t pos() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return data_.size() - pos_; }
  bool atend() const { return pos_ == data_.size(); }
  // Zeros supplied past the end so far (a strict reader never supplies any).
  size_t zerosread() const { return zeros_; }
  bool overrun() const { return zeros_ != 0; }

  // The bytes not read yet, without moving.
  std::span<const uint8_t> rest() const { return data_.subspan(pos_); }

  // seek, peek and bytes hand out positions and bytes of the data itself,
  // which zeros cannot stand for: they are strict in both modes.
  void seek(size_t pos) {
    if (pos > data_.size()) throw ParseError{};
    pos_ = pos;
  }
  std::span<const uint8_t> peek(size_t count) const {
    need(count);
    return data_.subspan(pos_, count);
  }
  std::span<const uint8_t> bytes(size_t count) {
    need(count);
    auto out = data_.subspan(pos_, count);
    pos_ += count;
    return out;
  }

  void skip(size_t count) {
    if (count > remaining()) [[unlikely]] {
      pastend(count);
      return;
    }
    pos_ += count;
  }
  // Fills `to` with the next to.size() bytes. (Empty spans may hold null
  // pointers, which memcpy must never see, not even for zero bytes.)
  void read(std::span<uint8_t> to) {
    if (to.empty()) return;
    if (to.size() > remaining()) [[unlikely]] {
      const size_t have = remaining();
      pastend(to.size());
      if (have != 0) std::memcpy(to.data(), data_.data() + data_.size() - have, have);
      std::memset(to.data() + have, 0, to.size() - have);
      return;
    }
    std::memcpy(to.data(), data_.data() + pos_, to.size());
    pos_ += to.size();
  }

  uint8_t u8() {
    if (atend()) [[unlikely]] return field<1>()[0];
    return data_[pos_++];
  }
  uint16_t u16le() {
    const auto p = field<2>();
    return static_cast<uint16_t>(p[0] | p[1] << 8);
  }
  uint32_t u32le() {
    const auto p = field<4>();
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
  }
  uint16_t u16be() {
    const auto p = field<2>();
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
  }
  uint32_t u24be() {
    const auto p = field<3>();
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]);
  }
  uint32_t u32be() {
    const auto p = field<4>();
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
  }

 private:
  void need(size_t count) const {
    if (count > data_.size() - pos_) throw ParseError{};
  }

  // The next N bytes of a number: from the data, or, for a zero-filling
  // reader at the end, what is left followed by zeros. They come back by
  // value: a pointer into the reader would keep the compiler from holding
  // its position in a register in the decoders' loops.
  template <size_t N>
  std::array<uint8_t, N> field() {
    std::array<uint8_t, N> out{};
    if (N > remaining()) [[unlikely]] {
      const size_t have = remaining();
      pastend(N);
      for (size_t i = 0; i < have; ++i) out[i] = data_[data_.size() - have + i];
      return out;
    }
    std::memcpy(out.data(), data_.data() + pos_, N);
    pos_ += N;
    return out;
  }

  // A step of `count` bytes that passes the end: fails, or moves to the end
  // and counts the bytes past it as zeros read.
  void pastend(size_t count) {
    if (!zerofill_) throw ParseError{};
    zeros_ += count - remaining();
    pos_ = data_.size();
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  size_t zeros_ = 0;
  bool zerofill_;
};

// The output of a decoder that copies its own earlier output (the LZ kinds,
// and runs that repeat the last byte). Each step is checked once, before
// anything moves: a copy must have a distance of at least 1 that stays at or
// after the first output byte, and nothing may be written past `size`. A step
// that fails those checks throws ParseError and leaves the output as it was.
//
// The buffer may hold spare bytes behind the `size` output bytes. With 16 or
// more, bytes move in wide units: a step may write up to 16 bytes past its own
// end (into later output or, at worst, the spare bytes), and finish() clears
// whatever lies behind the output when the decoder is done. Readers of the
// buffer may rely on those zeros.
class LzOutput {
 public:
  static constexpr size_t kWideSpare = 16;

  LzOutput(std::span<uint8_t> buffer, size_t size)
      : begin_(buffer.data()),
        out_(buffer.data()),
        end_(buffer.data() + (size < buffer.size() ? size : buffer.size())),
        bufferend_(buffer.data() + buffer.size()),
        wide_(static_cast<size_t>(bufferend_ - end_) >= kWideSpare) {}

  size_t size() const { return static_cast<size_t>(out_ - begin_); }
  size_t room() const { return static_cast<size_t>(end_ - out_); }
  bool full() const { return out_ == end_; }

  void put(uint8_t value) {
    if (out_ == end_) throw ParseError{};
    *out_++ = value;
  }

  // Takes `count` literal bytes from `in`.
  void literal(ByteReader& in, size_t count) {
    if (count > room()) throw ParseError{};
    const uint8_t* from = in.bytes(count).data();
    if (wide_ && in.remaining() >= 16) {
      // Whole 16-byte units, at least one (no branch on the short literal
      // counts of the copy forms): up to 16 bytes more are read (they are in
      // the input) and written (into later output or the spare bytes).
      copy16(out_, from);
      for (size_t i = 16; i < count; i += 16) copy16(out_ + i, from + i);
    } else if (count != 0) {  // `from` may be null for an empty input
      std::memcpy(out_, from, count);
    }
    out_ += count;
  }

  // Copies `count` bytes from `distance` bytes back, with the result of a
  // byte-by-byte copy in increasing address order (a short distance repeats
  // the latest bytes).
  void copy(size_t distance, size_t count) {
    if (distance == 0 || distance > size() || count > room()) throw ParseError{};
    if (wide_) {
      copywide(distance, count);
    } else {
      const uint8_t* from = out_ - distance;
      for (size_t i = 0; i < count; ++i) out_[i] = from[i];
    }
    out_ += count;
  }

  // Clears everything behind the output, spare bytes included.
  void finish() {
    if (out_ != bufferend_) std::memset(out_, 0, static_cast<size_t>(bufferend_ - out_));
  }

 private:
  static void copy8(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }
  static void copy16(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 16); }

  // May write up to 15 bytes past out_ + count (16 when count is 0).
  void copywide(size_t distance, size_t count) {
    uint8_t* out = out_;
    const uint8_t* from = out - distance;
    uint8_t* const stop = out + count;
    if (distance >= 16) {
      do {
        copy16(out, from);
        out += 16;
        from += 16;
      } while (out < stop);
    } else if (distance >= 8) {
      do {
        copy8(out, from);
        out += 8;
        from += 8;
      } while (out < stop);
    } else if (distance == 1) {
      std::memset(out, out[-1], count);
    } else {
      // Lay down the first eight bytes one at a time; after that the pattern
      // repeats at a multiple of the distance of at least 8, and whole 8-byte
      // units can be copied from there.
      for (int i = 0; i < 8; ++i) out[i] = from[i];
      const size_t step = distance * ((8 + distance - 1) / distance);
      for (out += 8; out < stop; out += 8) copy8(out, out - step);
    }
  }

  uint8_t* const begin_;
  uint8_t* out_;
  uint8_t* const end_;
  uint8_t* const bufferend_;
  const bool wide_;
};

// Little helpers for fixed positions that a caller has already bounds-checked.
inline uint16_t peek16le(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
inline uint32_t peek32le(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}
inline uint16_t peek16be(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }
inline uint32_t peek24be(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 16 | static_cast<uint32_t>(at[1]) << 8 | at[2];
}
inline uint32_t peek32be(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 | static_cast<uint32_t>(at[2]) << 8 | at[3];
}

}  // namespace torvex
