// The update ("-p", "-p1") and delete ("-d") commands: change the item list
// of a pack and rewrite it.
#include "packwriter.h"
#include "packwriterbytes.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

// Member names longer than this are refused: the games' packs never hold them.
constexpr size_t kMaxMemberName = 12;
constexpr int64_t kMaxFbSize = 0xFFFFFF;

// Loads the new bytes of an item from `file`, FB-compressed when asked for
// and not already compressed.
void loadnewbytes(PackItem& item, const std::string& file) {
  File f(file.c_str(), 0);
  if (!f) fatal("couldn't open '%s' for reading", file.c_str());
  const int64_t size = f.size();
  if (size > packbytes::kMaxPack)
    fatal("'%s' has %lld bytes, more than a packfile can hold", file.c_str(), static_cast<long long>(size));
  Block bytes = allocblock(static_cast<int32_t>(size));
  if (f.read(bytes.get(), static_cast<uint32_t>(size)) != static_cast<uint32_t>(size))
    fatal("read error ('%s')\n", file.c_str());
  f.close();
  int32_t expanded = 0;
  if (item.compress && !fbinfo(bytes.span(), expanded)) {
    if (size > kMaxFbSize)
      fatal("'%s' has %lld bytes, more than FB compression can hold (%lld)", file.c_str(),
            static_cast<long long>(size), static_cast<long long>(kMaxFbSize));
    bytes = fbcompress(std::move(bytes));
  }
  item.size = bytes.size;
  item.offset = -1;
  item.content = std::move(bytes);
}

// The first item named `name` (letter case ignored), or null.
PackItem* finditem(std::vector<PackItem>& items, std::string_view name) {
  for (PackItem& item : items)
    if (nameequal(item.name, name)) return &item;
  return nullptr;
}

// The command's pack must be there before anything else is done.
void requirepack(const std::string& path) {
  File f(path.c_str(), 0);
  if (!f) fatal("couldn't open packfile '%s'\n", path.c_str());
}

}  // namespace

std::string joinpackpath(std::string_view basedir, std::string_view pack) {
  std::string path(basedir);
  if (!path.empty() && path.back() != '\\' && path.back() != ':') path += '\\';
  path += pack;
  return path;
}

std::string temporaryname(std::string_view pack) {
  if (pack.size() > 4 && pack[pack.size() - 4] == '.') return std::string(pack.substr(0, pack.size() - 4)) + ".tmp";
  return std::string(pack) + ".tmp";
}

std::string_view membername(std::string_view path) {
  const size_t cut = path.find_last_of("/\\:");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool updatepack(std::string_view basedir, std::string_view pack, std::span<const std::string> files,
                bool compress) {
  const std::string path = joinpackpath(basedir, pack);
  requirepack(path);
  report("updating packfile '%s'\n", path.c_str());

  // Every file is checked before the pack is touched.
  std::vector<std::string> names;
  for (const std::string& file : files) {
    const std::string name(membername(file));
    if (name.size() > kMaxMemberName) fatal("filename '%s' is too long\n", name.c_str());
    if (!File(file.c_str(), 0)) fatal("couldn't open '%s' for reading\n", file.c_str());
    names.push_back(name);
  }

  PackForWrite target;
  if (!openforwrite(path, files.size(), target)) return false;
  const size_t total = target.items.size();

  int replaced = 0;
  int added = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    PackItem* item = finditem(target.items, names[i]);
    if (item) {
      item->compress = compress;
      loadnewbytes(*item, files[i]);
      report("replaced '%s'\n", item->name.c_str());
      ++replaced;
    } else {
      PackItem& fresh = target.items.emplace_back();
      fresh.name = names[i];
      fresh.compress = compress;
      loadnewbytes(fresh, files[i]);
      report("added '%s'\n", fresh.name.c_str());
      ++added;
    }
  }
  report("total %d, replaced %d, added %d\n", static_cast<int>(total), replaced, added);

  writepack(target);
  report("packfile '%s' updated successfully\n", path.c_str());
  return true;
}

bool deletepack(std::string_view basedir, std::string_view pack, std::span<const std::string> names) {
  const std::string path = joinpackpath(basedir, pack);
  requirepack(path);
  report("deletes files from packfile '%s'\n", path.c_str());

  PackForWrite target;
  if (!openforwrite(path, 0, target)) return false;

  int deleted = 0;
  for (const std::string& name : names) {
    // The first item of the name, even when an earlier name marked it already.
    PackItem* item = finditem(target.items, name);
    if (!item) fatal("can't find '%s'", name.c_str());
    item->deleted = true;
    ++deleted;
  }
  report("total %d, deleted %d\n", static_cast<int>(target.items.size()), deleted);

  writepack(target);
  report("packfile '%s' updated successfully\n", path.c_str());
  return true;
}

}  // namespace torvex
