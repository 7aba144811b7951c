// The entry record and the building blocks every directory reader uses.
#include "packentry.h"
#include "readers.h"

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

}  // namespace torvex
