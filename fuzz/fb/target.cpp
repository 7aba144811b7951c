// fbdecompress on arbitrary bytes: a block of the header's size or a refusal,
// never a read or write outside the buffers. Small inputs without a known
// header also go through the real encoder, whose result must decode to them.
#include <cstdint>
#include <cstring>

#include "../quiet.h"
#include "torvex/fbcomp/encode.h"
#include "torvex/fbcomp/fb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  const std::span<const uint8_t> in(data, size);
  torvex::FbStatus status;
  const torvex::Block out = torvex::fbdecompress(in, status);
  int32_t stated = 0;
  if (out && (!torvex::fbinfo(in, stated) || out.size != stated)) __builtin_trap();
  if (status == torvex::FbStatus::kNotCompressed && size <= 4096) {
    torvex::Block encoded = torvex::allocblock(torvex::fbcapacity(static_cast<int32_t>(size)));
    encoded.size = torvex::fbencode(in, encoded.get());
    const torvex::Block back = torvex::fbdecompress(encoded.span(), status);
    if (!back || back.size != static_cast<int32_t>(size) || (size && std::memcmp(back.get(), data, size) != 0))
      __builtin_trap();
  }
  return 0;
}
