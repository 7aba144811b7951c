// The SHPI directory reader: one PackEntry per directory entry, with the
// picture kind and size from each record's header and the record's size
// from the nearest following offset; and the picture type table.
#include "shpidir.h"

#include <algorithm>
#include <array>
#include <vector>

#include "layouts.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

constexpr ShpiType kTypes[] = {
    {0x40, 1, true},  {0x41, 1, true},  {0x7B, 1, true},  {0x7C, 1, true},  {0x6D, 2, false},
    {0x78, 2, false}, {0x7E, 2, false}, {0x7F, 3, false}, {0x7D, 4, false},
};

constexpr size_t kIdAt = 12;

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
  ByteReader in(record);
  in.skip(1);
  const int32_t v = static_cast<int32_t>(in.u16le()) | static_cast<int32_t>(in.u8()) << 16;
  return v >= 0x800000 ? v - 0x1000000 : v;
}

bool isshpi(const Probe& probe) { return probe.starts("SHP"); }

bool shpipictureid(std::string_view id) { return id == "GIMX" || id == "FACE" || id == "WRAP" || id == "SPIT"; }

std::unique_ptr<DirArray> scanshpi(PackEntry& container) {
  if (!openlist(&container, 0)) return nullptr;
  const int64_t content = contentsize(container);
  if (content < kShpiFileHeader) return nullptr;
  std::array<uint8_t, kShpiFileHeader> head{};
  seeklist(container, 0, 0);
  readlist(container, head.data(), kShpiFileHeader);
  ByteReader header(head);
  header.skip(4);
  const int64_t total = header.u32le();
  // The count is untrusted: no more entries than the content can hold.
  const int64_t count = std::min<int64_t>(header.u32le(), (content - kShpiFileHeader) / kShpiDirEntry);
  const std::string id = readfield(header, 4);
  const bool pictures = shpipictureid(id);

  std::vector<uint8_t> table(static_cast<size_t>(count * kShpiDirEntry));
  if (!table.empty()) readlist(container, table.data(), static_cast<int32_t>(table.size()));
  ByteReader entries(table);

  auto dir = newdirectory();
  std::vector<int64_t> offsets;  // as stored, for the sizes
  const int64_t directoryend = kShpiFileHeader + count * kShpiDirEntry;
  for (int64_t i = 0; i < count; ++i) {
    std::string name = readfield(entries, 4);
    const int64_t offset = entries.u32le();
    if (i == 0 && offset > directoryend) {
      // Bytes between the directory and the first record: kept so that a
      // rewritten file carries them along.
      PackEntry& gap = addmember(*dir, container, "????");
      gap.offset = static_cast<int32_t>(directoryend);
      offsets.push_back(directoryend);
    }
    PackEntry& m = addmember(*dir, container, std::move(name));
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
    std::array<uint8_t, kShpiRecordHeader> rec{};
    seeklist(container, static_cast<int32_t>(offset), 0);
    readlist(container, rec.data(), kShpiRecordHeader);
    ByteReader record(rec);
    if (const ShpiType* t = shpitype(record.u8())) {
      record.seek(4);
      m.setpicturekind(t->indexed ? 1 : 2);
      m.width = static_cast<int16_t>(record.u16le());
      m.height = static_cast<int16_t>(record.u16le());
    }
  }
  seeklist(container, 0, 0);
  return dir;
}

std::string shpidirectoryid(PackEntry& file) {
  std::string id(4, '\0');
  if (openlist(&file, 0) && contentsize(file) >= kShpiFileHeader) {
    std::array<uint8_t, kShpiFileHeader> head{};
    readlist(file, head.data(), kShpiFileHeader);
    std::copy_n(head.begin() + kIdAt, 4, id.begin());
  }
  closelist(file, true);
  return id;
}

}  // namespace torvex
