// Scanning a container into a directory array, and opening a pack path
// such as "pack.viv\face.fsh" down to the innermost container it names.
#include <algorithm>
#include <numeric>

#include "packentry.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

// The one pack opened through openpack; the next openpack reuses it.
struct PackState {
  RootArray roots;
};

PackState& packstate() {
  static PackState state;
  return state;
}

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
  root.size = static_cast<int32_t>(std::min<uint32_t>(file.size(), 0x7FFFFFFF));
  return true;
}

DirArray* openpack(std::string_view path, int flags) {
  const std::string argument(path);
  std::string file(path);
  std::vector<std::string> names;  // outermost member first
  while (!fileexists(file.c_str())) {
    const size_t cut = file.rfind('\\');
    if (cut == std::string::npos) fatal("couldn't open pack file '%s'\n", argument.c_str());
    names.insert(names.begin(), file.substr(cut + 1));
    file.resize(cut);
  }
  report("pack file '%s' opened\n", file.c_str());
  RootArray& roots = packstate().roots;
  if (!setroot(roots, file)) fatal("couldn't open pack file '%s'\n", argument.c_str());
  PackEntry& root = roots.root();
  DirArray* current = scandir(root, flags);
  if (!current) {
    report("couldn't scan packfile '%s'\n", file.c_str());
    closelist(root, true);
    return nullptr;
  }
  closelist(current->head(), true);
  for (const std::string& name : names) {
    auto members = current->members();
    auto found = std::find_if(members.begin(), members.end(), [&](const PackEntry& m) { return nameequal(m.name, name); });
    if (found == members.end()) {
      report("couldn't find '%s' inside '%s'\n", name.c_str(), file.c_str());
      resetpackstate();
      return nullptr;
    }
    DirArray* inner = scandir(*found, flags);
    if (!inner) {
      report("couldn't scan directory '%s'\n", name.c_str());
      resetpackstate();
      return nullptr;
    }
    closelist(*found, true);
    current = inner;
  }
  return current;
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

void resetpackstate() {
  RootArray& roots = packstate().roots;
  roots.records.records.clear();
}

}  // namespace torvex
