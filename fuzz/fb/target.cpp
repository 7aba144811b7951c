// Any bytes given to fbdecompress must come back as a block of the header's
// size or as a refusal, never as a read or write outside the buffers. Inputs
// whose first byte is not a known kind are also run through the real encoder,
// whose result must decode to them again.
#include <cstring>

#include "torvex/fbcomp/encode.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/platform.h"

namespace {
void quiet(std::string_view) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    torvex::installservices();
    torvex::services().consolewrite = quiet;
    return true;
  }();
  (void)ready;
  const std::span<const uint8_t> in(data, size);
  torvex::FbStatus status;
  const torvex::Block out = torvex::fbdecompress(in, status);
  int32_t stated = 0;
  if (out && (!torvex::fbinfo(in, stated) || out.size != stated)) __builtin_trap();
  if (status == torvex::FbStatus::kNotCompressed && size < 65536) {
    torvex::Block encoded = torvex::allocblock(torvex::fbcapacity(static_cast<int32_t>(size)));
    encoded.size = torvex::fbencode(in, encoded.get());
    const torvex::Block back = torvex::fbdecompress(encoded.span(), status);
    if (!back || back.size != static_cast<int32_t>(size) || (size && std::memcmp(back.get(), data, size) != 0))
      __builtin_trap();
  }
  return 0;
}
