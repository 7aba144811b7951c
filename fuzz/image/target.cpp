// Every picture reader, through loadimage, on arbitrary bytes.
#include <cstdint>

#include "../quiet.h"
#include "torvex/image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  torvex::Image image;
  try {
    torvex::loadimage(image, {data, size});
  } catch (const torvex::FatalError&) {
    // A refusal through the fatal service is an answer, not a fault.
  }
  return 0;
}
