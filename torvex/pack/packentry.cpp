// The entry record and the building blocks every directory reader uses.
#include "packentry.h"

#include "layouts.h"

namespace torvex {

PackEntry::PackEntry() = default;
PackEntry::~PackEntry() = default;
PackEntry::PackEntry(PackEntry&&) noexcept = default;
PackEntry& PackEntry::operator=(PackEntry&&) noexcept = default;

std::unique_ptr<DirArray> newdirectory() {
  auto dir = std::make_unique<DirArray>();
  dir->records.emplace_back();
  dir->head().setblockkind(kBlockAllocated);
  return dir;
}

PackEntry& addmember(DirArray& dir, const PackEntry& container, std::string name) {
  PackEntry& e = dir.records.emplace_back();
  e.name = std::move(name);
  e.path = container.path;
  e.width = -1;
  e.height = -1;
  return e;
}

void addpackmember(DirArray& dir, const PackEntry& container, std::string name, int32_t offset, int32_t size) {
  PackEntry& m = addmember(dir, container, std::move(name));
  m.label = "----";
  m.offset = offset;
  m.size = size;
}

void addpackmembers(DirArray& dir, const PackEntry& container, std::vector<StoredMember>& members) {
  dir.records.reserve(dir.records.size() + members.size());
  // Offsets and sizes are taken as the signed values the file list checks
  // when a member is read.
  for (StoredMember& m : members)
    addpackmember(dir, container, std::move(m.name), static_cast<int32_t>(m.offset), static_cast<int32_t>(m.size));
}

std::string readtext(ByteReader& in) {
  const size_t start = in.pos();
  const auto rest = in.bytes(in.remaining());
  const auto end = std::find(rest.begin(), rest.end(), uint8_t{0});
  if (end == rest.end()) throw ParseError{};  // no terminator before the end
  in.seek(start + static_cast<size_t>(end - rest.begin()) + 1);
  return std::string(rest.begin(), end);
}

std::vector<StoredMember> parseentries(ByteReader& in, uint32_t count, int width, DirectoryRules rules,
                                       int64_t contentsize) {
  const bool listing = rules == DirectoryRules::kListing;
  auto field = [&in, width] { return width == 4 ? in.u32be() : in.u24be(); };
  std::vector<StoredMember> members;
  for (uint32_t i = 0; i < count; ++i) {
    if (listing && static_cast<int64_t>(in.pos()) >= contentsize) break;
    StoredMember m;
    m.offset = field();
    m.size = field();
    m.name = readtext(in);
    if (listing && m.name.empty()) break;
    members.push_back(std::move(m));
  }
  return members;
}

std::string readfield(ByteReader& in, size_t width) {
  const auto field = in.bytes(width);
  const auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), end);
}

int64_t contentsize(const PackEntry& entry) { return entry.stream ? entry.stream->size : 0; }

void readcontentinto(PackEntry& entry, uint8_t* out, int64_t length) {
  seeklist(entry, 0, 0);
  readlist(entry, out, static_cast<int32_t>(length));
  seeklist(entry, 0, 0);
}

std::vector<uint8_t> readcontent(PackEntry& entry, int64_t length, int64_t zeros) {
  std::vector<uint8_t> bytes(static_cast<size_t>(length + zeros), 0);
  readcontentinto(entry, bytes.data(), length);
  return bytes;
}

}  // namespace torvex
