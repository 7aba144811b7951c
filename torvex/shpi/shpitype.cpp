// The picture type table: the one lookup that the directory reader, the
// pixel codecs and the rebuild commands share.
#include "shpi.h"

namespace torvex {

namespace {

constexpr ShpiType kTypes[] = {
    {0x40, 1, true},  {0x41, 1, true},  {0x7B, 1, true},  {0x7C, 1, true},  {0x6D, 2, false},
    {0x78, 2, false}, {0x7E, 2, false}, {0x7F, 3, false}, {0x7D, 4, false},
};

}  // namespace

const ShpiType* shpitype(int code) {
  for (const ShpiType& t : kTypes)
    if (t.code == (code & 0x7F)) return &t;
  return nullptr;
}

int64_t shpipixelsize(const ShpiType& type, int width, int height) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (type.code == 0x40) return (pixels + 1) / 2;
  return pixels * type.pixelBytes;
}

int32_t shpiattachment(std::span<const uint8_t> record) {
  if (record.size() < 4) return 0;
  const int32_t v = record[1] | record[2] << 8 | record[3] << 16;
  return v >= 0x800000 ? v - 0x1000000 : v;
}

}  // namespace torvex
