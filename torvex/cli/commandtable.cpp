// The command table: each row is a word test, the least argument count and
// the body, which hands the arguments to the commands layer. Rows are tried
// in this order, and the order matters: "-compress" must come before the
// create command, which takes every word beginning with "-c".
#include "dispatch.h"
#include "torvex/commands/compress.h"
#include "torvex/commands/faces.h"
#include "torvex/commands/listextract.h"
#include "torvex/commands/patch.h"
#include "torvex/commands/replacecreate.h"
#include "torvex/commands/updatedelete.h"
#include "torvex/platform/platform.h"
#include "torvex/platform/settings.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

int updatebody(const Invocation& inv) {
  const std::vector<std::string> files = inv.from(3);
  return updatepack("", inv.args[2], files, nameequal(inv.word(), "-p1")) ? kExitOk : kExitFailed;
}

int deletebody(const Invocation& inv) {
  const std::vector<std::string> names = inv.from(3);
  return deletepack("", inv.args[2], names) ? kExitOk : kExitFailed;
}

int listbody(const Invocation& inv) { return listpack(inv.args[2]); }

int extractbody(const Invocation& inv) {
  ExtractMode m{};
  extractmode(inv.word(), m);
  const std::vector<std::string> names = inv.from(3);
  return extractpack(inv.args[2], names, m.picture, m.format);
}

// The "-pal" record when one was loaded.
std::span<const uint8_t> userpalette() {
  const Settings& s = settings();
  return s.user_palette_loaded ? std::span<const uint8_t>(s.user_palette) : std::span<const uint8_t>();
}

int replacebody(const Invocation& inv) {
  const std::vector<std::string> list = inv.from(2 + inv.paletteArgs);
  return replaceshpi(list, nameequal(inv.word(), "-rp"), userpalette(), settings().transparency_option);
}

int createbody(const Invocation& inv) {
  const std::vector<std::string> list = inv.from(2 + inv.paletteArgs);
  return createshpi(list, "", createoptions(inv.word()), nullptr, userpalette(), settings().transparency_option)
             ? kExitOk
             : kExitFailed;
}

int makepatchbody(const Invocation& inv) { return makepatch(inv.args[2], inv.args[3], inv.args[4]); }

// The game folder defaults to the current one.
int patchbody(const Invocation& inv) { return applypatch(inv.args[2], inv.count() > 3 ? inv.args[3] : ""); }

// The face numbers follow the game folder; "-face" takes no "-pal".
int facebody(const Invocation& inv) {
  const std::vector<std::string> numbers = inv.from(3);
  return updatefaces(inv.args[2], numbers, {}, settings().transparency_option) ? kExitOk : kExitFailed;
}

constexpr Command kCommands[] = {
    // The patch-info file, the patch and the reference folder: all three or
    // the unknown-command line.
    {words::makepatch, 5, false, makepatchbody},
    {words::patch, 3, false, patchbody},
    // A missing destination still runs the body, which says so.
    {words::compress, 3, false, [](const Invocation& inv) { return compressfile(inv.at(2), inv.at(3)); }},
    {words::decompress, 3, false, [](const Invocation& inv) { return decompressfile(inv.at(2), inv.at(3)); }},
    {words::replace, 5, true, replacebody},
    {words::create, 6, true, createbody},
    {words::update, 4, false, updatebody},
    {words::remove, 3, false, deletebody},
    {words::face, 4, false, facebody},
    {words::list, 3, false, listbody},
    {words::extract, 3, false, extractbody},
};

}  // namespace

std::span<const Command> commandtable() { return kCommands; }

}  // namespace torvex
