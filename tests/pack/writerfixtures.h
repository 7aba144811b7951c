// Helpers of the pack writer's tests that read and build packs straight
// from the layout tables, independent of the program's own code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvex::packtest {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesof(std::string_view text) { return Bytes(text.begin(), text.end()); }

// One member as the test sees it: its stored name and its bytes.
struct Member {
  std::string name;
  Bytes bytes;
  bool operator==(const Member&) const = default;
};

inline uint32_t be32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

// The members of a BIGF pack, read by the table: count at 8, entries of a
// 4-byte offset, a 4-byte size and a zero-terminated name from 16. Nothing
// when the bytes are not a whole BIGF pack.
inline std::optional<std::vector<Member>> bigfmembers(const Bytes& pack) {
  if (pack.size() < 16 || pack[0] != 'B' || pack[1] != 'I' || pack[2] != 'G' || pack[3] != 'F') return std::nullopt;
  const uint32_t count = be32(pack, 8);
  std::vector<Member> out;
  size_t at = 16;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 8 > pack.size()) return std::nullopt;
    const uint32_t offset = be32(pack, at);
    const uint32_t size = be32(pack, at + 4);
    at += 8;
    Member m;
    while (at < pack.size() && pack[at] != 0) m.name += static_cast<char>(pack[at++]);
    if (at++ >= pack.size()) return std::nullopt;
    if (offset > pack.size() || size > pack.size() - offset) return std::nullopt;
    m.bytes.assign(pack.begin() + offset, pack.begin() + offset + size);
    out.push_back(std::move(m));
  }
  return out;
}

// A BIGF pack laid out by the table: header length and member data padded
// to multiples of 4.
inline Bytes bigfpack(const std::vector<Member>& members) {
  auto round4 = [](size_t n) { return (n + 3) & ~size_t{3}; };
  auto put32 = [](Bytes& b, size_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  };
  size_t header = 16;
  size_t total = 0;
  for (const Member& m : members) {
    header += 8 + m.name.size() + 1;
    total += round4(m.bytes.size());
  }
  header = round4(header);
  total += header;
  Bytes out{'B', 'I', 'G', 'F'};
  put32(out, total);
  put32(out, members.size());
  put32(out, header);
  size_t offset = header;
  for (const Member& m : members) {
    put32(out, offset);
    put32(out, m.bytes.size());
    out.insert(out.end(), m.name.begin(), m.name.end());
    out.push_back(0);
    offset += round4(m.bytes.size());
  }
  out.resize(header, 0);
  for (const Member& m : members) {
    out.insert(out.end(), m.bytes.begin(), m.bytes.end());
    out.resize(round4(out.size()), 0);
  }
  return out;
}

// One 68-byte FST record: a little-endian offset and a 64-byte name field.
inline void fstrecord(Bytes& out, uint32_t offset, std::string_view name) {
  for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(offset >> s));
  const size_t start = out.size();
  out.insert(out.end(), name.begin(), name.end());
  out.resize(start + 64, 0);
}

// `plain` wrapped in a 10 FB block by hand: literal runs of up to 112 bytes,
// then the end command carrying the last 0-3 bytes.
inline Bytes fbstored(const Bytes& plain) {
  const size_t n = plain.size();
  Bytes out{0x10, 0xFB, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  size_t i = 0;
  while (n - i >= 4) {
    const size_t run = std::min<size_t>((n - i) & ~size_t{3}, 112);
    out.push_back(static_cast<uint8_t>(0xE0 + run / 4 - 1));
    out.insert(out.end(), plain.begin() + static_cast<long>(i), plain.begin() + static_cast<long>(i + run));
    i += run;
  }
  out.push_back(static_cast<uint8_t>(0xFC + (n - i)));
  out.insert(out.end(), plain.begin() + static_cast<long>(i), plain.end());
  return out;
}

// A whole file in one read (large packs: no byte-by-byte stream).
inline Bytes readfile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes out(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return out;
}

// Names of the files in `dir`, sorted.
inline std::vector<std::string> filesin(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace torvex::packtest
