// FB compression: the five-byte header, the three decoders and the encoders.
#pragma once

#include <cstdint>
#include <span>

#include "torvex/platform/platform.h"

namespace torvex {

// True when bytes 0-1 are 10 FB, 30 FB or 46 FB (and five bytes are there);
// then `size_out` receives the uncompressed size. Reads five bytes only.
bool fbinfo(std::span<const uint8_t> data, int32_t& size_out);

enum class FbStatus { kOk, kNotCompressed, kCorrupt };

// Expands one whole block (header included). The result's `size` is the
// uncompressed size; its buffer has 32 bytes to spare behind that. A null
// Block when the bytes carry no known header (kNotCompressed) or the stream
// is corrupt (kCorrupt): nothing ever reads or writes outside the buffers.
Block fbdecompress(std::span<const uint8_t> data, FbStatus& status);

// Encodes `data` in the 10 FB kind: the store encoder, or the real encoder
// and its self-test when the run's `real_compression` is set. Consumes the
// input; the result's `size` is the encoded length.
Block fbcompress(Block data);

}  // namespace torvex
