// Hand-built SHPI records and files for the tests, laid out from the byte
// tables of the format (not with the code under test).
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace torvex::test {

using ByteVec = std::vector<uint8_t>;

inline void put16(ByteVec& v, size_t at, unsigned x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
inline void put32(ByteVec& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(x >> (8 * i));
}
// Joined into a new vector rather than grown in place: GCC 12 at -O3 warns
// falsely about the moves of a growing small vector.
inline void append(ByteVec& v, const ByteVec& more) {
  ByteVec joined(v.size() + more.size());
  std::copy(v.begin(), v.end(), joined.begin());
  std::copy(more.begin(), more.end(), joined.begin() + static_cast<std::ptrdiff_t>(v.size()));
  v = std::move(joined);
}

// Record header: type, 24-bit attachment offset, width (or entry count),
// height, then bytes 8-15 with the start index at bytes 10-11; the body
// follows.
inline ByteVec record(uint8_t type, uint32_t attachment, unsigned width, unsigned height, const ByteVec& body,
                      unsigned start = 0) {
  ByteVec r(16, 0);
  r[0] = type;
  r[1] = static_cast<uint8_t>(attachment);
  r[2] = static_cast<uint8_t>(attachment >> 8);
  r[3] = static_cast<uint8_t>(attachment >> 16);
  put16(r, 4, width);
  put16(r, 6, height);
  put16(r, 10, start);
  append(r, body);
  return r;
}

// A picture record with a palette record attached right after its pixels
// (the attachment offset is the picture's own length).
inline ByteVec withattachment(ByteVec picture, const ByteVec& attached) {
  const auto at = static_cast<uint32_t>(picture.size());
  picture[1] = static_cast<uint8_t>(at);
  picture[2] = static_cast<uint8_t>(at >> 8);
  picture[3] = static_cast<uint8_t>(at >> 16);
  append(picture, attached);
  return picture;
}

// A whole SHPI file: header, directory, then the records in the order
// given, each at a 4-byte aligned offset; the bytes `gap` lie between the
// directory and the first record.
inline ByteVec shpifile(const std::string& id, const std::vector<std::pair<std::string, ByteVec>>& records,
                        const ByteVec& gap = {}) {
  const size_t n = records.size();
  ByteVec f(16 + 8 * n, 0);
  append(f, gap);
  f[0] = 'S', f[1] = 'H', f[2] = 'P', f[3] = 'I';
  put32(f, 8, static_cast<uint32_t>(n));
  for (size_t i = 0; i < 4 && i < id.size(); ++i) f[12 + i] = static_cast<uint8_t>(id[i]);
  for (size_t i = 0; i < n; ++i) {
    while (f.size() % 4) f.push_back(0);
    for (size_t k = 0; k < 4 && k < records[i].first.size(); ++k) f[16 + 8 * i + k] = static_cast<uint8_t>(records[i].first[k]);
    put32(f, 16 + 8 * i + 4, static_cast<uint32_t>(f.size()));
    append(f, records[i].second);
  }
  put32(f, 4, static_cast<uint32_t>(f.size()));
  return f;
}

// A 10 FB block made of literal runs only: header 10 FB and the 24-bit
// big-endian size, runs of up to 112 bytes (command 0xE0 + n/4 - 1), then
// the end command 0xFC + the 0-3 bytes left.
inline ByteVec fbliteral(const ByteVec& data) {
  ByteVec out{0x10, 0xFB, static_cast<uint8_t>(data.size() >> 16), static_cast<uint8_t>(data.size() >> 8),
              static_cast<uint8_t>(data.size())};
  size_t p = 0;
  while (data.size() - p >= 4) {
    const size_t k = std::min<size_t>(112, (data.size() - p) / 4 * 4);
    out.push_back(static_cast<uint8_t>(0xE0 + k / 4 - 1));
    out.insert(out.end(), data.begin() + static_cast<long>(p), data.begin() + static_cast<long>(p + k));
    p += k;
  }
  out.push_back(static_cast<uint8_t>(0xFC + (data.size() - p)));
  out.insert(out.end(), data.begin() + static_cast<long>(p), data.end());
  return out;
}

}  // namespace torvex::test

namespace torvex::test {

// A BIGF pack: "BIGF", total size, member count and header length (all
// big-endian), then per member a big-endian offset and size and the name
// with its terminating zero; the data follows the header.
inline ByteVec bigf(const std::vector<std::pair<std::string, ByteVec>>& members) {
  size_t header = 16;
  for (const auto& m : members) header += 8 + m.first.size() + 1;
  auto be32 = [](ByteVec& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
  };
  ByteVec head{'B', 'I', 'G', 'F'};
  size_t total = header;
  for (const auto& m : members) total += m.second.size();
  be32(head, static_cast<uint32_t>(total));
  be32(head, static_cast<uint32_t>(members.size()));
  be32(head, static_cast<uint32_t>(header));
  size_t at = header;
  ByteVec data;
  for (const auto& m : members) {
    be32(head, static_cast<uint32_t>(at));
    be32(head, static_cast<uint32_t>(m.second.size()));
    head.insert(head.end(), m.first.begin(), m.first.end());
    head.push_back(0);
    append(data, m.second);
    at += m.second.size();
  }
  append(head, data);
  return head;
}

}  // namespace torvex::test
