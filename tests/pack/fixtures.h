// Pack files built by hand from the byte tables of each layout, so that the
// readers are checked against bytes they did not write.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace torvex::test {

using ByteVec = std::vector<uint8_t>;

struct Member {
  std::string name;
  ByteVec data;
};

ByteVec bytesof(std::string_view text);
ByteVec pattern(size_t n, uint8_t salt);  // n bytes that differ from member to member

void put8(ByteVec& b, uint32_t v);
void put16le(ByteVec& b, uint32_t v);
void put16be(ByteVec& b, uint32_t v);
void put24be(ByteVec& b, uint32_t v);
void put32le(ByteVec& b, uint32_t v);
void put32be(ByteVec& b, uint32_t v);
void puttext(ByteVec& b, std::string_view text);           // with the terminating zero
void putfield(ByteVec& b, std::string_view text, size_t n);  // zero-padded to n bytes
void append(ByteVec& b, const ByteVec& more);

// 10 FB made of literal runs only (E0|(n/4-1) then n bytes; FC|r then r bytes).
ByteVec fblit(const ByteVec& plain);

ByteVec bigf(const std::vector<Member>& members);
ByteVec c0fb(const std::vector<Member>& members);
ByteVec fst(const std::vector<Member>& members);   // with the closing record
ByteVec mas(const std::vector<Member>& members);
ByteVec apuk(const std::vector<Member>& members);
ByteVec qpp(const std::vector<Member>& members);   // names are the 4-character tags
// ORIP: the file's own name and the name-only records.
ByteVec orip(std::string_view ownname, const std::vector<std::string>& names);

}  // namespace torvex::test
