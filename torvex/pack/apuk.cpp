// APUK: "APUK", member count (LE), 24 bytes not read; from offset 32 one
// 32-byte record per member: LE size at 0, LE offset at 4, name in 16-31.
#include <cstring>

#include "readers.h"

namespace torvex {

std::unique_ptr<DirArray> readapuk(PackEntry& container) {
  uint8_t magic[4];
  readlist(container, magic, 4);
  if (std::memcmp(magic, "APUK", 4) != 0) {
    seeklist(container, -4, 1);
    return nullptr;
  }
  ListCursor in(container, 4);
  const uint32_t count = in.u32le();
  auto dir = newdirectory();
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t record = 32 + 32 * static_cast<int64_t>(i);
    in.seek(record);
    if (in.pastend()) break;
    const auto size = static_cast<int32_t>(in.u32le());
    const auto offset = static_cast<int32_t>(in.u32le());
    in.seek(record + 16);
    std::string name = in.text(16);
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), offset, size);
  }
  return dir;
}

}  // namespace torvex
