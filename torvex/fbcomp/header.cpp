// The five-byte header and the decompression entry point.
#include <cstring>

#include "decoders.h"
#include "fb.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

enum class Kind { kNone, k10, k30, k46 };

constexpr int64_t kFb10MostPerByte = 257;

// In the order the kinds have always been tested: 10, 30, 46.
Kind kindof(std::span<const uint8_t> data) {
  if (data.size() < 5 || data[1] != 0xFB) return Kind::kNone;
  switch (data[0]) {
    case 0x10: return Kind::k10;
    case 0x30: return Kind::k30;
    case 0x46: return Kind::k46;
    default: return Kind::kNone;
  }
}

int32_t headersize(std::span<const uint8_t> data) { return static_cast<int32_t>(peek24be(data.data() + 2)); }

}  // namespace

bool fbinfo(std::span<const uint8_t> data, int32_t& size_out) {
  if (kindof(data) == Kind::kNone) return false;
  size_out = headersize(data);
  return true;
}

Block fbdecompress(std::span<const uint8_t> data, FbStatus& status) {
  const Kind kind = kindof(data);
  if (kind == Kind::kNone) {
    status = FbStatus::kNotCompressed;
    return {};
  }
  const int32_t size = headersize(data);
  // No 10 FB command gives more than 257 bytes a byte (1,028 from four), so
  // a header that states more than the stream could ever give is corrupt
  // before its buffer is allocated. (Runs and nested pairs of the other two
  // kinds have no such bound.)
  if (kind == Kind::k10 && static_cast<int64_t>(size) > kFb10MostPerByte * static_cast<int64_t>(data.size() - kFbHeaderBytes)) {
    status = FbStatus::kCorrupt;
    return {};
  }
  Block out = allocblock(size + kFbSlack);
  const std::span<uint8_t> buffer = out.mutablespan();
  switch (kind) {
    case Kind::k10: status = fbdecode10(data, buffer, static_cast<size_t>(size)); break;
    case Kind::k30: status = fbdecode30(data, buffer, static_cast<size_t>(size)); break;
    default: status = fbdecode46(data, buffer, static_cast<size_t>(size)); break;
  }
  if (status != FbStatus::kOk) return {};
  out.size = size;
  return out;
}

}  // namespace torvex
