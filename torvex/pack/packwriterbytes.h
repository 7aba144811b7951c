// Small helpers shared by the layout files' write plans and their readers of
// stored directories for rewriting.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "layouts.h"
#include "packwriter.h"
#include "torvex/platform/bytereader.h"
#include "torvex/platform/limits.h"
#include "torvex/platform/platform.h"

namespace torvex::packbytes {

inline int64_t round4(int64_t n) { return (n + 3) & ~int64_t{3}; }

inline void putbe(std::vector<uint8_t>& out, uint32_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

inline void putle32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

inline void putname(std::vector<uint8_t>& out, std::string_view name) {
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}

// Live items: those not marked deleted.
template <class F>
void forlive(std::span<const PackItem> items, F&& f) {
  for (const PackItem& item : items)
    if (!item.deleted) f(item);
}

// BIGF and C0FB directories: per live item a big-endian data offset and size
// of `width` bytes each, then the name and its zero. Offsets start at
// `first` and advance by each member's padded size.
inline void putentries(std::vector<uint8_t>& out, std::span<const PackItem> items, int64_t first, int width) {
  int64_t offset = first;
  forlive(items, [&](const PackItem& item) {
    putbe(out, static_cast<uint32_t>(offset), width);
    putbe(out, static_cast<uint32_t>(item.size), width);
    putname(out, item.name);
    offset += round4(item.size);
  });
}

// The items of a BIGF or C0FB rewrite, in stored order: offsets and sizes as
// stored, every item starting with `mark`, the pack's own compression mark.
// A value beyond kMaxPack makes the directory damaged (ParseError).
inline std::vector<PackItem> rewriteitems(std::vector<StoredMember> members, bool mark) {
  std::vector<PackItem> items;
  items.reserve(members.size());
  for (StoredMember& m : members) {
    if (m.offset > kMaxPack || m.size > kMaxPack) throw ParseError{};
    PackItem& item = items.emplace_back();
    item.name = std::move(m.name);
    item.offset = static_cast<int32_t>(m.offset);
    item.size = static_cast<int32_t>(m.size);
    item.compress = mark;
  }
  return items;
}

// The refusal of a member without a name, or "": readers of every layout
// end a directory at an empty name, so it would hide every member after it.
inline std::string unnamed(std::span<const PackItem> items, const char* layout) {
  for (const PackItem& item : items)
    if (!item.deleted && item.name.empty()) return format("a %s packfile can't hold a member without a name", layout);
  return {};
}

// The refusal of a pack that would grow beyond kMaxPack, or "".
inline std::string toolarge(int64_t total) {
  if (total <= kMaxPack) return {};
  return format("packfile would be %lld bytes, more than the %lld a packfile can hold", static_cast<long long>(total),
                static_cast<long long>(kMaxPack));
}

}  // namespace torvex::packbytes
