#include <algorithm>

#include "readers.h"

namespace torvex {

namespace {
constexpr int64_t kChunk = 16384;
}

void ListCursor::fill() {
  const int64_t size = contentsize();
  bufferstart_ = pos_;
  buffer_.assign(static_cast<size_t>(std::clamp<int64_t>(size - pos_, 0, kChunk)), 0);
  if (buffer_.empty()) return;
  seeklist(entry_, static_cast<int32_t>(pos_), 0);
  readlist(entry_, buffer_.data(), static_cast<int32_t>(buffer_.size()));
}

uint8_t ListCursor::u8() {
  if (pos_ < 0 || pos_ >= contentsize()) {
    ++pos_;
    return 0;
  }
  if (pos_ < bufferstart_ || pos_ >= bufferstart_ + static_cast<int64_t>(buffer_.size())) fill();
  return buffer_[static_cast<size_t>(pos_++ - bufferstart_)];
}

uint16_t ListCursor::u16le() {
  const uint16_t a = u8();
  return static_cast<uint16_t>(a | u8() << 8);
}

uint16_t ListCursor::u16be() {
  const uint16_t a = u8();
  return static_cast<uint16_t>(a << 8 | u8());
}

uint32_t ListCursor::u24be() {
  uint32_t v = 0;
  for (int i = 0; i < 3; ++i) v = v << 8 | u8();
  return v;
}

uint32_t ListCursor::u32be() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | u8();
  return v;
}

uint32_t ListCursor::u32le() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i);
  return v;
}

std::string ListCursor::text(size_t field) {
  std::string out;
  const int64_t start = pos_;
  for (;;) {
    if (field && out.size() == field) break;
    if (pastend()) break;
    const char c = static_cast<char>(u8());
    if (c == 0) break;
    out += c;
  }
  if (field) pos_ = start + static_cast<int64_t>(field);
  return out;
}

}  // namespace torvex
