// The two 10 FB encoders and the self-test of the real one. fbcompress (fb.h)
// is the usual entry point; these are the pieces it is made of.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "fb.h"
#include "torvex/platform/platform.h"

namespace torvex {

// Room an encoder needs for `size` input bytes, whichever encoder runs.
int32_t fbcapacity(int32_t size);

// Wraps `data` in literal commands without looking for repeats. `out` has
// fbcapacity(data.size()) bytes; returns the encoded length. Any size up to
// 0xFFFFFF: the last one to three bytes go with the end command.
int32_t fbstore(std::span<const uint8_t> data, uint8_t* out);

// The real encoder: LZ77 over a 128 KiB window, its choices those of hash
// chains on two-byte keys (see encode.cpp). `out` has fbcapacity(data.size())
// bytes; returns the encoded length, or -1 (nothing written) for data larger
// than an FB block holds. Prints nothing: `progress`, when given, hears how
// far it is.
int32_t fbencode(std::span<const uint8_t> data, uint8_t* out, const FbProgressFn& progress = {});

}  // namespace torvex
