// The 10 FB decoder: LZ commands of one to four bytes, each followed by up to
// 112 literal bytes and, for the three copy forms, a copy of earlier output.
//
// Every command is checked once, before anything moves: its command and
// literal bytes must be in the input, its output must fit in `size`, and its
// copy must start at or after the first output byte. After that the bytes
// move in wide units without further checks. Wide copies may write up to 15
// bytes past the command's end; the 32 spare bytes of the buffer take them,
// and they are cleared before returning.
#include <cstring>

#include "decoders.h"

namespace torvex {

namespace {

inline void copy8(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }
inline void copy16(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 16); }

// Copies `len` bytes from `dist` bytes back, with the result of a byte-by-byte
// copy in increasing address order (a short distance repeats the latest bytes).
// May write up to 15 bytes past out + len.
inline void copymatch(uint8_t* out, uint32_t dist, uint32_t len) {
  const uint8_t* from = out - dist;
  uint8_t* const stop = out + len;
  if (dist >= 16) {
    do {
      copy16(out, from);
      out += 16;
      from += 16;
    } while (out < stop);
  } else if (dist >= 8) {
    do {
      copy8(out, from);
      out += 8;
      from += 8;
    } while (out < stop);
  } else if (dist == 1) {
    std::memset(out, out[-1], len);
  } else {
    // Lay down the first eight bytes one at a time; after that the pattern
    // repeats at a multiple of the distance of at least 8, and whole 8-byte
    // units can be copied from there.
    for (int i = 0; i < 8; ++i) out[i] = from[i];
    const uint32_t step = dist * ((8 + dist - 1) / dist);
    for (out += 8; out < stop; out += 8) copy8(out, out - step);
  }
}

}  // namespace

FbStatus fbdecode10(std::span<const uint8_t> src, uint8_t* dst, int32_t size) {
  const uint8_t* in = src.data() + 5;
  const uint8_t* const inend = src.data() + src.size();
  uint8_t* out = dst;
  uint8_t* const outend = dst + size;
  FbStatus status = FbStatus::kCorrupt;
  for (;;) {
    const size_t inleft = static_cast<size_t>(inend - in);
    if (inleft == 0) break;
    const uint32_t b0 = in[0];
    uint32_t lit;
    uint32_t len;
    uint32_t dist;
    if (b0 < 0x80) {
      if (inleft < 2) break;
      lit = b0 & 3;
      len = ((b0 >> 2) & 7) + 3;
      dist = ((b0 & 0x60) << 3) + in[1] + 1;
      in += 2;
    } else if (b0 < 0xC0) {
      if (inleft < 3) break;
      const uint32_t b1 = in[1];
      lit = b1 >> 6;
      len = (b0 & 0x3F) + 4;
      dist = ((b1 & 0x3F) << 8) + in[2] + 1;
      in += 3;
    } else if (b0 < 0xE0) {
      if (inleft < 4) break;
      lit = b0 & 3;
      len = ((b0 & 0x0C) << 6) + in[3] + 5;
      dist = ((b0 & 0x10) << 12) + (static_cast<uint32_t>(in[1]) << 8) + in[2] + 1;
      in += 4;
    } else {
      // A literal run, or the end command with its last 0-3 literals.
      lit = b0 < 0xFC ? ((b0 & 0x1F) + 1) * 4 : b0 & 3;
      ++in;
      if (static_cast<size_t>(outend - out) < lit) break;
      if (inend - in >= 128) {
        // Whole 16-byte units: up to 15 bytes more are read (they are in
        // the input) and written (into the spare bytes at worst).
        for (uint32_t i = 0; i < lit; i += 16) copy16(out + i, in + i);
      } else {
        if (static_cast<size_t>(inend - in) < lit) break;
        std::memcpy(out, in, lit);
      }
      in += lit;
      out += lit;
      if (b0 < 0xFC) continue;
      status = FbStatus::kOk;
      break;
    }
    // A copy form: its literals, then the copy.
    if (static_cast<size_t>(inend - in) < lit || static_cast<size_t>(outend - out) < lit + len) break;
    if (inend - in >= 4) {
      std::memcpy(out, in, 4);  // at most one byte past the command's output
    } else {
      for (uint32_t i = 0; i < lit; ++i) out[i] = in[i];
    }
    in += lit;
    out += lit;
    if (dist > static_cast<size_t>(out - dst)) break;
    copymatch(out, dist, len);
    out += len;
  }
  // Wide copies may have left bytes behind the last command's end; callers
  // may rely on the zeros there.
  std::memset(out, 0, static_cast<size_t>(outend - out) + kFbSlack);
  return out == outend ? status : FbStatus::kCorrupt;
}

}  // namespace torvex
