// The store encoder: the data in literal commands of up to 64 bytes.
#include <cstring>

#include "encode.h"
#include "torvex/platform/limits.h"

namespace torvex {

int32_t fbcapacity(int32_t size) { return size + (size / 64) * 65 + 10000; }

int32_t fbstore(std::span<const uint8_t> data, uint8_t* out) {
  // The header could not state a larger size; nothing is written then.
  if (data.size() > static_cast<size_t>(kFbMaxSize)) return 0;
  const auto size = static_cast<int32_t>(data.size());
  uint8_t* o = out;
  *o++ = 0x10;
  *o++ = 0xFB;
  *o++ = static_cast<uint8_t>(size >> 16);
  *o++ = static_cast<uint8_t>(size >> 8);
  *o++ = static_cast<uint8_t>(size);
  // Literal runs carry whole words; the last one to three bytes go with the
  // end command, which can carry them (any size can be stored this way).
  const int32_t words = size & ~3;
  for (int32_t at = 0; at < words;) {
    const int32_t chunk = words - at < 64 ? words - at : 64;
    *o++ = static_cast<uint8_t>(0xE0 | (chunk / 4 - 1));
    std::memcpy(o, data.data() + at, static_cast<size_t>(chunk));
    o += chunk;
    at += chunk;
  }
  const int32_t rest = size - words;
  *o++ = static_cast<uint8_t>(0xFC | rest);
  if (rest > 0) std::memcpy(o, data.data() + words, static_cast<size_t>(rest));  // empty data may have no pointer
  o += rest;
  return static_cast<int32_t>(o - out);
}

}  // namespace torvex
