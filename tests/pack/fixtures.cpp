#include "fixtures.h"

#include <algorithm>

namespace torvex::test {

ByteVec bytesof(std::string_view text) { return ByteVec(text.begin(), text.end()); }

ByteVec pattern(size_t n, uint8_t salt) {
  ByteVec b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(salt * 31 + i * 7 + (i >> 8));
  return b;
}

void put8(ByteVec& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
void put16le(ByteVec& b, uint32_t v) {
  put8(b, v);
  put8(b, v >> 8);
}
void put16be(ByteVec& b, uint32_t v) {
  put8(b, v >> 8);
  put8(b, v);
}
void put24be(ByteVec& b, uint32_t v) {
  put8(b, v >> 16);
  put8(b, v >> 8);
  put8(b, v);
}
void put32le(ByteVec& b, uint32_t v) {
  put16le(b, v);
  put16le(b, v >> 16);
}
void put32be(ByteVec& b, uint32_t v) {
  put16be(b, v >> 16);
  put16be(b, v);
}
void puttext(ByteVec& b, std::string_view text) {
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(0);
}
void putfield(ByteVec& b, std::string_view text, size_t n) {
  ByteVec f(n, 0);
  std::copy_n(text.begin(), std::min(n, text.size()), f.begin());
  append(b, f);
}
void append(ByteVec& b, const ByteVec& more) { b.insert(b.end(), more.begin(), more.end()); }

ByteVec fblit(const ByteVec& plain) {
  ByteVec out{0x10, 0xFB};
  put24be(out, static_cast<uint32_t>(plain.size()));
  size_t at = 0;
  while (plain.size() - at >= 4) {
    const size_t n = std::min<size_t>(112, (plain.size() - at) / 4 * 4);
    put8(out, 0xE0 | static_cast<uint32_t>(n / 4 - 1));
    out.insert(out.end(), plain.begin() + static_cast<long>(at), plain.begin() + static_cast<long>(at + n));
    at += n;
  }
  const size_t r = plain.size() - at;
  put8(out, 0xFC | static_cast<uint32_t>(r));
  out.insert(out.end(), plain.begin() + static_cast<long>(at), plain.end());
  return out;
}

ByteVec bigf(const std::vector<Member>& members) {
  size_t header = 16;
  for (const Member& m : members) header += 8 + m.name.size() + 1;
  size_t total = header;
  for (const Member& m : members) total += m.data.size();
  ByteVec b = bytesof("BIGF");
  put32be(b, static_cast<uint32_t>(total));
  put32be(b, static_cast<uint32_t>(members.size()));
  put32be(b, static_cast<uint32_t>(header));
  size_t at = header;
  for (const Member& m : members) {
    put32be(b, static_cast<uint32_t>(at));
    put32be(b, static_cast<uint32_t>(m.data.size()));
    puttext(b, m.name);
    at += m.data.size();
  }
  for (const Member& m : members) append(b, m.data);
  return b;
}

ByteVec c0fb(const std::vector<Member>& members) {
  size_t header = 6;
  for (const Member& m : members) header += 6 + m.name.size() + 1;
  ByteVec b{0xC0, 0xFB};
  put16be(b, static_cast<uint32_t>(header - 4));
  put16be(b, static_cast<uint32_t>(members.size()));
  size_t at = header;
  for (const Member& m : members) {
    put24be(b, static_cast<uint32_t>(at));
    put24be(b, static_cast<uint32_t>(m.data.size()));
    puttext(b, m.name);
    at += m.data.size();
  }
  for (const Member& m : members) append(b, m.data);
  return b;
}

ByteVec fst(const std::vector<Member>& members) {
  // From the start of the file: R, then R records of offset + 64-byte name,
  // the last one holding the end offset and an empty name.
  const size_t records = members.size() + 1;
  size_t at = 4 + 68 * records;
  ByteVec b;
  put32le(b, static_cast<uint32_t>(records));
  for (const Member& m : members) {
    put32le(b, static_cast<uint32_t>(at));
    putfield(b, m.name, 64);
    at += m.data.size();
  }
  put32le(b, static_cast<uint32_t>(at));
  putfield(b, "", 64);
  for (const Member& m : members) append(b, m.data);
  return b;
}

ByteVec mas(const std::vector<Member>& members) {
  size_t length = 0;
  for (const Member& m : members) length += m.data.size();
  ByteVec b;
  put32le(b, static_cast<uint32_t>(members.size()));
  put32le(b, static_cast<uint32_t>(length));
  size_t at = 8 + 32 * members.size();
  for (const Member& m : members) {
    putfield(b, m.name, 16);
    put32le(b, static_cast<uint32_t>(at));
    put32le(b, static_cast<uint32_t>(m.data.size()));
    putfield(b, "", 8);
    at += m.data.size();
  }
  for (const Member& m : members) append(b, m.data);
  return b;
}

ByteVec apuk(const std::vector<Member>& members) {
  ByteVec b = bytesof("APUK");
  put32le(b, static_cast<uint32_t>(members.size()));
  putfield(b, "", 24);
  size_t at = 32 + 32 * members.size();
  for (const Member& m : members) {
    put32le(b, static_cast<uint32_t>(m.data.size()));
    put32le(b, static_cast<uint32_t>(at));
    putfield(b, "", 8);
    putfield(b, m.name, 16);
    at += m.data.size();
  }
  for (const Member& m : members) append(b, m.data);
  return b;
}

ByteVec qpp(const std::vector<Member>& members) {
  ByteVec b(4, 0);
  put16le(b, static_cast<uint32_t>(members.size()));
  for (const Member& m : members) putfield(b, m.name, 4);
  size_t at = 0;
  for (const Member& m : members) {
    put32le(b, static_cast<uint32_t>(at));
    at += m.data.size();
  }
  for (const Member& m : members) append(b, m.data);
  return b;
}

ByteVec orip(std::string_view ownname, const std::vector<std::string>& names) {
  ByteVec b(56, 0);
  std::copy_n("ORIP", 4, b.begin());
  // byte 12: where the file's own name is; byte 48: count; byte 52: first name.
  const size_t own = b.size();
  puttext(b, ownname);
  const size_t first = b.size();
  for (const std::string& n : names) putfield(b, n, 24);
  auto poke = [&b](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  poke(12, static_cast<uint32_t>(own));
  poke(48, static_cast<uint32_t>(names.size()));
  poke(52, static_cast<uint32_t>(first));
  return b;
}

}  // namespace torvex::test
