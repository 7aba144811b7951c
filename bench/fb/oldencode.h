// Today's encoder's predecessor, for the benchmark (see oldencode.cpp).
#pragma once

#include <cstdint>
#include <span>

namespace torvex::benchold {

// Encodes `data` into `out` (fbcapacity(data.size()) bytes) and returns the
// encoded length; prints the progress line and the summary.
int32_t oldfbencode(std::span<const uint8_t> data, uint8_t* out);

}  // namespace torvex::benchold
