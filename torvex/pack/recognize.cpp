// Which directory reader applies to a container is decided by its first
// bytes: several layouts have no magic at all, so the order of the tests
// matters.
#include <array>
#include <cstring>

#include "readers.h"
#include "torvex/platform/bytereader.h"
#include "torvex/shpi/shpi.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

constexpr int32_t kProbeBytes = 8192;

struct Probe {
  std::span<const uint8_t> bytes;  // the first 8192 bytes of the content, zero-padded
  int64_t storedsize;              // the entry's stored (not expanded) size
  std::string_view name;
  uint32_t w0() const { return peek(0); }
  uint32_t w1() const { return peek(4); }
  uint32_t peek(size_t at) const { return peek32le(bytes.data() + at); }
  bool starts(const char* magic) const { return std::memcmp(bytes.data(), magic, std::strlen(magic)) == 0; }
};

struct Row {
  bool (*test)(const Probe& p);
  DirReader reader;  // null: the content is not a directory
};

constexpr Row kRows[] = {
    {[](const Probe& p) { return p.starts("BIGF"); }, readbigf},
    // Only three bytes are compared, so SHPX and the like go to the SHPI reader.
    {[](const Probe& p) { return p.starts("SHP"); }, scanshpi},
    {[](const Probe& p) { return p.starts("ORIP"); }, readorip},
    {[](const Probe& p) { return p.bytes[0] == 0xC0 && p.bytes[1] == 0xFB; }, readc0fb},
    // "SCHl" and "BNK" data must never reach the magic-less tests below, which
    // could take them for a MAS or FST directory.
    {[](const Probe& p) { return p.starts("SCH"); }, nullptr},
    {[](const Probe& p) { return p.starts("BNK"); }, nullptr},
    {[](const Probe& p) { return p.starts("APUK"); }, readapuk},
    // MAS before FST: the arithmetic tests stand in for a magic number.
    {[](const Probe& p) { return mastest(p.storedsize, p.w1(), p.w0()); }, readmas},
    {[](const Probe& p) { return fsttest(p.storedsize, p.w1(), p.w0()); }, readfst},
    // Last: known by the container's name only.
    {[](const Probe& p) { return p.name.size() > 4 && (endswithname(p.name, ".qpp") || endswithname(p.name, ".ppv")); },
     readqpp},
};

// The probe: read at position 0, position put back to 0.
bool takeprobe(PackEntry& entry, std::array<uint8_t, kProbeBytes>& buffer) {
  if (!openlist(&entry, 0)) return false;
  readlist(entry, buffer.data(), kProbeBytes);
  seeklist(entry, 0, 0);
  return true;
}

}  // namespace

bool fsttest(int64_t S, uint32_t w1, uint32_t w0) {
  const int64_t d = static_cast<int64_t>(w1) - 8;
  const auto count = static_cast<int32_t>(w0);
  if (!(S > d && d >= 136 && count > 0 && d > count)) return false;
  const int64_t rest = static_cast<int64_t>(w1) - 4;
  return rest % count == 0 && rest / count == 68;
}

bool mastest(int64_t S, uint32_t w1, uint32_t w0) {
  return S != 0 && w1 != 0 && w1 < S && S == 32 * static_cast<int64_t>(w0) + w1 + 8;
}

DirReader recognize(PackEntry& entry) {
  std::array<uint8_t, kProbeBytes> buffer{};
  if (!takeprobe(entry, buffer)) return nullptr;
  const Probe probe{buffer, entry.size, entry.name};
  for (const Row& row : kRows)
    if (row.test(probe)) return row.reader;
  return nullptr;
}

int packlayout(PackEntry& entry) {
  std::array<uint8_t, kProbeBytes> buffer{};
  if (!openlist(&entry, 0)) return kLayoutNone;
  readlist(entry, buffer.data(), 32);
  seeklist(entry, 0, 0);
  const Probe p{buffer, entry.size, entry.name};
  if (p.bytes[0] == 0xC0 && p.bytes[1] == 0xFB) return kLayoutC0fb;
  if (p.starts("BIGF")) return kLayoutBigf;
  if (fsttest(p.storedsize, p.w1(), p.w0())) return kLayoutFst;
  if (nameequal(std::string_view(reinterpret_cast<const char*>(buffer.data()), 4), "SHPI"))
    fatal("'%s' is SHPI file, use -r/-rp to replace images", entry.path.c_str());
  return kLayoutNone;
}

}  // namespace torvex
