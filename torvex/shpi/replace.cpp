// The replace ("-r", "-rp") and create ("-c" family) commands: read the
// inputs, rebuild the SHPI file record by record and write it, back into its
// pack when it came from one.
#include "replace.h"

#include <cstring>
#include <memory>

#include "torvex/fbcomp/fb.h"
#include "torvex/pack/packwriter.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

constexpr size_t kShpiNameLength = 4;
constexpr int kCopyColumns = 74;  // the width of the copying progress line

void setname(char (&field)[5], std::string_view name) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, name.data(), std::min(name.size(), kShpiNameLength));
}

PackEntry* findname(DirArray& directory, std::string_view name) {
  for (PackEntry& m : directory.members())
    if (nameequal(m.name, name)) return &m;
  return nullptr;
}

// The whole file, or fatal "couldn't open ..." naming what it was meant to be.
Block readinput(const std::string& name, const char* what) {
  File f(name.c_str(), 0);
  if (!f) fatal("couldn't open %s '%s'\n", what, name.c_str());
  const uint32_t size = f.size();
  if (size > 0x7FFFFFF0u) fatal("couldn't open %s '%s'\n", what, name.c_str());
  Block bytes = allocblock(static_cast<int32_t>(size));
  if (f.read(bytes.get(), size) != size) fatal("couldn't open %s '%s'\n", what, name.c_str());
  return bytes;
}

// Closes the scanned pack, also when a fatal error ends the command.
struct ScannedPack {
  DirArray* directory = nullptr;
  ~ScannedPack() {
    if (directory) freedir(directory, true);
    resetpackstate();
  }
};

// The private folder that holds a rebuilt file on its way into a pack;
// removes only what it made.
struct StagingFolder {
  std::string folder;
  std::string file;
  ~StagingFolder() {
    if (!file.empty() && fileexists(file.c_str())) filedelete(file.c_str());
    if (!folder.empty()) removefolder(folder.c_str());
  }
};

// Prints what the image code had to say, and stops where it refused.
void passon(const ImageResult& result) {
  for (const std::string& note : result.notes) report("%s", note.c_str());
  if (result.refused()) fatal("%s", result.refusal.c_str());
}

}  // namespace

std::vector<Image> readshpiinputs(std::span<const std::string> texts, DirArray& directory) {
  message("reading data/image files..\n");
  std::vector<Image> inputs;
  size_t i = 0;
  while (i + 1 < texts.size()) {
    const std::string& file = texts[i];
    const std::string& name = texts[i + 1];
    if (name.size() > kShpiNameLength) fatal("SHPI-name '%s' too long (>4)", name.c_str());

    Image& input = inputs.emplace_back();
    input.sourceName = file;
    const bool picture = imageformat(file.c_str()) != kFormatNone;
    Block bytes = readinput(file, picture ? "image" : "data");
    if (!picture) {
      input.pixelBytes = bytes.size;
      input.indexed = std::move(bytes.data);
      input.isData = 1;
    } else {
      const ImageResult loaded = loadimage(input, bytes.span());
      passon(loaded);
      if (!loaded) fatal("unsupported or corrupt image '%s'", file.c_str());
      passon(completeimage(input));
      bytes = Block{};
      input.isData = 0;
    }

    setname(input.shpiName, name);
    PackEntry* original = findname(directory, name);
    if (original) {
      setname(input.originalShpiName, name);
      i += 2;
    } else {
      if (i + 2 >= texts.size()) fatal("expected original SHPI-name because '%s' not found", name.c_str());
      const std::string& templ = texts[i + 2];
      if (templ.size() > kShpiNameLength) fatal("original SHPI name too long ('%s')\n", templ.c_str());
      original = findname(directory, templ);
      if (!original) fatal("original SHPI name '%s' not in pack file\n", templ.c_str());
      setname(input.originalShpiName, templ);
      i += 3;
    }

    // A picture is rebuilt in its template's pixel type, so the template
    // must be a picture record; refused here, before anything is written.
    if (!input.isData) {
      PackEntry& entry = *original;
      uint8_t head[kShpiRecordHeader] = {};
      const bool readable = entry.size >= kShpiRecordHeader && openlist(&entry, 0) &&
                            readlist(entry, head, kShpiRecordHeader);
      closelist(entry, false);
      if (!readable || !shpitype(head[0]))
        fatal("'%s' is no picture record: the image '%s' can't take its place\n", entry.name.c_str(), file.c_str());
    }

    if (input.isData)
      message("Data:'%s' Size:%ld SHPI:'%s' OSHPI:'%s'\n", file.c_str(), static_cast<long>(input.pixelBytes),
              input.shpiName, input.originalShpiName);
    else
      message("Image:'%s' Size:%ld W:%ld H:%ld BPP:%ld SHPI:'%s' OSHPI:'%s'\n", file.c_str(),
              static_cast<long>(input.pixelBytes), static_cast<long>(input.width), static_cast<long>(input.height),
              input.kind == Indexed ? 8L : 24L, input.shpiName, input.originalShpiName);
  }
  if (inputs.empty()) fatal("no datafiles or images found");
  return inputs;
}

