#include "dispatch.h"

#include <cstring>

#include "torvex/image/image.h"
#include "torvex/platform/platform.h"
#include "torvex/platform/settings.h"
#include "torvex/platform/text.h"

namespace torvex {

std::vector<std::string> Invocation::from(int first) const {
  std::vector<std::string> out;
  for (int i = first; i < count(); ++i) out.push_back(args[static_cast<size_t>(i)]);
  return out;
}

Invocation workinglist(int argc, const char* const* argv) {
  Invocation inv;
  inv.args.emplace_back(argc > 0 && argv[0] ? argv[0] : "torvex");
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (nameequal(a, "-real"))
      mutablesettings().real_compression = true;
    else if (nameequal(a, "-notrans"))
      mutablesettings().transparency_option = 0;
    else
      inv.args.emplace_back(a);
  }
  return inv;
}

void loaduserpalette(const char* name) {
  File f(name, 0);
  if (!f) {
    message("couldn't open palette file '%s'\n", name);
    throw FatalError{"palette file"};
  }
  Settings& s = mutablesettings();
  s.user_palette.fill(0);
  f.read(s.user_palette.data(), static_cast<uint32_t>(s.user_palette.size()));
  s.user_palette_loaded = true;
}

int createoptions(std::string_view word) {
  int bits = 0;
  for (char c : word) {
    if (c == '1') bits |= 1;
    if (c == 'p' || c == 'P') bits |= 2;
  }
  return bits;
}

namespace words {
bool makepatch(std::string_view word) { return nameequal(word, "-makepatch"); }
bool patch(std::string_view word) { return nameequal(word, "-patch"); }
bool compress(std::string_view word) { return nameequal(word, "-compress"); }
bool decompress(std::string_view word) { return nameequal(word, "-decompress"); }
bool replace(std::string_view word) { return nameequal(word, "-r") || nameequal(word, "-rp"); }
// Compared as two bytes, case-sensitively.
bool create(std::string_view word) { return word.size() >= 2 && word[0] == '-' && (word[1] == 'c' || word[1] == 'C'); }
bool update(std::string_view word) { return nameequal(word, "-p") || nameequal(word, "-p1"); }
bool remove(std::string_view word) { return nameequal(word, "-d"); }
bool face(std::string_view word) { return nameequal(word, "-face"); }
bool list(std::string_view word) { return nameequal(word, "-list") || nameequal(word, "-l"); }
bool extract(std::string_view word) {
  ExtractMode mode;
  return extractmode(word, mode);
}
}  // namespace words

bool extractmode(std::string_view word, ExtractMode& mode) {
  struct Row {
    const char* longname;
    const char* shortname;
    ExtractMode mode;
  };
  // "-u" writes members as they are (no picture format); the others convert
  // pictures, "-e" to PNG. JPEG's word is "-ejpg" alone ("-ejpeg" is unknown).
  static constexpr Row kRows[] = {
      {"-unpack", "-u", {0, -2}},
      {"-extract", "-e", {1, kFormatPng}},
      {"-extractbmp", "-ebmp", {1, kFormatBmp}},
      {"-extractgif", "-egif", {1, kFormatGif}},
      {"-extractjpg", "-ejpg", {1, kFormatJpeg}},
      {"-extractpcx", "-epcx", {1, kFormatPcx}},
      {"-extractpng", "-epng", {1, kFormatPng}},
  };
  for (const Row& row : kRows) {
    if (!nameequal(word, row.longname) && !nameequal(word, row.shortname)) continue;
    mode = row.mode;
    return true;
  }
  return false;
}

void printusage() {
  message("\n");
  message(" TORVEX %s (%s) BMP/GIF/JPG/PCX/PNG<->EA-SHPI converter by\n", versiontext(), builddate(nullptr, nullptr, nullptr));
  message(" the torvex developers\n");
  message("\n");
  static constexpr const char* kLines[] = {
      "*replace images:\n",
      "  -r(p) (-real) (-pal <palfile>) <path> <img1> <SHPI1> <img2> <SHPI2> ...\n",
      "*create new SHPI-file and replace images:\n",
      "  -c(p) (-real) (-pal <palfile>) <path> <SHPI-file> <img1> <SHPI1> ...\n",
      "*update pack file:\n",
      "  -p (-real) <pack file> <file1> <file2> ...\n",
      "*delete file(s) inside pack file:\n",
      "  -d <path> name1 name2...\n",
      "*list pack file contents:\n",
      "  -l <pack-file path>\n",
      "*extract and decompress images from pack file:\n",
      "  -e(gif/bmp/jpeg/pcx/png) <pack file path> (<name1> <name2> ...)\n",
      "*extract and decompress data from pack file:\n",
      "  -u <pack-file path> (<name1> <name2> ...)\n",
      "*compress/decompress file:\n",
      "  -de/compress (-real) <source file> <destination file>\n",
      "*add new NHL'98/'99 face(s):\n",
      "  -face <game basedir> <face number> <another face number> ...\n",
  };
  for (const char* line : kLines) message("%s", line);
}

int dispatch(const Invocation& inv, std::span<const Command> table) {
  if (inv.count() < 3) {
    printusage();
    return kExitOk;
  }
  for (const Command& c : table) {
    if (!c.matches(inv.word())) continue;
    Invocation call = inv;
    if (c.takespal && nameequal(inv.args[2], "-pal")) {
      if (inv.count() < 4) break;
      loaduserpalette(inv.args[3].c_str());
      call.paletteArgs = 2;
    }
    if (inv.count() < c.least + call.paletteArgs) break;
    return c.body(call);
  }
  message("\nunknown command or not enough parameters\n");
  return kExitUnknown;
}

int runtorvex(int argc, const char* const* argv) {
  try {
    const Invocation inv = workinglist(argc, argv);
    // The commands that read packs say what a fault of the file list means
    // themselves; any other command meeting one ends the same way.
    return readingpacks([&inv] { return dispatch(inv, commandtable()); });
  } catch (const FatalError&) {
    return kExitFailed;
  }
}

}  // namespace torvex
