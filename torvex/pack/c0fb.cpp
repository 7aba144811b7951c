// C0FB: 0xC0 0xFB, header length minus 4 (BE16, not read), member count
// (BE16), then per member a 24-bit BE offset, a 24-bit BE size and a
// zero-terminated name.
#include "readers.h"

namespace torvex {

std::unique_ptr<DirArray> readc0fb(PackEntry& container) {
  ListCursor in(container, 4);
  const uint16_t count = in.u16be();
  auto dir = newdirectory();
  for (uint32_t i = 0; i < count && !in.pastend(); ++i) {
    const auto offset = static_cast<int32_t>(in.u24be());
    const auto size = static_cast<int32_t>(in.u24be());
    std::string name = in.text();
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), offset, size);
  }
  return dir;
}

}  // namespace torvex
