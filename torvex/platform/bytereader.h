// Bounds-checked reading of the byte layouts of the formats. A read that
// would pass the end throws ParseError; each parser catches it once, at its
// public function, and reports failure there. Checks are written as
// `n > size - pos`, which cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvex {

struct ParseError {};

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : data_(bytes) {}

  size_t pos() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return data_.size() - pos_; }
  bool atend() const { return pos_ == data_.size(); }

  void seek(size_t pos) {
    if (pos > data_.size()) throw ParseError{};
    pos_ = pos;
  }
  void skip(size_t n) {
    need(n);
    pos_ += n;
  }
  std::span<const uint8_t> bytes(size_t n) {
    need(n);
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  uint8_t u8() {
    need(1);
    return data_[pos_++];
  }
  uint16_t u16le() {
    need(2);
    const uint16_t v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  uint32_t u32le() {
    need(4);
    const uint32_t v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
                       static_cast<uint32_t>(data_[pos_ + 2]) << 16 | static_cast<uint32_t>(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return v;
  }
  uint16_t u16be() {
    need(2);
    const uint16_t v = static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  uint32_t u24be() {
    need(3);
    const uint32_t v = static_cast<uint32_t>(data_[pos_]) << 16 | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
                       static_cast<uint32_t>(data_[pos_ + 2]);
    pos_ += 3;
    return v;
  }
  uint32_t u32be() {
    need(4);
    const uint32_t v = static_cast<uint32_t>(data_[pos_]) << 24 | static_cast<uint32_t>(data_[pos_ + 1]) << 16 |
                       static_cast<uint32_t>(data_[pos_ + 2]) << 8 | static_cast<uint32_t>(data_[pos_ + 3]);
    pos_ += 4;
    return v;
  }

 private:
  void need(size_t n) const {
    if (n > data_.size() - pos_) throw ParseError{};
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

// Little helpers for fixed positions that a caller has already bounds-checked.
inline uint16_t peek16le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t peek32le(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t peek16be(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t peek24be(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}
inline uint32_t peek32be(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace torvex
