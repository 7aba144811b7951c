// The sizes that the formats' own fields and our buffers allow, in one
// place: every check against them names the constant, not the number.
#pragma once

#include <cstdint>

namespace torvex {

// An FB header stores the plain size in 24 bits: no FB block holds more.
constexpr int32_t kFbMaxSize = 0xFFFFFF;

// Buffers are counted in signed 32 bits, and allocmem adds its header.
constexpr int64_t kMaxBlock = 0x7FFFFFF0;

// Pack offsets and sizes are signed 32-bit values throughout, so no pack
// (and no member of one) is larger.
constexpr int64_t kMaxPack = 0x7FFFFFFF;

}  // namespace torvex
