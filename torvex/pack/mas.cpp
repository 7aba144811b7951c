// MAS (no magic): member count (LE), data length (LE), then one 32-byte
// record per member: name in bytes 0-15, LE offset at 16, LE size at 20.
#include "readers.h"

namespace torvex {

std::unique_ptr<DirArray> readmas(PackEntry& container) {
  ListCursor in(container);
  const uint32_t w0 = in.u32le();
  const uint32_t w1 = in.u32le();
  if (!mastest(container.size, w1, w0)) {
    seeklist(container, -8, 1);
    return nullptr;
  }
  auto dir = newdirectory();
  for (uint32_t i = 0; i < w0 && !in.pastend(); ++i) {
    const int64_t record = 8 + 32 * static_cast<int64_t>(i);
    in.seek(record);
    std::string name = in.text(16);
    const auto offset = static_cast<int32_t>(in.u32le());
    const auto size = static_cast<int32_t>(in.u32le());
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), offset, size);
  }
  return dir;
}

}  // namespace torvex
