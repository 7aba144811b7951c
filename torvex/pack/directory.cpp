// Scanning a container into a directory array, and opening a pack path
// such as "pack.viv\face.fsh" down to the innermost container it names.
#include <algorithm>
#include <numeric>

#include "packentry.h"
#include "torvex/platform/limits.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

// Sorts an index and moves each record once: records are large, and a
// directory may hold thousands of them.
void sortbyname(DirArray& dir) {
  std::vector<PackEntry>& records = dir.records;
  std::vector<size_t> order(records.size() - 1);
  std::iota(order.begin(), order.end(), size_t{1});
  std::stable_sort(order.begin(), order.end(),
                   [&records](size_t a, size_t b) { return namecmp(records[a].name, records[b].name) < 0; });
  std::vector<PackEntry> sorted;
  sorted.reserve(records.size());
  sorted.push_back(std::move(records[0]));
  for (size_t i : order) sorted.push_back(std::move(records[i]));
  records.swap(sorted);
}

}  // namespace

DirArray* scandir(PackEntry& entry, int flags) {
  const DirReader reader = recognize(entry);
  if (!reader) return nullptr;
  std::unique_ptr<DirArray> dir = reader(entry);
  if (!dir) return nullptr;
  // The first empty name ends a directory.
  auto members = dir->members();
  const auto end = std::find_if(members.begin(), members.end(), [](const PackEntry& m) { return m.name.empty(); });
  dir->records.erase(dir->records.begin() + 1 + (end - members.begin()), dir->records.end());
  if (!(flags & kScanKeepOrder)) sortbyname(*dir);
  dir->head().parent = &entry;
  for (PackEntry& m : dir->members()) m.parent = &entry;
  entry.directory = std::move(dir);
  return entry.directory.get();
}

bool setroot(RootArray& roots, std::string_view path) {
  roots.records.records.clear();
  roots.records.records.resize(2);
  roots.records.head().setblockkind(kBlockStatic);
  PackEntry& root = roots.root();
  root.path = std::string(path);
  root.name = root.path;
  File file(root.path.c_str(), 0);
  if (!file) return false;
  roots.filesize = file.size();
  root.size = static_cast<int32_t>(std::min<int64_t>(roots.filesize, kMaxPack));
  return true;
}

std::optional<PackPath> splitpackpath(std::string_view path) {
  PackPath out;
  out.file = std::string(path);
  while (!fileexists(out.file.c_str())) {
    const size_t cut = out.file.rfind('\\');
    if (cut == std::string::npos) return std::nullopt;
    out.members.insert(out.members.begin(), out.file.substr(cut + 1));
    out.file.resize(cut);
  }
  return out;
}

OpenedPack openpack(const PackPath& path, int flags) {
  OpenedPack out;
  out.roots = std::make_unique<RootArray>();
  auto fail = [&out](OpenedPack::Status status, std::string name = {}) {
    out.status = status;
    out.failed = std::move(name);
    out.roots.reset();
    return std::move(out);
  };
  if (!setroot(*out.roots, path.file)) return fail(OpenedPack::kCantOpen);
  out.filesize = out.roots->filesize;
  // A container that did not scan because its content did not open: why.
  auto unopened = [&fail](const PackEntry& container, OpenedPack::Status otherwise, std::string name) {
    const PackEntry* failed = failedentry(container);
    if (!failed) return fail(otherwise, std::move(name));
    switch (failed->failure) {
      case OpenFailure::kCorrupt:
        return fail(OpenedPack::kCorrupt, entrypath(*failed));
      case OpenFailure::kTooLarge:
        return fail(OpenedPack::kTooLarge, entrypath(*failed));
      default:
        return fail(OpenedPack::kCantOpen, entrypath(*failed));
    }
  };
  PackEntry& root = out.roots->root();
  DirArray* current = scandir(root, flags);
  if (!current) return unopened(root, OpenedPack::kNotScanned, {});
  closelist(current->head(), true);
  for (const std::string& name : path.members) {
    auto members = current->members();
    auto found = std::find_if(members.begin(), members.end(), [&](const PackEntry& m) { return nameequal(m.name, name); });
    if (found == members.end()) return fail(OpenedPack::kNotFound, name);
    DirArray* inner = scandir(*found, flags);
    if (!inner) return unopened(*found, OpenedPack::kNotADirectory, name);
    closelist(*found, true);
    current = inner;
  }
  out.status = OpenedPack::kOpened;
  out.directory = current;
  return out;
}

void freedir(DirArray* directory, bool with_parents) {
  if (!directory) return;
  for (PackEntry& m : directory->members()) closelist(m, false);
  PackEntry* owner = directory->head().parent;
  if (!owner) return;  // not attached to an entry: its owner releases it
  if (with_parents) {
    PackEntry* top = owner;
    while (top->parent) top = top->parent;
    top->stream.reset();
    top->directory.reset();  // inner arrays go with the members that own them
    return;
  }
  if (directory->head().blockkind() == kBlockAllocated) owner->directory.reset();
}

}  // namespace torvex
