// Which directory reader applies to a container is decided by its first
// bytes: several layouts have no magic at all, so the order of the tests
// matters. Each layout's test lives in its own file beside its reader.
#include "layouts.h"
#include "packwriter.h"
#include "shpidir.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

constexpr Layout kLayouts[] = {
    {"BIGF", isbigf, readbigf},
    {"SHPI", isshpi, scanshpi},
    {"ORIP", isorip, readorip},
    {"C0FB", isc0fb, readc0fb},
    // "SCHl" and "BNK" data (sound and music) must never reach the
    // magic-less tests below, which could take them for a MAS or FST
    // directory.
    {"SCHl", [](const Probe& p) { return p.starts("SCH"); }, nullptr},
    {"BNK", [](const Probe& p) { return p.starts("BNK"); }, nullptr},
    {"APUK", isapuk, readapuk},
    // The writer's FST packs of one member or none, before MAS: the
    // arithmetic test below needs two members, and the exact form these
    // must have is far stricter than MAS's arithmetic, which one of them
    // (a single member of 72 bytes) would pass.
    {"FST (small)", issmallfst, readfst},
    // MAS before FST, and both after every magic: arithmetic on the first
    // two words stands in for a magic number, and a file may pass both.
    {"MAS", ismas, readmas},
    {"FST", isfst, readfst},
    // Last: known by the container's name only, whatever its bytes.
    {".qpp", isqpp, readqpp},
};

}  // namespace

const Layout* recognizeprobe(const Probe& probe) {
  for (const Layout& layout : kLayouts)
    if (layout.test(probe)) return &layout;
  return nullptr;
}

bool takeprobe(PackEntry& entry, std::span<uint8_t> buffer, Probe& probe) {
  if (!openlist(&entry, 0)) return false;
  readlist(entry, buffer.data(), static_cast<int32_t>(buffer.size()));
  seeklist(entry, 0, 0);
  probe.bytes = buffer;
  probe.storedsize = entry.size;
  probe.contentsize = entry.stream->size;
  probe.name = entry.name;
  return true;
}

DirReader recognize(PackEntry& entry) {
  std::vector<uint8_t> buffer(kProbeBytes);
  Probe probe;
  if (!takeprobe(entry, buffer, probe)) return nullptr;
  const Layout* layout = recognizeprobe(probe);
  return layout ? layout->reader : nullptr;
}

WriteLayout writablelayout(const Probe& probe) {
  if (isc0fb(probe)) return WriteLayout::kC0fb;
  if (isbigf(probe)) return WriteLayout::kBigf;
  if (isfst(probe)) return WriteLayout::kFst;
  if (nameequal(std::string_view(reinterpret_cast<const char*>(probe.bytes.data()), 4), "SHPI"))
    return WriteLayout::kShpiFile;
  return WriteLayout::kNone;
}

}  // namespace torvex
