// MAS (no magic): member count (LE), data length (LE), then one 32-byte
// record per member: name in bytes 0-15, LE offset at 16, LE size at 20.
#include "layouts.h"

namespace torvex {

namespace {
constexpr int64_t kRecordsAt = 8;
constexpr int64_t kRecord = 32;
}  // namespace

bool mastest(int64_t storedsize, uint32_t datalength, uint32_t members) {
  return storedsize != 0 && datalength != 0 && datalength < storedsize &&
         storedsize == kRecord * static_cast<int64_t>(members) + datalength + kRecordsAt;
}

bool ismas(const Probe& probe) { return mastest(probe.storedsize, probe.secondword(), probe.firstword()); }

std::unique_ptr<DirArray> readmas(PackEntry& container) {
  const int64_t size = contentsize(container);
  const std::vector<uint8_t> head = readcontent(container, std::min<int64_t>(size, 4), 4);
  ByteReader counter(head);
  const uint32_t count = counter.u32le();
  // Records that start beyond the content are not read; one that starts
  // inside and runs past its end reads zeros there.
  const int64_t extent = kRecordsAt + kRecord * static_cast<int64_t>(count);
  const std::vector<uint8_t> bytes = readcontent(container, std::min(size, extent), kRecord);
  ByteReader in(bytes);
  auto dir = newdirectory();
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t record = kRecordsAt + kRecord * static_cast<int64_t>(i);
    if (record >= size) break;
    in.seek(static_cast<size_t>(record));
    std::string name = readfield(in, 16);
    const auto offset = static_cast<int32_t>(in.u32le());
    const auto length = static_cast<int32_t>(in.u32le());
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), offset, length);
  }
  return dir;
}

}  // namespace torvex
