// The update ("-p", "-p1") and delete ("-d") commands: change the item list
// of a pack and have the pack writer rewrite it, saying what happens.
#include "updatedelete.h"

#include "common.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/pack/packwriter.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

// Member names longer than this are refused: the games' packs never hold them.
constexpr size_t kMaxMemberName = 12;

// Loads the new bytes of an item from `file`, FB-compressed when asked for
// and not already compressed.
void loadnewbytes(PackItem& item, const std::string& file) {
  WholeFile read = readwholefile(file.c_str(), kMaxPack);
  switch (read.status) {
    case WholeFile::kRead:
      break;
    case WholeFile::kCantOpen:
      fatal("couldn't open '%s' for reading", file.c_str());
    case WholeFile::kTooLarge:
      fatal("'%s' has %s, more than a packfile can hold", file.c_str(), sizetext(read.size).c_str());
    case WholeFile::kShortRead:
      fatal("read error ('%s')\n", file.c_str());
  }
  Block bytes = std::move(read.bytes);
  int32_t expanded = 0;
  if (item.compress && !fbinfo(bytes.span(), expanded)) {
    if (bytes.size > kFbMaxSize)
      fatal("'%s' has %lld bytes, more than FB compression can hold (%lld)", file.c_str(),
            static_cast<long long>(bytes.size), static_cast<long long>(kFbMaxSize));
    bytes = compressorstop(std::move(bytes));
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

// Opens the pack for rewriting; false after printing why not.
bool openorsay(const std::string& path, size_t extra, PackForWrite& target) {
  const PackOpening opening = openforwrite(path, extra, target);
  const char* name = path.c_str();
  switch (opening.status) {
    case PackOpening::kOpened:
      return true;
    case PackOpening::kCantOpen:
      report("couldn't open packfile '%s'\n", name);
      return false;
    case PackOpening::kNotScanned:
      report("couldn't scan packfile '%s'\n", name);
      return false;
    case PackOpening::kShpiFile:
      fatal("'%s' is SHPI file, use -r/-rp to replace images", name);
    case PackOpening::kUnsupported:
      fatal("'%s' is not supported packfile", name);
    case PackOpening::kReadFailed:
      fatal("read error ('%s')\n", name);
    case PackOpening::kDamaged:
      fatal("'%s' has a damaged directory", name);
    case PackOpening::kCorrupt:
      message("%s\n", corrupttext(name).c_str());
      return false;
    case PackOpening::kTooLarge:
      message("%s\n", toolargetext(name, opening.filesize, kMaxPack).c_str());
      return false;
    case PackOpening::kOutside:
      break;
  }
  fatal("'%s' has a damaged directory: '%s' lies outside the packfile", name, opening.member.c_str());
}

// The writer's progress as the lines the commands have always printed; an
// FST pack shows a dot per member.
class WriteLines : public PackWriteEvents {
 public:
  explicit WriteLines(bool dots) : dots_(dots) {}
  void headerbegins() override { report("creating header\n"); }
  void databegins() override { report(dots_ ? "writing data" : "writing data\n"); }
  void memberwritten() override {
    if (dots_) report(".");
  }
  void datadone() override {
    if (dots_) report("\n");
  }
  void compressing(const FbProgress& progress) override { showcompression(progress); }

 private:
  bool dots_;
};

}  // namespace

void writeorstop(PackForWrite& target) {
  WriteLines lines(target.layout == WriteLayout::kFst);
  const PackWriteResult result = writepack(target, lines);
  const char* path = target.path.c_str();
  switch (result.status) {
    case PackWriteResult::kWritten:
      return;
    case PackWriteResult::kRefused:
      fatal("%s", result.refusal.c_str());
    case PackWriteResult::kTooLargeToCompress:
      fatal("'%s' would be %lld bytes, more than the %lld a compressed packfile can hold", path,
            static_cast<long long>(result.total), static_cast<long long>(kFbMaxSize));
    case PackWriteResult::kNoTemporaryFile:
      fatal("couldn't open '%s' for writing", result.temporary.c_str());
    case PackWriteResult::kWriteFailed:
      fatal("write error while writing to packfile (disk full?)\n");
    case PackWriteResult::kReadFailed:
      fatal("read error ('%s')\n", path);
    case PackWriteResult::kCompressionFailed:
      stopcompression(result.compression);
    case PackWriteResult::kRenameFailed:
      break;
  }
  fatal("couldn't rename '%s' -> '%s'", result.temporary.c_str(), path);
}

std::string joinpackpath(std::string_view basedir, std::string_view pack) {
  std::string path(basedir);
  if (!path.empty() && path.back() != '\\' && path.back() != ':') path += '\\';
  path += pack;
  return path;
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
    // An empty name would end the pack's directory and hide every member after it.
    if (name.empty()) fatal("'%s' gives no member name (the text after its last '/', '\\' or ':')", file.c_str());
    if (name.size() > kMaxMemberName) fatal("filename '%s' is too long\n", name.c_str());
    if (!File(file.c_str(), 0)) fatal("couldn't open '%s' for reading\n", file.c_str());
    names.push_back(name);
  }

  PackForWrite target;
  if (!openorsay(path, files.size(), target)) return false;
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

  writeorstop(target);
  report("packfile '%s' updated successfully\n", path.c_str());
  return true;
}

bool checkpack(std::string_view pack) {
  const std::string path(pack);
  requirepack(path);
  PackForWrite target;
  return openorsay(path, 0, target);
}

bool deletepack(std::string_view basedir, std::string_view pack, std::span<const std::string> names) {
  const std::string path = joinpackpath(basedir, pack);
  requirepack(path);
  report("deletes files from packfile '%s'\n", path.c_str());

  PackForWrite target;
  if (!openorsay(path, 0, target)) return false;

  int deleted = 0;
  for (const std::string& name : names) {
    // The first item of the name, even when an earlier name marked it already.
    PackItem* item = finditem(target.items, name);
    if (!item) fatal("can't find '%s'", name.c_str());
    item->deleted = true;
    ++deleted;
  }
  report("total %d, deleted %d\n", static_cast<int>(target.items.size()), deleted);

  writeorstop(target);
  report("packfile '%s' updated successfully\n", path.c_str());
  return true;
}

}  // namespace torvex
