// Lays out and writes whole SHPI files: header, directory, then the records
// one after another, each but the last padded to a multiple of four bytes.
#include <cstring>

#include "shpi.h"
#include "torvex/fbcomp/fb.h"

namespace torvex {

namespace {

// Other names tried for the file being written when one is taken.
constexpr int kTemporaryTries = 100;

bool ispseudo(const ShpiMember& m) { return std::strncmp(m.name, "????", 4) == 0; }

void put32le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16), p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

Block layoutshpi(std::span<const ShpiMember> members, std::string_view directory_id) {
  int64_t listed = 0;
  for (const ShpiMember& m : members) listed += ispseudo(m) ? 0 : 1;
  const int64_t dirbytes = kShpiDirEntry * listed;
  int64_t total = kShpiFileHeader + dirbytes;
  for (size_t i = 0; i < members.size(); ++i) {
    const int64_t size = members[i].size;
    total += i + 1 == members.size() ? size : (size + 3) / 4 * 4;
  }
  // The header's size field is 32 bits and our buffers are addressed with
  // signed 32-bit counts.
  if (total > 0x7FFFFFF0) fatal("SHPI file of %lld bytes is too large to write", static_cast<long long>(total));

  Block file = allocblock(static_cast<int32_t>(total));
  uint8_t* p = file.get();
  std::memcpy(p, "SHPI", 4);
  put32le(p + 4, static_cast<uint32_t>(total));
  put32le(p + 8, static_cast<uint32_t>(listed));
  for (size_t i = 0; i < 4; ++i) p[12 + i] = i < directory_id.size() ? static_cast<uint8_t>(directory_id[i]) : 0;

  uint8_t* dir = p + kShpiFileHeader;
  int64_t at = kShpiFileHeader + dirbytes;
  for (size_t i = 0; i < members.size(); ++i) {
    const ShpiMember& m = members[i];
    if (!ispseudo(m)) {
      // Four name bytes, NUL-padded; a four-character name has no terminator.
      for (size_t k = 0; k < 4 && m.name[k]; ++k) dir[k] = static_cast<uint8_t>(m.name[k]);
      put32le(dir + 4, static_cast<uint32_t>(at));
      dir += kShpiDirEntry;
    }
    if (m.size) std::memcpy(p + at, m.data, m.size);
    at += (static_cast<int64_t>(m.size) + 3) / 4 * 4;  // the zero fill pads
  }
  return file;
}

void writeshpi(std::span<const ShpiMember> members, std::string_view directory_id, const char* path, bool compress,
               const char* shown) {
  if (!shown) shown = path;
  Block file = layoutshpi(members, directory_id);
  if (compress) file = fbcompress(std::move(file));
  // The bytes go to a file of their own beside `path` and replace it only
  // when complete: a failed write (a full disk) leaves an earlier file of
  // that name whole, the one being rebuilt included, and nothing half-written.
  std::string temporary;
  File out;
  for (int n = 0; n < kTemporaryTries && !out; ++n) {
    temporary = format("%s.%d.tmp", path, n);
    out = File(filecreateexclusive(temporary.c_str()));
  }
  if (!out) fatal("couldn't open '%s' for writing\n", shown);
  const bool written = out.writeall(file.span()) && fileflush(out.get());
  out.close();
  if (!written || !filereplace(temporary.c_str(), path)) {
    filedelete(temporary.c_str());
    fatal("couldn't write '%s'\n", shown);
  }
  message("%s successfully created\n", shown);
}

}  // namespace torvex
