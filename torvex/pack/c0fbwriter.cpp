// The C0FB layout: 0xC0 0xFB, header length minus 4 and member count as
// 16-bit big-endian, then per member a 24-bit big-endian offset and size and
// the zero-terminated name; header and members padded to multiples of 4.
#include "packwriter.h"
#include "packwriterbytes.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

using namespace packbytes;

namespace {
constexpr int64_t kMaxField = 0xFFFFFF;     // 24-bit offsets and sizes
constexpr int64_t kMaxHeader = 0xFFFF + 4;  // the stored length is H - 4 in 16 bits
constexpr int64_t kMaxCount = 0xFFFF;
}  // namespace

PackPlan planc0fb(std::span<const PackItem> items) {
  PackPlan plan;
  plan.padmembers = true;
  int64_t header = 6;
  int64_t count = 0;
  forlive(items, [&](const PackItem& item) {
    header += 6 + static_cast<int64_t>(item.name.size()) + 1;
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

std::vector<PackItem> readc0fbitems(std::span<const uint8_t> content, bool mark) {
  ByteReader r(content);
  r.skip(4);
  const uint16_t count = r.u16be();
  return readentries(r, count, 3, mark);
}

}  // namespace torvex
