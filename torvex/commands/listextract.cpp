// The list and extract commands: one pass over a directory, one member's
// content in memory at a time.
#include "listextract.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "common.h"
#include "torvex/image/image.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"
#include "torvex/platform/text.h"
#include "torvex/shpi/shpi.h"

namespace torvex {

namespace {

void memberline(const PackEntry& m, int32_t size) {
  if (m.contentkind() == kContentPlain)
    message("%8d %s\n", size, m.name.c_str());
  else
    message("%8d %s %d*%d (%s)\n", size, m.name.c_str(), m.width, m.height, m.label.c_str());
}

bool isseparator(char c) { return c == '\\' || c == '/'; }

// Windows knows these names in every folder, whatever follows them after a
// dot or colon ("nul.txt" is the null device too): a file of such a name
// would go to a device, or vanish, instead of into the folder.
bool isdevicename(std::string_view part) {
  std::string_view base = part.substr(0, part.find_first_of(".:"));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (nameequal(base, device)) return true;
  const bool numbered = nameequal(base.substr(0, 3), "com") || nameequal(base.substr(0, 3), "lpt");
  return base.size() == 4 && numbered && base[3] >= '1' && base[3] <= '9';
}

// A member name becomes a file name below the current folder. Names that
// would lead elsewhere (absolute, with a drive, with a ".." component, or
// naming a device) are refused.
bool staysinside(std::string_view name) {
  if (name.empty() || isseparator(name[0])) return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !isseparator(name[end])) ++end;
    const std::string_view part = name.substr(start, end - start);
    if (part == ".." || isdevicename(part)) return false;
    start = end + 1;
  }
  return true;
}

// The folders a member name holds ("a\b\c.txt" needs "a\b").
bool makeparents(const std::string& name) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i)
    if (isseparator(name[i])) last = i;
  if (last == std::string::npos || last == 0) return true;
  return makefolder(name.substr(0, last).c_str()) == 1;
}

void savepictureorstop(const PackEntry& member, std::span<const uint8_t> content, int format) {
  const PictureSave saved = savepicture(member, content, format);
  switch (saved.status) {
    case PictureSave::kSaved:
      return;
    case PictureSave::kRefused:
      fatal("%s", saved.refusal.c_str());
    case PictureSave::kNotAPicture:
      fatal("'%s' is corrupt or not an image or has unknown format", member.name.c_str());
    case PictureSave::kWriteFailed:
      fatal("image '%s' write failed", member.name.c_str());
  }
}

// The member's content, with its line printed; a null Block after saying
// why it could not be read.
Block loadandshow(PackEntry& member, int64_t filesize) {
  Block content = loadlist(member);
  if (content) {
    memberline(member, content.size);
    return content;
  }
  const PackEntry* failed = failedentry(member);
  const OpenFailure why = failed ? failed->failure : OpenFailure::kCantOpen;
  if (why == OpenFailure::kCorrupt)
    message("%s\n", corrupttext(entrypath(*failed).c_str()).c_str());
  else if (why == OpenFailure::kTooLarge)
    message("%s\n", toolargetext(failed->path.c_str(), filesize, kMaxPack).c_str());
  else
    message("couldn't read '%s'\n", member.name.c_str());
  return content;
}

// A name as the file systems that do not tell letter case apart see it.
std::string foldedpath(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = c == '\\' ? '/' : lowerascii(c);
  return out;
}

// What one extraction has written, to notice what a file system makes of
// names that differ only in letter case.
class WrittenNames {
 public:
  // The file written earlier in this run that writing `name` would replace
  // (one file for both names), or "".
  std::string replaced(const std::string& name) const {
    const auto it = written_.find(foldedpath(name));
    if (it == written_.end() || it->second == name) return {};
    return writereplaces(name.c_str(), it->second.c_str()) ? it->second : std::string{};
  }
  void add(const std::string& name) { written_[foldedpath(name)] = name; }

 private:
  std::unordered_map<std::string, std::string> written_;  // folded name -> as written
};

// True when the directory was read from an SHPI file.
bool shpidirectory(DirArray& directory) {
  PackEntry* owner = directory.head().parent;
  uint8_t magic[3] = {};
  const bool shpi = owner && openlist(owner, 0) && readlist(*owner, magic, 3) && std::memcmp(magic, "SHP", 3) == 0;
  if (owner) seeklist(*owner, 0, 0);
  return shpi;
}

