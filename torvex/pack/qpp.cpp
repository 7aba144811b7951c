// .qpp/.ppv (known by the container's name): 4 bytes not read, member count
// N (LE16), N four-character tags, N LE offsets counted from the end of
// this header (6 + 8N). A member runs to the next one's offset, the last
// to the end of the container.
#include <cstdint>

#include "readers.h"

namespace torvex {

namespace {
// Out-of-range values become -1, which the file list refuses when the
// member is read, instead of wrapping to some place inside the container.
int32_t narrow(int64_t v) { return v >= 0 && v <= INT32_MAX ? static_cast<int32_t>(v) : -1; }
}  // namespace

std::unique_ptr<DirArray> readqpp(PackEntry& container) {
  ListCursor in(container, 4);
  const uint16_t count = in.u16le();
  std::vector<std::string> tags;
  for (uint32_t i = 0; i < count; ++i) {
    std::string tag;
    for (int k = 0; k < 4; ++k) {
      const char c = static_cast<char>(in.u8());
      if (c == 0) {
        in.skip(3 - k);
        break;
      }
      tag += c;
    }
    tags.push_back(std::move(tag));
  }
  const int64_t header = 6 + 8 * static_cast<int64_t>(count);
  std::vector<int64_t> offsets;
  for (uint32_t i = 0; i < count; ++i) offsets.push_back(header + in.u32le());
  const int64_t end = container.stream->size;
  auto dir = newdirectory();
  for (uint32_t i = 0; i < count; ++i) {
    if (tags[i].empty()) break;
    const int64_t next = i + 1 < count ? offsets[i + 1] : end;
    PackEntry& m = addmember(*dir, container, tags[i]);
    // Members never open their path; this layout keeps the tag there.
    m.path = tags[i];
    m.label = tags[i];
    m.offset = narrow(offsets[i]);
    m.size = narrow(next - offsets[i]);
    if (tags[i][0] != '!') m.setcontentkind(kContentPicture);
  }
  return dir;
}

}  // namespace torvex
