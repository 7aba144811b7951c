// APUK: "APUK", member count (LE), 24 bytes not read; from offset 32 one
// 32-byte record per member: LE size at 0, LE offset at 4, name in 16-31.
#include "layouts.h"

namespace torvex {

namespace {
constexpr int64_t kRecordsAt = 32;
constexpr int64_t kRecord = 32;
}  // namespace

bool isapuk(const Probe& probe) { return probe.starts("APUK"); }

std::unique_ptr<DirArray> readapuk(PackEntry& container) {
  const int64_t size = contentsize(container);
  const std::vector<uint8_t> head = readcontent(container, std::min<int64_t>(size, 8), 8);
  ByteReader counter(head);
  counter.seek(4);
  const uint32_t count = counter.u32le();
  // Records that start beyond the content are not read; one that starts
  // inside and runs past its end reads zeros there.
  const int64_t extent = kRecordsAt + kRecord * static_cast<int64_t>(count);
  const std::vector<uint8_t> bytes = readcontent(container, std::min(size, extent), kRecordsAt + kRecord);
  ByteReader in(bytes);
  auto dir = newdirectory();
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t record = kRecordsAt + kRecord * static_cast<int64_t>(i);
    if (record >= size) break;
    in.seek(static_cast<size_t>(record));
    const auto length = static_cast<int32_t>(in.u32le());
    const auto offset = static_cast<int32_t>(in.u32le());
    in.seek(static_cast<size_t>(record + 16));
    std::string name = readfield(in, 16);
    if (name.empty()) break;
    addpackmember(*dir, container, std::move(name), offset, length);
  }
  return dir;
}

}  // namespace torvex
