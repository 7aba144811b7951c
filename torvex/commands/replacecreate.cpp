// The replace ("-r", "-rp") and create ("-c" family) commands: read the
// inputs, have the SHPI library rebuild the file record by record, and write
// it, back into its pack when it came from one.
#include "replacecreate.h"

#include <cstring>

#include "common.h"
#include "torvex/pack/shpidir.h"
#include "torvex/platform/files.h"
#include "torvex/platform/text.h"
#include "torvex/shpi/replace.h"
#include "torvex/shpi/shpi.h"
#include "updatedelete.h"

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
  WholeFile file = readwholefile(name.c_str());
  if (file.status == WholeFile::kTooLarge) fatal("%s", toolargetext(name.c_str(), file.size, kMaxBlock).c_str());
  if (file.status != WholeFile::kRead) fatal("couldn't open %s '%s'\n", what, name.c_str());
  return std::move(file.bytes);
}

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

// The rebuild's progress as the lines the commands have always printed: the
// copied records on a line of their own that wraps at kCopyColumns.
class RebuildLines : public RebuildEvents {
 public:
  void note(const RecordNote& note) override {
    switch (note.kind) {
      case RecordNote::kSizeMismatch:
        message("WARNING: size mismatch (orig %dx%d, new %dx%d)\n", note.oldwidth, note.oldheight, note.width,
                note.height);
        break;
      case RecordNote::kNoPalette:
        message("WARNING: no palette in pack file\n");
        break;
      case RecordNote::kExternalPalette:
        message("using supplied external palette file\n");
        break;
      case RecordNote::kNoOwnPalette:
        message("WARNING: '%s' has no palette of its own, fitting it to the game's palette\n", note.name.c_str());
        break;
      case RecordNote::kNewPalette:
        message("creating new palette\n");
        break;
      case RecordNote::kRemapping:
        message("palettes are different, remapping...\n");
        break;
      case RecordNote::kFewerColours:
        message("WARNING: '%s' has more colours than its record can hold, reducing them to %d\n", note.name.c_str(),
                note.colours);
        break;
    }
  }
  void replacing(const Image& input) override {
    endcopying();
    if (input.isData)
      message("replacing '%s' with '%s'\n", input.shpiName, input.sourceName.c_str());
    else
      message("replacing image '%s' with '%s' (%ldx%ld)\n", input.shpiName, input.sourceName.c_str(),
              static_cast<long>(input.width), static_cast<long>(input.height));
  }
  void adding(const Image& input) override {
    endcopying();
    if (input.isData)
      message("adding '%s'\n", input.shpiName);
    else
      message("adding '%s' (%ldx%ld)\n", input.shpiName, static_cast<long>(input.width),
              static_cast<long>(input.height));
  }
  void copying(const PackEntry& entry) override {
    if (!copying_) {
      message("copying ");
      copying_ = true;
      budget_ = kCopyColumns;
    }
    if (budget_ < 5) {
      message("\n        ");
      budget_ = kCopyColumns;
    }
    message("%s ", entry.name.c_str());
    budget_ -= 5;
  }
  void endcopying() {
    if (copying_) message("\n");
    copying_ = false;
  }

 private:
  bool copying_ = false;
  int budget_ = 0;
};

[[noreturn]] void stoprebuild(const ShpiRebuild& rebuild) {
  const char* name = rebuild.failed.c_str();
  if (rebuild.status == ShpiRebuild::kUnreadable) fatal("couldn't read '%s'\n", name);
  const Image& input = *rebuild.input;
  switch (rebuild.record.status) {
    case RecordRebuild::kTooLargeForAttachment:
      fatal("picture %dx%d is too large for a record with a palette attachment\n", input.width, input.height);
    case RecordRebuild::kTooLarge:
      fatal("picture %dx%d is too large for an SHPI record\n", input.width, input.height);
    case RecordRebuild::kCantEncode:
      fatal("couldn't encode '%s' as SHPI type 0x%02X\n", input.sourceName.c_str(), rebuild.record.type);
    default:
      break;
  }
  fatal("'%s' is no picture record, can't replace it with the image '%s'\n", name, input.sourceName.c_str());
}

