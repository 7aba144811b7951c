// The crop and shrink of the face importer on arbitrary pictures: the
// pictures themselves come through the picture readers (the image target),
// but what is cut out of them depends on where dark and bright pixels lie,
// and that arithmetic runs to the picture's edges.
//
// Bytes 0-1: width and height (1 to 128 each); byte 2: the small photo's
// size (the two fixed sizes, or one from byte 3); the rest: the pixels, two
// bits a channel (dark, just dark, just bright, bright), the picture
// repeating the bytes given.
#include <cstdint>
#include <vector>

#include "../quiet.h"
#include "torvex/faces/faces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  if (size < 5) return 0;
  torvex::RgbPicture picture;
  picture.width = 1 + data[0] % 128;
  picture.height = 1 + data[1] % 128;
  torvex::FaceSize target;
  switch (data[2] % 3) {
    case 0: target = torvex::smallfacesize(98); break;
    case 1: target = torvex::smallfacesize(99); break;
    default: target = {1 + data[3] % 64, 1 + data[3] / 4}; break;
  }
  // Around the two thresholds: below 15 is dark, 16 and up bright.
  static constexpr uint8_t kLevels[4] = {0, 15, 16, 200};
  const std::span<const uint8_t> pixels(data + 4, size - 4);
  picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  for (size_t i = 0; i < picture.rgb.size(); ++i) {
    const uint8_t byte = pixels[(i / 4) % pixels.size()];
    picture.rgb[i] = kLevels[(byte >> (2 * (i % 4))) & 3];
  }
  torvex::RgbPicture result;
  if (torvex::cropface(picture, result, target)) {
    if (result.width <= 0 || result.height <= 0 ||
        result.rgb.size() != static_cast<size_t>(result.width) * result.height * 3)
      __builtin_trap();
  }
  return 0;
}
