// The 46 FB decoder: byte-pair codes. Each code byte stands for a left and a
// right value, each of which may itself be a code, to any depth.
#include "decoders.h"

namespace torvex {

namespace {

enum : uint8_t { kPlain, kEscape, kPair };

// A sound table nests at most 255 codes deep (every step goes to another
// code); deeper means the codes refer to themselves in a cycle.
constexpr int kMaxDepth = 256;

}  // namespace

FbStatus fbdecode46(std::span<const uint8_t> src, std::span<uint8_t> buffer, size_t size) {
  LzOutput out(buffer, size);
  ByteReader in(src);
  try {
    in.skip(kFbHeaderBytes);
    const uint8_t escape = in.u8();
    const int pairs = in.u8();
    const auto table = in.bytes(3 * static_cast<size_t>(pairs));

    uint8_t kind[256]{};
    uint8_t left[256]{};
    uint8_t right[256]{};
    kind[escape] = kEscape;
    for (int i = 0; i < pairs; ++i) {
      const uint8_t code = table[3 * i];
      kind[code] = kPair;
      left[code] = table[3 * i + 1];
      right[code] = table[3 * i + 2];
    }

    uint8_t stack[kMaxDepth];
    for (;;) {
      // Input that ends before the end mark throws here.
      const uint8_t b = in.u8();
      if (kind[b] == kPlain) {
        out.put(b);
      } else if (kind[b] == kEscape) {
        const uint8_t escaped = in.u8();
        if (escaped == 0) return finished(out);
        out.put(escaped);
      } else {
        // Depth first, left before right: the rights wait on the stack.
        int depth = 0;
        stack[depth++] = b;
        while (depth > 0) {
          uint8_t v = stack[--depth];
          while (kind[v] == kPair) {
            if (depth == kMaxDepth) return FbStatus::kCorrupt;
            stack[depth++] = right[v];
            v = left[v];
          }
          out.put(v);
        }
      }
    }
  } catch (const ParseError&) {
    return FbStatus::kCorrupt;
  }
}

}  // namespace torvex
