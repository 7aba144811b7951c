// The SHPI directory reader: one PackEntry per directory entry, with the
// picture kind and size from each record's header and the record's size
// from the nearest following offset.
#include <algorithm>
#include <vector>

#include "shpi.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

bool shpipictureid(std::string_view id) { return id == "GIMX" || id == "FACE" || id == "WRAP" || id == "SPIT"; }

std::unique_ptr<DirArray> scanshpi(PackEntry& container) {
  if (!openlist(&container, 0)) return nullptr;
  const int64_t content = container.stream ? container.stream->size : 0;
  if (content < kShpiFileHeader) return nullptr;
  uint8_t head[kShpiFileHeader];
  seeklist(container, 0, 0);
  readlist(container, head, kShpiFileHeader);
  const int64_t total = peek32le(head + 4);
  // The count is untrusted: no more entries than the content can hold.
  const int64_t count = std::min<int64_t>(peek32le(head + 8), (content - kShpiFileHeader) / kShpiDirEntry);
  const char* idbytes = reinterpret_cast<const char*>(head + 12);
  const std::string id(idbytes, std::find(idbytes, idbytes + 4, '\0'));
  const bool pictures = shpipictureid(id);

  std::vector<uint8_t> table(static_cast<size_t>(count * kShpiDirEntry));
  if (!table.empty()) readlist(container, table.data(), static_cast<int32_t>(table.size()));

  auto dir = newdirectory();
  std::vector<int64_t> offsets;  // as stored, for the sizes
  const int64_t directoryend = kShpiFileHeader + count * kShpiDirEntry;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t* e = &table[static_cast<size_t>(i * kShpiDirEntry)];
    const int64_t offset = peek32le(e + 4);
    if (i == 0 && offset > directoryend) {
      // Bytes between the directory and the first record: kept so that a
      // rewritten file carries them along.
      PackEntry& gap = addmember(*dir, container, "????");
      gap.offset = static_cast<int32_t>(directoryend);
      offsets.push_back(directoryend);
    }
    const char* name = reinterpret_cast<const char*>(e);
    PackEntry& m = addmember(*dir, container, std::string(name, std::find(name, name + 4, '\0')));
    m.label = id;
    m.offset = static_cast<int32_t>(offset);
    if (pictures && !m.name.starts_with("!")) m.setcontentkind(kContentPicture);
    offsets.push_back(offset);
  }

  std::vector<int64_t> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  auto members = dir->members();
  for (size_t i = 0; i < members.size(); ++i) {
    PackEntry& m = members[i];
    const int64_t offset = offsets[i];
    // Size: up to the nearest record after this one, the last one up to the
    // header's total size.
    const auto next = std::upper_bound(sorted.begin(), sorted.end(), offset);
    const int64_t size = next != sorted.end() ? *next - offset : total - offset;
    m.size = static_cast<int32_t>(std::clamp<int64_t>(size, 0, INT32_MAX));
    // Picture kind and size from the record header, where the record lies
    // inside the content at all.
    if (offset >= content) continue;
    uint8_t rec[kShpiRecordHeader];
    seeklist(container, static_cast<int32_t>(offset), 0);
    readlist(container, rec, kShpiRecordHeader);
    if (const ShpiType* t = shpitype(rec[0])) {
      m.setpicturekind(t->indexed ? 1 : 2);
      m.width = static_cast<int16_t>(peek16le(rec + 4));
      m.height = static_cast<int16_t>(peek16le(rec + 6));
    }
  }
  seeklist(container, 0, 0);
  return dir;
}

}  // namespace torvex
