// Every picture reader, through loadimage, on arbitrary bytes, and the
// quantizer or palette expansion after it.
#include <cstdint>

#include "../quiet.h"
#include "torvex/image/image.h"

namespace {

// Every path of every reader is reached with pictures of up to 256 x 256
// pixels; larger ones only cost time (a few header bytes can claim 30,000 x
// 2,000 pixels), so they are refused the way a caller with a limit refuses
// them, which reaches that path too.
constexpr int64_t kPixelLimit = int64_t{1} << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  torvex::Image image;
  // A refusal comes back in the result: it is an answer, not a fault. The
  // loaded picture goes on through the quantizer, as the commands take it.
  const torvex::ImageResult loaded = torvex::loadimage(image, {data, size}, kPixelLimit);
  if (loaded) (void)torvex::completeimage(image);
  return 0;
}
