// Lays out and writes whole SHPI files: header, directory, then the records
// one after another, each but the last padded to a multiple of four bytes.
#include <cstring>

#include "shpi.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"

namespace torvex {

namespace {

// Other names tried for the file being written when one is taken.
constexpr int kTemporaryNames = 100;

bool ispseudo(const ShpiMember& m) { return std::strncmp(m.name, "????", 4) == 0; }

void put32le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16), p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

Block layoutshpi(std::span<const ShpiMember> members, std::string_view directory_id, int64_t* total_out) {
  int64_t listed = 0;
  for (const ShpiMember& m : members) listed += ispseudo(m) ? 0 : 1;
  const int64_t dirbytes = kShpiDirEntry * listed;
  int64_t total = kShpiFileHeader + dirbytes;
  for (size_t i = 0; i < members.size(); ++i) {
    const int64_t size = members[i].size;
    total += i + 1 == members.size() ? size : (size + 3) / 4 * 4;
  }
  if (total_out) *total_out = total;
  // The header's size field is 32 bits and our buffers are addressed with
  // signed 32-bit counts.
  if (total > kMaxBlock) return {};

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

ShpiWrite writeshpi(std::span<const ShpiMember> members, std::string_view directory_id, const char* path,
                    bool compress, const FbProgressFn& progress) {
  ShpiWrite result;
  Block file = layoutshpi(members, directory_id, &result.total);
  if (!file) {
    result.status = ShpiWrite::kTooLarge;
    return result;
  }
  if (compress) {
    FbCompressed packed = fbcompress(std::move(file), progress);
    if (packed.status != FbCompressed::kDone) {
      result.status = ShpiWrite::kCompressionFailed;
      result.compression = std::move(packed);
      return result;
    }
    file = std::move(packed.data);
  }
  // The bytes go to a file of their own beside `path` and replace it only
  // when complete: a failed write (a full disk) leaves an earlier file of
  // that name whole, the one being rebuilt included, and nothing half-written.
  ReplacingFile out;
  if (!out.create([path](int attempt) { return format("%s.%d.tmp", path, attempt); }, kTemporaryNames)) {
    result.status = ShpiWrite::kCantCreate;
    return result;
  }
  if (!out.write(file.span()) || out.commit(path) != ReplacingFile::Commit::kDone) result.status = ShpiWrite::kWriteFailed;
  return result;
}

}  // namespace torvex
