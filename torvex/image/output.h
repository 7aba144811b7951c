// Shared by the picture writers: they build the whole file in memory and
// hand it to the platform layer in one piece (writefile: written beside the
// name and put in its place only when complete).
#pragma once

#include <cstdint>
#include <span>

#include "image.h"

namespace torvex {

// Status 1 when `name` was created and all of `bytes` written, else 0.
ImageResult writewholefile(const char* name, std::span<const uint8_t> bytes);

}  // namespace torvex