void rebuildshpi(DirArray& directory, std::vector<Image>& inputs, const std::string& output, int options,
                 std::span<const uint8_t> user_palette, const std::string& shown) {
  message("creating new SHPI file '%s'\n", shown.c_str());
  std::vector<Block> held;  // the members' bytes
  std::vector<ShpiMember> members;
  auto addmember = [&](Block bytes, std::string_view name) {
    ShpiMember& m = members.emplace_back();
    setname(m.name, name);
    held.push_back(std::move(bytes));
  };

  int copied = 0, replaced = 0, added = 0;
  bool copying = false;
  int budget = 0;
  auto endcopying = [&]() {
    if (copying) message("\n");
    copying = false;
  };

  for (PackEntry& entry : directory.members()) {
    bool templ = false;
    for (Image& input : inputs) {
      if (!nameequal(input.originalShpiName, entry.name)) continue;
      templ = true;
      endcopying();
      if (nameequal(input.originalShpiName, input.shpiName)) {
        setname(input.shpiName, entry.name);
        if (input.isData)
          message("replacing '%s' with '%s'\n", input.shpiName, input.sourceName.c_str());
        else
          message("replacing image '%s' with '%s' (%ldx%ld)\n", input.shpiName, input.sourceName.c_str(),
                  static_cast<long>(input.width), static_cast<long>(input.height));
        ++replaced;
      } else {
        if (input.isData)
          message("adding '%s'\n", input.shpiName);
        else
          message("adding '%s' (%ldx%ld)\n", input.shpiName, static_cast<long>(input.width),
                  static_cast<long>(input.height));
        ++added;
      }
      addmember(replacerecord(entry, input, options, user_palette), input.shpiName);
    }
    if (!templ) {
      Block bytes = loadlist(entry);
      if (!bytes && entry.size > 0) fatal("couldn't read '%s'\n", entry.name.c_str());
      if (!copying) {
        message("copying ");
        copying = true;
        budget = kCopyColumns;
      }
      if (budget < 5) {
        message("\n        ");
        budget = kCopyColumns;
      }
      message("%s ", entry.name.c_str());
      budget -= 5;
      addmember(std::move(bytes), entry.name);
      ++copied;
    }
    closelist(entry, false);
  }
  endcopying();
  message("copied %d, replaced %d and added %d\n", copied, replaced, added);

  PackEntry* shpifile = directory.head().parent;
  const bool compressed = shpifile && shpifile->compressed();
  message("original was %s\n", compressed ? "compressed" : "not compressed");
  if (compressed) options |= kShpiCompress;

  char id[4] = {};
  if (shpifile) {
    Block content = loadlist(*shpifile);
    if (content && content.size >= 16) std::memcpy(id, content.get() + 12, 4);
    closelist(*shpifile, true);
  }
  for (size_t k = 0; k < members.size(); ++k) {
    members[k].data = held[k].get();
    members[k].size = static_cast<uint32_t>(held[k].size);
  }
  // A file made on its way into a pack is named as the member it becomes.
  writeshpi(members, std::string_view(id, 4), output.c_str(), options & kShpiCompress, shown.c_str());
}

int16_t createshpi(std::span<const std::string> list, std::string_view base, int options, const char* output,
                   std::span<const uint8_t> user_palette, int transparency) {
  return createshpi(list, base, options, output, user_palette, transparency, nullptr);
}

int16_t createshpi(std::span<const std::string> list, std::string_view base, int options, const char* output,
                   std::span<const uint8_t> user_palette, int transparency, const char* shown) {
  std::string path(base);
  if (!path.empty() && path.back() != '\\' && path.back() != ':') path += '\\';
  if (!list.empty()) path += list[0];
  if (path.empty()) fatal("corrupt pack-file name\n");

  message("scanning original pack file\n");
  ScannedPack scanned;
  scanned.directory = openpack(path, kScanKeepOrder);
  if (!scanned.directory) return 0;
  DirArray& directory = *scanned.directory;
  closealllist(directory);

  // Rebuilding anything but an SHPI file as one would destroy it.
  PackEntry* owner = directory.head().parent;
  uint8_t magic[3] = {};
  if (!owner || !openlist(owner, 0) || !readlist(*owner, magic, 3) || std::memcmp(magic, "SHP", 3) != 0) {
    if (owner) closelist(*owner, true);
    fatal("'%s' is no SHPI file\n", path.c_str());
  }
  closelist(*owner, true);

  const size_t first = output ? 1 : 2;
  const std::span<const std::string> texts = list.size() > first ? list.subspan(first) : std::span<const std::string>{};
  const std::string outpath = output ? std::string(output) : list.size() > 1 ? list[1] : std::string();
  std::vector<Image> inputs = readshpiinputs(texts, directory);
  rebuildshpi(directory, inputs, outpath, options | transparency, user_palette, shown ? shown : outpath);
  return 1;
}

int replaceshpi(std::span<const std::string> list, bool new_palette, std::span<const uint8_t> user_palette,
                int transparency) {
  const std::string& path = list.front();
  const size_t cut = path.find_last_of("\\/");
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut);

  // The pack that holds the SHPI file: the longest leading part of the path
  // that is a file.
  std::string pack = folder;
  while (!pack.empty() && !fileexists(pack.c_str())) {
    const size_t up = pack.find_last_of("\\/");
    pack.resize(up == std::string::npos ? 0 : up);
  }
  if (!pack.empty() && pack != folder)
    fatal("'%s' lies in a pack inside the pack '%s', which can't be updated in one step\n", path.c_str(),
          pack.c_str());

  const int options = new_palette ? kShpiNewPalette : 0;
  if (pack.empty()) {
    // A plain SHPI file: the rebuilt file goes to the current folder.
    return createshpi(list, "", options, name.c_str(), user_palette, transparency) ? 0 : 1;
  }

  // Into a pack: the rebuilt file is made in a private folder under the
  // member's name, so no file of the user's is overwritten or deleted.
  StagingFolder staging;
  staging.folder = maketempfolder();
  if (staging.folder.empty()) fatal("couldn't create a temporary folder for '%s'\n", name.c_str());
  staging.file = staging.folder + "/" + name;
  if (!createshpi(list, "", options, staging.file.c_str(), user_palette, transparency, name.c_str())) return 1;
  const std::string files[] = {staging.file};
  return updatepack("", pack, files, false) ? 0 : 1;
}

}  // namespace torvex
