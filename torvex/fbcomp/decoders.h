// The three stream decoders behind fbdecompress. Each one decodes a whole
// block (header included) into `dst`, which holds `size` bytes plus 32 to
// spare, and trusts nothing: it never reads past `src`, never writes past
// dst + size + 32 and never copies from before `dst`. A stream must end with
// its end mark having produced exactly `size` bytes (every real stream does);
// more or fewer, or input that ends before the end mark, is kCorrupt.
#pragma once

#include <cstdint>
#include <span>

#include "fb.h"
#include "torvex/platform/limits.h"

namespace torvex {

constexpr int32_t kFbSlack = 32;        // spare bytes behind the decoded data

FbStatus fbdecode10(std::span<const uint8_t> src, uint8_t* dst, int32_t size);
FbStatus fbdecode30(std::span<const uint8_t> src, uint8_t* dst, int32_t size);
FbStatus fbdecode46(std::span<const uint8_t> src, uint8_t* dst, int32_t size);

}  // namespace torvex
