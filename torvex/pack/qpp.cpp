// .qpp/.ppv (known by the container's name): 4 bytes not read, member count
// N (LE16), N four-character tags, N LE offsets counted from the end of
// this header (6 + 8N). A member runs to the next one's offset, the last
// to the end of the container.
#include <cstdint>

#include "layouts.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

constexpr size_t kCountAt = 4;
constexpr int64_t kTagsAt = 6;
constexpr size_t kTag = 4;

// Out-of-range values become -1, which the file list refuses when the
// member is read, instead of wrapping to some place inside the container.
int32_t narrow(int64_t v) { return v >= 0 && v <= INT32_MAX ? static_cast<int32_t>(v) : -1; }

}  // namespace

bool isqpp(const Probe& probe) {
  return probe.name.size() > 4 && (endswithname(probe.name, ".qpp") || endswithname(probe.name, ".ppv"));
}

std::unique_ptr<DirArray> readqpp(PackEntry& container) {
  const int64_t end = contentsize(container);
  const std::vector<uint8_t> head = readcontent(container, std::min<int64_t>(end, kTagsAt), kTagsAt);
  ByteReader counter(head);
  counter.seek(kCountAt);
  const uint16_t count = counter.u16le();
  // The header's length follows from the count; where the content is
  // shorter, the rest of it reads as zeros.
  const int64_t header = kTagsAt + 8 * static_cast<int64_t>(count);
  const int64_t present = std::min(end, header);
  const std::vector<uint8_t> bytes = readcontent(container, present, header - present);
  ByteReader in(bytes);
  in.seek(kTagsAt);
  std::vector<std::string> tags;
  for (uint32_t i = 0; i < count; ++i) tags.push_back(readfield(in, kTag));
  std::vector<int64_t> offsets;
  for (uint32_t i = 0; i < count; ++i) offsets.push_back(header + in.u32le());
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
