// The quantizer's and the remap's process-wide working state, visible here
// so that tests can inspect and reset it.
#pragma once

#include <cstdint>

#include "torvex/platform/platform.h"

namespace torvex {

// dl1quant: lookup tables built at the first call, and the palette of the
// last call (planar: reds, greens, blues).
struct QuantState {
  bool tablesbuilt = false;
  uint32_t redbin[256] = {}, greenbin[256] = {}, bluebin[256] = {};  // shares of the 15-bit bin number
  int squares[511] = {};                                              // i*i for i from -255 to 255
  uint8_t palette[3][256] = {};
  int count = 0;  // colours in `palette`
};
QuantState& quantstate();
void resetquantstate();

// The remap: the lazily filled inverse colour map and the palette it serves.
struct RemapState {
  MemPtr<uint16_t[]> map;  // [red/8][green/4][blue/8]: index + 1, 0 not yet computed
  uint8_t colours[256][3] = {};
  int entries = 0;
  int excluded = -1;
};
RemapState& remapstate();
void resetremapstate();

}  // namespace torvex
