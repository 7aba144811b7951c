// ORIP: no member data of its own. The first record is the file itself
// (named by the text at the LE offset stored at byte 12); then name-only
// records, as many as the LE count at byte 48 says, 24 bytes apart from the
// LE offset stored at byte 52. Every record is labelled with the file's
// first four bytes. These records serve the list command.
#include "layouts.h"

namespace torvex {

namespace {

constexpr size_t kNameAt = 12;
constexpr size_t kCountAt = 48;
constexpr size_t kNamesAt = 52;
constexpr uint64_t kNameRecord = 24;

// Zero-terminated text at `at`, or "" when `at` lies outside the content; a
// text that runs to the end of the content ends there.
std::string textat(std::span<const uint8_t> content, uint64_t at) {
  std::string out;
  if (at >= content.size()) return out;
  ByteReader in(content);
  in.seek(static_cast<size_t>(at));
  while (!in.atend()) {
    const uint8_t c = in.u8();
    if (c == 0) break;
    out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

bool isorip(const Probe& probe) { return probe.starts("ORIP"); }

std::unique_ptr<DirArray> readorip(PackEntry& container) {
  const Block content = loadlist(container);
  if (!content) return nullptr;
  const auto bytes = content.span();
  // The header's words, of a content that may be shorter than the header.
  std::vector<uint8_t> header(kNamesAt + 4, 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), header.size()), header.begin());
  ByteReader words(header);
  words.seek(kNameAt);
  const uint32_t nameat = words.u32le();
  words.seek(kCountAt);
  const uint32_t count = words.u32le();
  const uint64_t first = words.u32le();

  const std::string label = textat(bytes.first(std::min<size_t>(4, bytes.size())), 0);
  auto dir = newdirectory();
  std::string name = textat(bytes, nameat);
  if (name.empty()) return dir;
  PackEntry& whole = addmember(*dir, container, std::move(name));
  whole.label = label;
  whole.offset = 0;
  whole.size = content.size;
  whole.setcontentkind(kContentWholeFile);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = first + kNameRecord * i;
    if (at >= bytes.size()) break;  // a count larger than the data ends with the data
    std::string n = textat(bytes, at);
    if (n.empty()) break;
    PackEntry& m = addmember(*dir, container, std::move(n));
    m.label = label;
  }
  return dir;
}

}  // namespace torvex
