// The list and extract commands: one pass over a directory, one member's
// content in memory at a time.
#include "listextract.h"

#include <algorithm>
#include <cstring>

#include "common.h"
#include "torvex/platform/files.h"
#include "torvex/shpi/shpi.h"
#include "torvex/platform/text.h"

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
// that it could not be read.
Block loadandshow(PackEntry& member) {
  Block content = loadlist(member);
  if (!content)
    message("couldn't read '%s'\n", member.name.c_str());
  else
    memberline(member, content.size);
  return content;
}

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
      const bool shown = insideshpi(*pack.directory, shpi, m, [&m] {
        if (!loadandshow(m)) return false;
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
    int status = kExitOk;
    const bool shpi = shpidirectory(*pack.directory);
    for (PackEntry& m : pack.directory->members()) {
      const bool selected = names.empty() || std::any_of(names.begin(), names.end(),
                                                          [&](const std::string& n) { return nameequal(n, m.name); });
      if (!selected) continue;
      const bool done = insideshpi(*pack.directory, shpi, m, [&] {
        const Block content = loadandshow(m);
        if (!content) return false;
        bool written = true;
        if (picture && m.contentkind() == kContentPlain)
          message("Not an image file!\n");
        else
          written = writemember(m, content.span(), picture, format) != 0;
        closelist(m, false);
        return written;
      });
      if (!done) status = kExitFailed;
    }
    freedir(pack.directory, true);
    return status;
  });
}

}  // namespace torvex
