// C0FB: 0xC0 0xFB, the header length minus 4 and the member count as 16-bit
// big-endian, then per member a 24-bit big-endian offset and size and the
// zero-terminated name. Readers take only the count. Written with the header
// and every member padded to a multiple of 4; the 16- and 24-bit fields set
// the limits a rewrite must respect.
#include "layouts.h"
#include "packwriter.h"
#include "packwriterbytes.h"

namespace torvex {

using namespace packbytes;

namespace {
constexpr size_t kCountAt = 4;
constexpr int64_t kEntriesAt = 6;
constexpr int64_t kEntryFields = 6;         // offset and size before the name
constexpr int64_t kMaxField = 0xFFFFFF;     // 24-bit offsets and sizes
constexpr int64_t kMaxHeader = 0xFFFF + 4;  // the stored length is H - 4 in 16 bits
constexpr int64_t kMaxCount = 0xFFFF;
}  // namespace

bool isc0fb(const Probe& probe) { return probe.bytes[0] == 0xC0 && probe.bytes[1] == 0xFB; }

std::vector<StoredMember> parsec0fb(ByteReader& in, DirectoryRules rules, int64_t contentsize) {
  in.seek(kCountAt);
  const uint16_t count = in.u16be();
  return parseentries(in, count, 3, rules, contentsize);
}

std::unique_ptr<DirArray> readc0fb(PackEntry& container) {
  // Past the end of a cut directory: one entry's fields and its empty name.
  std::vector<StoredMember> members =
      parsecontent(container, kEntriesAt + kEntryFields + 1, [size = contentsize(container)](ByteReader& in) {
        return parsec0fb(in, DirectoryRules::kListing, size);
      });
  auto dir = newdirectory();
  addpackmembers(*dir, container, members);
  return dir;
}

std::vector<PackItem> c0fbitems(ByteReader& in, bool mark) {
  return rewriteitems(parsec0fb(in, DirectoryRules::kRewriting, 0), mark);
}

std::vector<PackItem> readc0fbitems(std::span<const uint8_t> content, bool mark) {
  ByteReader in(content);
  return c0fbitems(in, mark);
}

PackPlan planc0fb(std::span<const PackItem> items) {
  PackPlan plan;
  plan.padmembers = true;
  plan.error = unnamed(items, "C0FB");
  if (!plan.error.empty()) return plan;
  int64_t header = kEntriesAt;
  int64_t count = 0;
  forlive(items, [&](const PackItem& item) {
    header += kEntryFields + static_cast<int64_t>(item.name.size()) + 1;
    ++count;
  });
  header = round4(header);
  if (count > kMaxCount) {
    plan.error = format("a C0FB packfile holds at most %lld members, not %lld", static_cast<long long>(kMaxCount),
                        static_cast<long long>(count));
    return plan;
  }
  if (header > kMaxHeader) {
    plan.error = format("the directory of a C0FB packfile holds at most %lld bytes, not %lld",
                        static_cast<long long>(kMaxHeader), static_cast<long long>(header));
    return plan;
  }
  int64_t offset = header;
  forlive(items, [&](const PackItem& item) {
    if (!plan.error.empty()) return;
    if (item.size > kMaxField)
      plan.error = format("'%s' has %d bytes, more than the %lld a C0FB packfile can hold", item.name.c_str(),
                          item.size, static_cast<long long>(kMaxField));
    else if (offset > kMaxField)
      plan.error = format("'%s' would start at byte %lld, beyond the %lld a C0FB packfile can reach",
                          item.name.c_str(), static_cast<long long>(offset), static_cast<long long>(kMaxField));
    offset += round4(item.size);
  });
  plan.total = offset;
  if (!plan.error.empty()) return plan;

  std::vector<uint8_t>& out = plan.header;
  out.reserve(static_cast<size_t>(header));
  out.push_back(0xC0);
  out.push_back(0xFB);
  putbe(out, static_cast<uint32_t>(header - 4), 2);
  putbe(out, static_cast<uint32_t>(count), 2);
  putentries(out, items, header, 3);
  out.resize(static_cast<size_t>(header), 0);
  return plan;
}

}  // namespace torvex
