// The three stream decoders behind fbdecompress. Each one decodes a whole
// block (header included) into the first `size` bytes of `buffer` and
// trusts nothing: it reads `src` through a bounds-checked reader and writes
// through the checked output (LzOutput), which never writes outside the
// buffer and never copies from before its start. The buffer's bytes behind
// `size` are spare room for wide moves, zero again when a decoder succeeds.
// A stream must end with its end mark having produced exactly `size` bytes
// (every real stream does); more or fewer, or input that ends before the
// end mark, is kCorrupt.
//
// Each decoder keeps its LzOutput local: an output object that lived in the
// caller's frame would have to be reloaded after every byte stored, since a
// byte store may alias anything.
#pragma once

#include <cstdint>
#include <span>

#include "fb.h"
#include "torvex/platform/bytereader.h"
#include "torvex/platform/limits.h"

namespace torvex {

constexpr int32_t kFbSlack = 32;        // spare bytes behind the decoded data
constexpr size_t kFbHeaderBytes = 5;

// The status at a stream's end mark: kOk, with the spare bytes cleared, when
// the output is complete.
inline FbStatus finished(LzOutput& out) {
  if (!out.full()) return FbStatus::kCorrupt;
  out.finish();
  return FbStatus::kOk;
}

FbStatus fbdecode10(std::span<const uint8_t> src, std::span<uint8_t> buffer, size_t size);
FbStatus fbdecode30(std::span<const uint8_t> src, std::span<uint8_t> buffer, size_t size);
FbStatus fbdecode46(std::span<const uint8_t> src, std::span<uint8_t> buffer, size_t size);

}  // namespace torvex
