// Stand-in for the compression library while it is not part of the build:
// the header query and the 10 FB decoder only, bounds-checked. Compiled
// only when no fbcomp target exists.
#include "torvex/fbcomp/fb.h"

#include <cstring>

namespace torvex {

bool fbinfo(std::span<const uint8_t> data, int32_t& size_out) {
  if (data.size() < 5 || data[1] != 0xFB) return false;
  if (data[0] != 0x10 && data[0] != 0x30 && data[0] != 0x46) return false;
  size_out = static_cast<int32_t>(data[2] << 16 | data[3] << 8 | data[4]);
  return true;
}

Block fbdecompress(std::span<const uint8_t> data, FbStatus& status) {
  int32_t size = 0;
  if (!fbinfo(data, size) || data[0] != 0x10) {
    status = FbStatus::kNotCompressed;
    return {};
  }
  Block out = allocblock(size + 32);
  out.size = size;
  uint8_t* dst = out.get();
  size_t in = 5;
  size_t at = 0;
  const size_t cap = static_cast<size_t>(size) + 32;
  auto corrupt = [&status]() {
    status = FbStatus::kCorrupt;
    return Block{};
  };
  for (;;) {
    if (in >= data.size()) return corrupt();
    const uint8_t b0 = data[in];
    size_t lit = 0, len = 0, dist = 0, cmd = 1;
    bool end = false;
    if (!(b0 & 0x80)) {
      if (in + 2 > data.size()) return corrupt();
      cmd = 2;
      lit = b0 & 3;
      len = ((b0 >> 2) & 7) + 3;
      dist = ((b0 & 0x60) << 3) + data[in + 1] + 1;
    } else if (!(b0 & 0x40)) {
      if (in + 3 > data.size()) return corrupt();
      cmd = 3;
      lit = data[in + 1] >> 6;
      len = (b0 & 0x3F) + 4;
      dist = ((data[in + 1] & 0x3F) << 8) + data[in + 2] + 1;
    } else if (!(b0 & 0x20)) {
      if (in + 4 > data.size()) return corrupt();
      cmd = 4;
      lit = b0 & 3;
      len = ((b0 & 0x0C) << 6) + data[in + 3] + 5;
      dist = ((b0 & 0x10) << 12) + (data[in + 1] << 8) + data[in + 2] + 1;
    } else if (b0 < 0xFC) {
      lit = ((b0 & 0x1F) + 1) * 4;
    } else {
      lit = b0 & 3;
      end = true;
    }
    in += cmd;
    if (lit > data.size() - in || lit > cap - at) return corrupt();
    std::memcpy(dst + at, data.data() + in, lit);
    in += lit;
    at += lit;
    if (end) break;
    if (len) {
      if (dist > at || len > cap - at) return corrupt();
      for (size_t i = 0; i < len; ++i, ++at) dst[at] = dst[at - dist];
    }
  }
  status = FbStatus::kOk;
  return out;
}

}  // namespace torvex
