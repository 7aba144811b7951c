// The two 10 FB encoders and the self-test of the real one. fbcompress (fb.h)
// is the usual entry point; these are the pieces it is made of.
#pragma once

#include <cstdint>
#include <span>

#include "torvex/platform/platform.h"

namespace torvex {

// Room an encoder needs for `size` input bytes, whichever encoder runs.
int32_t fbcapacity(int32_t size);

// Wraps `data` in literal commands without looking for repeats. `out` has
// fbcapacity(data.size()) bytes; returns the encoded length. Any size up to
// 0xFFFFFF: the last one to three bytes go with the end command.
int32_t fbstore(std::span<const uint8_t> data, uint8_t* out);

// The real encoder: hash chains on two-byte keys over a 128 KiB window.
// `out` has fbcapacity(data.size()) bytes; returns the encoded length.
// Prints its progress line and the "old size, new size" summary.
int32_t fbencode(std::span<const uint8_t> data, uint8_t* out);

// The encoder's chain nodes are kept between runs on a free list; this is
// that process-wide state.
struct FbEncoderStats {
  int32_t slabs = 0;      // node blocks taken from allocmem so far
  int32_t freenodes = 0;  // nodes waiting on the free list
};
FbEncoderStats fbencoderstats();
// Gives every node block back to allocmem (tests, and the end of a run that
// wants its memory back).
void resetfbencoder();

}  // namespace torvex