// Runs `step` (true: done) for one member of `directory`. An SHPI file
// whose header promises more bytes than the file holds has records that lie
// outside it: the others are still shown and extracted, and a member that
// needs such a record (its own bytes, or the palette it takes) is named
// with a warning and skipped (false). Elsewhere such a fault ends the
// command, and the commands that rewrite the file still refuse it.
template <class Step>
bool insideshpi(DirArray& directory, bool shpi, PackEntry& member, Step&& step) {
  if (!shpi) return step();
  try {
    return step();
  } catch (const ListFault& fault) {
    const PackEntry* owner = directory.head().parent;
    if (fault.kind != ListFault::kOutside || !owner || fault.container != owner->name) throw;
    closelist(member, false);
    if (fault.member == member.name)
      message("WARNING: '%s' lies outside the SHPI file (offset %d, size %d, file %d bytes), skipped\n",
              member.name.c_str(), fault.offset, fault.size, fault.containersize);
    else
      message("WARNING: '%s' needs '%s', which lies outside the SHPI file, skipped\n", member.name.c_str(),
              fault.member.c_str());
    return false;
  }
}

}  // namespace

int16_t writemember(const PackEntry& member, std::span<const uint8_t> content, int picture, int format) {
  // Also a picture's file is named after its member.
  const std::string& name = member.name;
  if (!staysinside(name)) {
    message("refused to write '%s': the name leads outside the current folder\n", name.c_str());
    return 0;
  }
  if (picture && member.contentkind() != kContentPlain) {
    savepictureorstop(member, content, format);
    return 1;
  }
  if (!makeparents(name)) fatal("couldn't open '%s' for writing", name.c_str());
  // An existing file of the name (in any letter case) is replaced only by a
  // whole new one: a full disk must not cost the file that was there.
  switch (writefile(name.c_str(), content)) {
    case FileWrite::kWritten:
      return 1;
    case FileWrite::kCantCreate:
      fatal("couldn't open '%s' for writing", name.c_str());
    case FileWrite::kWriteFailed:
      break;
  }
  fatal("couldn't write '%s'", name.c_str());
}

int listpack(std::string_view path) {
  return readingpacks([path] {
    const std::string argument(path);
    OpenedPack pack = openpackpath(argument, 0);
    if (!pack) return kExitFailed;
    message("Directory '%s'\n", argument.c_str());
    int status = kExitOk;
    const bool shpi = shpidirectory(*pack.directory);
    for (PackEntry& m : pack.directory->members()) {
      const bool shown = insideshpi(*pack.directory, shpi, m, [&m, &pack] {
        if (!loadandshow(m, pack.filesize)) return false;
        closelist(m, false);
        return true;
      });
      if (!shown) status = kExitFailed;
    }
    freedir(pack.directory, true);
    return status;
  });
}

int extractpack(std::string_view path, std::span<const std::string> names, int picture, int format) {
  return readingpacks([&] {
    const std::string argument(path);
    OpenedPack pack = openpackpath(argument, 0);
    if (!pack) {
      message("Couldn't load directory '%s'\n", argument.c_str());
      return kExitFailed;
    }
    // The disk file being read: no member may be written over it.
    const std::string packfile = pack.roots->root().path;
    std::vector<bool> matched(names.size(), false);
    WrittenNames written;
    int status = kExitOk;
    const bool shpi = shpidirectory(*pack.directory);
    for (PackEntry& m : pack.directory->members()) {
      bool selected = names.empty();
      for (size_t i = 0; i < names.size(); ++i) {
        if (nameequal(names[i], m.name)) selected = matched[i] = true;
      }
      if (!selected) continue;
      const bool done = insideshpi(*pack.directory, shpi, m, [&] {
        const Block content = loadandshow(m, pack.filesize);
        if (!content) return false;
        bool ok = true;
        const bool aspicture = picture && m.contentkind() != kContentPlain;
        const std::string output =
            aspicture ? imagefilename(static_cast<int16_t>(format), m.name.c_str()) : m.name;
        if (picture && !aspicture) {
          message("Not an image file!\n");
        } else if (!output.empty() && staysinside(output) && writereplaces(output.c_str(), packfile.c_str())) {
          message("refused to write '%s': it is the packfile being read\n", output.c_str());
          ok = false;
        } else {
          const std::string earlier = output.empty() ? std::string{} : written.replaced(output);
          if (!writemember(m, content.span(), picture, format)) {
            ok = false;
          } else if (!output.empty()) {
            if (!earlier.empty())
              message("WARNING: '%s' was written over '%s': the names differ only in letter case, which this "
                      "file system does not tell apart\n",
                      output.c_str(), earlier.c_str());
            written.add(output);
          }
        }
        closelist(m, false);
        return ok;
      });
      if (!done) status = kExitFailed;
    }
    freedir(pack.directory, true);
    // Names that matched nothing, once each, after everything else.
    for (size_t i = 0; i < names.size(); ++i) {
      const auto same = [&](const std::string& n) { return nameequal(n, names[i]); };
      if (matched[i] || std::any_of(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), same)) continue;
      report("couldn't find '%s' inside '%s'\n", names[i].c_str(), argument.c_str());
      status = kExitFailed;
    }
    return status;
  });
}

}  // namespace torvex
