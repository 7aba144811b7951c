// FST (no magic): record count R (LE), offset of the first member's data
// (LE), then R records of a 64-byte name field and the LE offset where the
// next member begins. The list ends after R records or at an empty name
// (the closing record, whose offset is the end of the data).
#include "readers.h"

namespace torvex {

std::unique_ptr<DirArray> readfst(PackEntry& container) {
  ListCursor in(container);
  const uint32_t w0 = in.u32le();
  const uint32_t w1 = in.u32le();
  if (!fsttest(container.size, w1, w0)) {
    seeklist(container, -8, 1);
    return nullptr;
  }
  auto dir = newdirectory();
  uint32_t offset = w1;
  for (uint32_t i = 0; i < w0 && !in.pastend(); ++i) {
    std::string name = in.text(64);
    const uint32_t next = in.u32le();
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), static_cast<int32_t>(offset), static_cast<int32_t>(next - offset));
    offset = next;
  }
  return dir;
}

}  // namespace torvex
