// FB compression: the five-byte header, the three decoders and the encoders.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "torvex/platform/limits.h"
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

// What the self-test found that every real encoding passes before it is
// handed on: the encoding is decoded again and compared with the original.
struct FbSelfTest {
  enum Outcome { kPassed, kUndecodable, kSizeDiffers, kBytesDiffer };
  Outcome outcome = kPassed;
  int32_t originalsize = 0;
  int32_t decodedsize = -1;  // kSizeDiffers: the size it decoded to
  Block decoded;             // kBytesDiffer: what it decoded to, for whoever looks into it
};

// An encoding, or why there is none.
struct FbCompressed {
  enum Status { kDone, kTooLarge, kSelfTestFailed };
  Status status = kDone;
  Block data;              // kDone: the encoded block; `size` is its length
  int32_t inputsize = 0;   // the size of the data given
  FbSelfTest selftest;     // kSelfTestFailed: what the self-test found
};

// Where the real encoder stands: `done` of the `total` input bytes passed,
// `written` bytes of output so far (the header included).
// After the encoder is done, `finished` is set once with the final sizes:
// the caller's cue for its summary line.
struct FbProgress {
  int32_t done;
  int32_t total;
  int32_t written;
  bool finished = false;
};
// Called at position 1, then at the first position visited from 10,000 on,
// from 20,000 on, and so on (a copy may jump past a mark).
using FbProgressFn = std::function<void(const FbProgress&)>;

// Encodes `data` in the 10 FB kind: the store encoder, or the real encoder
// and its self-test when the run's `real_compression` is set. Consumes the
// input. More than kFbMaxSize bytes are refused (kTooLarge): the header
// could not state their size.
FbCompressed fbcompress(Block data, const FbProgressFn& progress = {});

// The real encoder and its self-test; consumes the input. The broken
// encoding of a failed self-test is never handed on.
FbCompressed fbselftest(Block data, const FbProgressFn& progress = {});

// Decodes `encoded` and compares it with `original`.
FbSelfTest fbverify(std::span<const uint8_t> original, std::span<const uint8_t> encoded);

}  // namespace torvex
