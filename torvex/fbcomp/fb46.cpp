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

FbStatus fbdecode46(std::span<const uint8_t> src, uint8_t* dst, int32_t size) {
  const uint8_t* in = src.data() + 5;
  const uint8_t* const inend = src.data() + src.size();
  if (inend - in < 2) return FbStatus::kCorrupt;
  const uint8_t escape = in[0];
  const int pairs = in[1];
  in += 2;
  if (inend - in < 3 * pairs) return FbStatus::kCorrupt;

  uint8_t kind[256]{};
  uint8_t left[256]{};
  uint8_t right[256]{};
  kind[escape] = kEscape;
  for (int i = 0; i < pairs; ++i, in += 3) {
    kind[in[0]] = kPair;
    left[in[0]] = in[1];
    right[in[0]] = in[2];
  }

  uint8_t* out = dst;
  uint8_t* const outend = dst + size;
  uint8_t stack[kMaxDepth];
  while (in < inend) {
    const uint8_t b = *in++;
    if (kind[b] == kPlain) {
      if (out == outend) return FbStatus::kCorrupt;
      *out++ = b;
    } else if (kind[b] == kEscape) {
      if (in == inend) return FbStatus::kCorrupt;
      const uint8_t x = *in++;
      if (x == 0) return out == outend ? FbStatus::kOk : FbStatus::kCorrupt;
      if (out == outend) return FbStatus::kCorrupt;
      *out++ = x;
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
        if (out == outend) return FbStatus::kCorrupt;
        *out++ = v;
      }
    }
  }
  return FbStatus::kCorrupt;  // the input ended before the end mark
}

}  // namespace torvex
