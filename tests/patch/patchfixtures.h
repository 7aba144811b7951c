// Game files for the patch tests, laid out from the byte tables of the
// layouts (not with the code under test), and the readers that take a
// patched file apart again member by member and picture by picture.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../pack/writerfixtures.h"
#include "torvex/fbcomp/fb.h"

namespace torvex::patchtest {

using packtest::Bytes;
using packtest::Member;
using packtest::bytesof;

inline Bytes text(std::string_view s) { return bytesof(s); }

// `n` bytes that differ with `salt`.
inline Bytes filler(size_t n, uint8_t salt) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 7 + salt);
  return out;
}

// 100 bytes that both copies share, so that a pack is large enough to compare.
inline Member padding() { return {"pad.dat", filler(100, 1)}; }

// BIGF with the header and the members padded to 4 bytes.
inline Bytes bigf(const std::vector<Member>& members) { return packtest::bigfpack(members); }

// C0FB: C0 FB, the header length less 4 and the member count (16 bits each,
// big-endian), then per member a 24-bit big-endian offset and size and the
// zero-terminated name; the data follows unpadded.
inline Bytes c0fb(const std::vector<Member>& members) {
  size_t header = 6;
  for (const Member& m : members) header += 6 + m.name.size() + 1;
  Bytes b{0xC0, 0xFB, static_cast<uint8_t>((header - 4) >> 8), static_cast<uint8_t>(header - 4),
          static_cast<uint8_t>(members.size() >> 8), static_cast<uint8_t>(members.size())};
  auto put24 = [&b](size_t v) {
    for (int s = 16; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  };
  size_t at = header;
  for (const Member& m : members) {
    put24(at);
    put24(m.bytes.size());
    b.insert(b.end(), m.name.begin(), m.name.end());
    b.push_back(0);
    at += m.bytes.size();
  }
  for (const Member& m : members) b.insert(b.end(), m.bytes.begin(), m.bytes.end());
  return b;
}

inline std::optional<std::vector<Member>> c0fbmembers(const Bytes& pack) {
  if (pack.size() < 6 || pack[0] != 0xC0 || pack[1] != 0xFB) return std::nullopt;
  const size_t count = static_cast<size_t>(pack[4]) << 8 | pack[5];
  std::vector<Member> out;
  size_t at = 6;
  auto get24 = [&pack](size_t p) {
    return static_cast<size_t>(pack[p]) << 16 | static_cast<size_t>(pack[p + 1]) << 8 | pack[p + 2];
  };
  for (size_t i = 0; i < count; ++i) {
    if (at + 6 > pack.size()) return std::nullopt;
    const size_t offset = get24(at);
    const size_t size = get24(at + 3);
    at += 6;
    Member m;
    while (at < pack.size() && pack[at] != 0) m.name += static_cast<char>(pack[at++]);
    ++at;
    if (offset > pack.size() || size > pack.size() - offset) return std::nullopt;
    m.bytes.assign(pack.begin() + static_cast<long>(offset), pack.begin() + static_cast<long>(offset + size));
    out.push_back(std::move(m));
  }
  return out;
}

// A 10 FB block of literal runs (what the store encoder writes).
inline Bytes fb(const Bytes& plain) { return packtest::fbstored(plain); }

// `bytes` expanded when they are an FB block, else as they are.
inline Bytes expanded(const Bytes& bytes) {
  int32_t size = 0;
  if (!fbinfo(bytes, size)) return bytes;
  FbStatus status;
  const Block out = fbdecompress(bytes, status);
  if (!out) {
    ADD_FAILURE() << "a corrupt FB block";
    return {};
  }
  return Bytes(out.get(), out.get() + out.size);
}

// A picture record: the 16-byte header (type 0x7B, no attachment, 4x4
// pixels) and 16 pixel bytes from `salt` (a record length that is a
// multiple of 4), or `extra` more bytes (one that is not).
inline Bytes picture(uint8_t salt, size_t extra = 0) {
  Bytes r(16 + 16 + extra, 0);
  r[0] = 0x7B;
  r[4] = 4;
  r[6] = 4;
  const Bytes pixels = filler(16 + extra, salt);
  std::copy(pixels.begin(), pixels.end(), r.begin() + 16);
  return r;
}

// An SHPI file: "SHPI", the total size, the record count and the directory
// id, then per record its 4-character name and offset; the records follow
// at 4-byte aligned offsets.
inline Bytes shpi(const std::vector<std::pair<std::string, Bytes>>& records, const std::string& id = "GIMX") {
  auto put32 = [](Bytes& b, size_t at, size_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  size_t total = 16 + 8 * records.size();
  std::vector<size_t> offsets;
  for (const auto& r : records) {
    total = (total + 3) & ~size_t{3};
    offsets.push_back(total);
    total += r.second.size();
  }
  Bytes f(total, 0);
  f[0] = 'S', f[1] = 'H', f[2] = 'P', f[3] = 'I';
  put32(f, 4, total);
  put32(f, 8, records.size());
  std::copy_n(id.begin(), std::min<size_t>(id.size(), 4), f.begin() + 12);
  for (size_t i = 0; i < records.size(); ++i) {
    std::copy_n(records[i].first.begin(), std::min<size_t>(records[i].first.size(), 4), f.begin() + 16 + 8 * i);
    put32(f, 16 + 8 * i + 4, offsets[i]);
    std::copy(records[i].second.begin(), records[i].second.end(), f.begin() + static_cast<long>(offsets[i]));
  }
  return f;
}

// The records of an SHPI file, each from its offset to the next one (or
// the file's end), by name; nothing when the bytes are not SHPI.
inline std::optional<std::map<std::string, Bytes>> pictures(const Bytes& f) {
  auto get32 = [&f](size_t at) {
    return static_cast<size_t>(f[at]) | static_cast<size_t>(f[at + 1]) << 8 | static_cast<size_t>(f[at + 2]) << 16 |
           static_cast<size_t>(f[at + 3]) << 24;
  };
  if (f.size() < 16 || f[0] != 'S' || f[1] != 'H' || f[2] != 'P') return std::nullopt;
  const size_t n = get32(8);
  if (16 + 8 * n > f.size()) return std::nullopt;
  std::vector<std::pair<std::string, size_t>> entries;
  for (size_t i = 0; i < n; ++i) {
    std::string name;
    for (size_t k = 0; k < 4 && f[16 + 8 * i + k]; ++k) name += static_cast<char>(f[16 + 8 * i + k]);
    entries.emplace_back(name, get32(16 + 8 * i + 4));
  }
  std::map<std::string, Bytes> out;
  for (const auto& [name, offset] : entries) {
    size_t end = std::min(get32(4), f.size());
    for (const auto& e : entries)
      if (e.second > offset && e.second < end) end = e.second;
    if (offset > end) return std::nullopt;
    out[name] = Bytes(f.begin() + static_cast<long>(offset), f.begin() + static_cast<long>(end));
  }
  return out;
}

// The members of a BIGF or C0FB pack, or of a pack FB-compressed as a
// whole, each expanded.
inline std::optional<std::vector<Member>> packmembers(const Bytes& file) {
  const Bytes plain = expanded(file);
  auto members = packtest::bigfmembers(plain);
  if (!members) members = c0fbmembers(plain);
  if (!members) return std::nullopt;
  for (Member& m : *members) m.bytes = expanded(m.bytes);
  return members;
}

}  // namespace torvex::patchtest
