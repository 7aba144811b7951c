// The 10 FB decoder: LZ commands of one to four bytes, each followed by up to
// 112 literal bytes and, for the three copy forms, a copy of earlier output.
//
// Every command is checked once, before anything moves: its command bytes
// are taken from the input in one checked piece, and the checked output
// refuses literals that are not in the input or do not fit in the size, and
// copies that would start before the first output byte or end past the
// size. After that the bytes move in wide units without further checks
// (see LzOutput: up to 16 bytes past a step's end, into the spare bytes at
// worst, cleared once the block is decoded).
#include "decoders.h"

namespace torvex {

FbStatus fbdecode10(std::span<const uint8_t> src, std::span<uint8_t> buffer, size_t size) {
  LzOutput out(buffer, size);
  ByteReader in(src);
  try {
    in.skip(kFbHeaderBytes);
    for (;;) {
      const uint32_t b0 = in.u8();
      uint32_t literals;
      uint32_t length;
      uint32_t distance;
      if (b0 < 0x80) {
        const auto c = in.bytes(1);
        literals = b0 & 3;
        length = ((b0 >> 2) & 7) + 3;
        distance = ((b0 & 0x60) << 3) + c[0] + 1;
      } else if (b0 < 0xC0) {
        const auto c = in.bytes(2);
        literals = c[0] >> 6;
        length = (b0 & 0x3F) + 4;
        distance = ((c[0] & 0x3Fu) << 8) + c[1] + 1;
      } else if (b0 < 0xE0) {
        const auto c = in.bytes(3);
        literals = b0 & 3;
        length = ((b0 & 0x0C) << 6) + c[2] + 5;
        distance = ((b0 & 0x10) << 12) + (static_cast<uint32_t>(c[0]) << 8) + c[1] + 1;
      } else {
        // A literal run, or the end command with its last 0-3 literals.
        out.literal(in, b0 < 0xFC ? ((b0 & 0x1F) + 1) * 4 : b0 & 3);
        if (b0 < 0xFC) continue;
        return finished(out);
      }
      // A copy form: its literals, then the copy.
      out.literal(in, literals);
      out.copy(distance, length);
    }
  } catch (const ParseError&) {
    return FbStatus::kCorrupt;
  }
}

}  // namespace torvex
