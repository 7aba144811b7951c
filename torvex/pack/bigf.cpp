// BIGF: "BIGF", total size (BE, not read), member count (BE), header length
// (BE, not read), then per member a BE offset, a BE size and a
// zero-terminated name.
#include "readers.h"

namespace torvex {

std::unique_ptr<DirArray> readbigf(PackEntry& container) {
  ListCursor in(container, 8);
  const uint32_t count = in.u32be();
  in.seek(16);
  auto dir = newdirectory();
  // A count larger than the data can hold ends where the names run out.
  for (uint32_t i = 0; i < count && !in.pastend(); ++i) {
    const auto offset = static_cast<int32_t>(in.u32be());
    const auto size = static_cast<int32_t>(in.u32be());
    std::string name = in.text();
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), offset, size);
  }
  return dir;
}

}  // namespace torvex
