// What the layout files share: the directory readers and recognisers of the
// recognition table, the directory parsers that the readers and the pack
// writer both use, and the reading of a directory's bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "packentry.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

// ---- One file per layout ----------------------------------------------------------

bool isbigf(const Probe& probe);
bool isc0fb(const Probe& probe);
bool isfst(const Probe& probe);       // either FST test below
bool issmallfst(const Probe& probe);  // an FST pack of one member or none
bool ismas(const Probe& probe);
bool isapuk(const Probe& probe);
bool isorip(const Probe& probe);
bool isqpp(const Probe& probe);

std::unique_ptr<DirArray> readbigf(PackEntry& container);
std::unique_ptr<DirArray> readc0fb(PackEntry& container);
std::unique_ptr<DirArray> readfst(PackEntry& container);
std::unique_ptr<DirArray> readmas(PackEntry& container);
std::unique_ptr<DirArray> readapuk(PackEntry& container);
std::unique_ptr<DirArray> readorip(PackEntry& container);
std::unique_ptr<DirArray> readqpp(PackEntry& container);

// A member as a directory stores it, before anything is checked.
struct StoredMember {
  std::string name;
  uint32_t offset = 0;
  uint32_t size = 0;
};

// How far a directory parser goes. For a listing the directory ends at its
// first member without a name, and also where the content ends even when
// the count promises more (the fields there read as zeros, as readers of
// these layouts always have taken them). A rewrite takes every member the
// count promises, named or not; where the bytes end first, the parser's
// ByteReader throws ParseError.
enum class DirectoryRules { kListing, kRewriting };

// The directories of the writable layouts, from the start of the content.
// `contentsize` is the length of the content (for kListing).
std::vector<StoredMember> parsebigf(ByteReader& in, DirectoryRules rules, int64_t contentsize);
std::vector<StoredMember> parsec0fb(ByteReader& in, DirectoryRules rules, int64_t contentsize);
std::vector<StoredMember> parsefst(ByteReader& in, DirectoryRules rules, int64_t contentsize);

// ---- Building blocks ---------------------------------------------------------------

// The entries of a BIGF or C0FB directory from the reader's position: per
// member a big-endian offset and size of `width` bytes each, then the
// zero-terminated name; `count` of them, under `rules`.
std::vector<StoredMember> parseentries(ByteReader& in, uint32_t count, int width, DirectoryRules rules,
                                       int64_t contentsize);

// Appends a member of a plain pack layout (BIGF, C0FB, FST, MAS, APUK): its
// label is "----", its place in the container as stored.
void addpackmember(DirArray& dir, const PackEntry& container, std::string name, int32_t offset, int32_t size);
// The same for every member a parser found, in stored order.
void addpackmembers(DirArray& dir, const PackEntry& container, std::vector<StoredMember>& members);

// Text up to its terminating zero, which is read as well.
std::string readtext(ByteReader& in);
// A field of `width` bytes holding text up to its first zero (or all of it).
std::string readfield(ByteReader& in, size_t width);

// The content size of an opened entry.
int64_t contentsize(const PackEntry& entry);
// The first `length` bytes of an opened entry's content (the position put
// back to 0), followed by `zeros` zero bytes.
std::vector<uint8_t> readcontent(PackEntry& entry, int64_t length, int64_t zeros = 0);
void readcontentinto(PackEntry& entry, uint8_t* out, int64_t length);

// A directory of unknown length is parsed from a prefix of the content that
// grows until the directory fits in it; at last from the whole content
// followed by `zeros` zero bytes, as many as `parse` may read past the end.
// `read(length, out)` fills `out` with the first `length` bytes of the
// content; nothing when it cannot. A directory that does not fit even then
// lets the parser's ParseError through.
template <class Read, class Parse>
auto parseprefix(int64_t size, int64_t zeros, Read&& read, Parse&& parse)
    -> std::optional<decltype(parse(std::declval<ByteReader&>()))> {
  constexpr int64_t kFirstPrefix = 1 << 16;  // a directory of a few thousand members
  for (int64_t want = std::min(size, kFirstPrefix);; want = std::min(size, want * 4)) {
    const bool whole = want == size;
    std::vector<uint8_t> bytes(static_cast<size_t>(want + (whole ? zeros : 0)), 0);
    if (!read(want, bytes.data())) return std::nullopt;
    ByteReader in(bytes);
    try {
      return parse(in);
    } catch (const ParseError&) {
      if (whole) throw;
    }
  }
}

// A directory reader's view of parseprefix: the container's own content,
// which always reads.
template <class Parse>
auto parsecontent(PackEntry& container, int64_t zeros, Parse&& parse) {
  auto read = [&container](int64_t length, uint8_t* out) {
    readcontentinto(container, out, length);
    return true;
  };
  return *parseprefix(contentsize(container), zeros, read, parse);
}

}  // namespace torvex