// Builds the new SHPI file from the existing directory and the inputs and
// writes it to `output`; the messages call it `shown`.
void rebuildandwrite(DirArray& directory, std::vector<Image>& inputs, const std::string& output, int options,
                     std::span<const uint8_t> user_palette, const std::string& shown) {
  message("creating new SHPI file '%s'\n", shown.c_str());
  RebuildLines lines;
  const ShpiRebuild rebuild = rebuildshpi(directory, inputs, options, user_palette, lines);
  if (rebuild.status != ShpiRebuild::kRebuilt) stoprebuild(rebuild);
  lines.endcopying();
  message("copied %d, replaced %d and added %d\n", rebuild.copied, rebuild.replaced, rebuild.added);

  PackEntry* shpifile = directory.head().parent;
  const bool compressed = shpifile && shpifile->compressed();
  message("original was %s\n", compressed ? "compressed" : "not compressed");
  if (compressed) options |= kShpiCompress;

  const std::string id = shpifile ? shpidirectoryid(*shpifile) : std::string(4, '\0');
  // A file made on its way into a pack is named as the member it becomes.
  const ShpiWrite written = writeshpi(rebuild.members, id, output.c_str(), options & kShpiCompress, showcompression);
  switch (written.status) {
    case ShpiWrite::kWritten:
      break;
    case ShpiWrite::kTooLarge:
      fatal("SHPI file of %lld bytes is too large to write", static_cast<long long>(written.total));
    case ShpiWrite::kCompressionFailed:
      stopcompression(written.compression);
    case ShpiWrite::kCantCreate:
      fatal("couldn't open '%s' for writing\n", shown.c_str());
    case ShpiWrite::kWriteFailed:
      fatal("couldn't write '%s'\n", shown.c_str());
  }
  message("%s successfully created\n", shown.c_str());
}

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
      // A picture that cannot be read stops the command: nothing stands in
      // for it, and nothing has been written yet.
      if (!loaded && !loaded.unreadable.empty())
        fatal("unsupported or corrupt image '%s': %s", file.c_str(), loaded.unreadable.c_str());
      if (!loaded) fatal("unsupported or corrupt image '%s'", file.c_str());
      if (loaded.cutshort)
        message("WARNING: image '%s' ends early or is damaged: the missing pixels are black\n", file.c_str());
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

int16_t createshpi(std::span<const std::string> list, std::string_view base, int options, const char* output,
                   std::span<const uint8_t> user_palette, int transparency, const char* shown) {
  return static_cast<int16_t>(readingpacks([&]() -> int {
    std::string path(base);
    if (!path.empty() && path.back() != '\\' && path.back() != ':') path += '\\';
    if (!list.empty()) path += list[0];
    if (path.empty()) fatal("corrupt pack-file name\n");

    message("scanning original pack file\n");
    OpenedPack scanned = openpackpath(path, kScanKeepOrder);
    if (!scanned) return 0;
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
    const std::span<const std::string> texts =
        list.size() > first ? list.subspan(first) : std::span<const std::string>{};
    const std::string outpath = output ? std::string(output) : list.size() > 1 ? list[1] : std::string();
    std::vector<Image> inputs = readshpiinputs(texts, directory);
    rebuildandwrite(directory, inputs, outpath, options | transparency, user_palette, shown ? shown : outpath);
    freedir(scanned.directory, true);
    return 1;
  }));
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
    // A plain SHPI file, in whatever folder: the rebuilt file takes its place.
    return createshpi(list, "", options, path.c_str(), user_palette, transparency) ? kExitOk : kExitFailed;
  }

  // Into a pack: the rebuilt file is made in a private folder under the
  // member's name, so no file of the user's is overwritten or deleted.
  StagingFolder staging;
  staging.folder = maketempfolder();
  if (staging.folder.empty()) fatal("couldn't create a temporary folder for '%s'\n", name.c_str());
  staging.file = staging.folder + "/" + name;
  if (!createshpi(list, "", options, staging.file.c_str(), user_palette, transparency, name.c_str()))
    return kExitFailed;
  const std::string files[] = {staging.file};
  return updatepack("", pack, files, false) ? kExitOk : kExitFailed;
}

}  // namespace torvex
