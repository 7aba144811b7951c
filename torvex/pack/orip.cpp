// ORIP: no member data of its own. The first record is the file itself
// (named by the text at the LE offset stored at byte 12); then name-only
// records, as many as the LE count at byte 48 says, 24 bytes apart from the
// LE offset stored at byte 52. Every record is labelled with the file's
// first four bytes. These records serve the list command.
#include "readers.h"

namespace torvex {

namespace {

// Zero-terminated text at `at`, or "" when `at` lies outside the content.
std::string textat(std::span<const uint8_t> bytes, uint64_t at) {
  std::string out;
  for (uint64_t i = at; i < bytes.size() && bytes[i] != 0; ++i) out += static_cast<char>(bytes[i]);
  return out;
}

uint32_t wordat(std::span<const uint8_t> bytes, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i)
    if (at + i < bytes.size()) v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
  return v;
}

}  // namespace

std::unique_ptr<DirArray> readorip(PackEntry& container) {
  const Block content = loadlist(container);
  if (!content) return nullptr;
  const auto bytes = content.span();
  const std::string label = textat(bytes.first(std::min<size_t>(4, bytes.size())), 0);
  auto dir = newdirectory();
  std::string name = textat(bytes, wordat(bytes, 12));
  if (name.empty()) return dir;
  PackEntry& whole = addmember(*dir, container, std::move(name));
  whole.label = label;
  whole.offset = 0;
  whole.size = content.size;
  whole.setcontentkind(kContentWholeFile);
  const uint32_t count = wordat(bytes, 48);
  const uint64_t first = wordat(bytes, 52);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = first + 24 * i;
    if (at >= bytes.size()) break;  // a count larger than the data ends with the data
    std::string n = textat(bytes, at);
    if (n.empty()) break;
    PackEntry& m = addmember(*dir, container, std::move(n));
    m.label = label;
  }
  return dir;
}

}  // namespace torvex
