// Stand-in for the encoder while the compression library is not part of
// the build: the store form only (literal runs and the end command).
// Compiled only when no fbcomp target exists.
#include <algorithm>
#include <vector>

#include "torvex/fbcomp/fb.h"

namespace torvex {

Block fbcompress(Block data) {
  const auto n = static_cast<size_t>(data.size);
  std::vector<uint8_t> out{0x10, 0xFB, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)};
  size_t i = 0;
  while (n - i >= 4) {
    const size_t run = std::min<size_t>((n - i) & ~size_t{3}, 112);
    out.push_back(static_cast<uint8_t>(0xE0 + run / 4 - 1));
    out.insert(out.end(), data.get() + i, data.get() + i + run);
    i += run;
  }
  out.push_back(static_cast<uint8_t>(0xFC + (n - i)));
  out.insert(out.end(), data.get() + i, data.get() + n);
  return copyblock(out);
}

}  // namespace torvex
