// Every picture reader, through loadimage, on arbitrary bytes, and the
// quantizer or palette expansion after it.
#include <cstdint>

#include "../quiet.h"
#include "torvex/image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  torvex::Image image;
  // A refusal comes back in the result: it is an answer, not a fault. The
  // loaded picture goes on through the quantizer, as the commands take it.
  const torvex::ImageResult loaded = torvex::loadimage(image, {data, size});
  if (loaded) (void)torvex::completeimage(image);
  return 0;
}
