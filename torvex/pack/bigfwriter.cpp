// The BIGF layout: "BIGF", total size, member count and header length, all
// 32-bit big-endian, then per member a big-endian offset and size and the
// zero-terminated name; header and members padded to multiples of 4.
#include "packwriter.h"
#include "packwriterbytes.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

using namespace packbytes;

PackPlan planbigf(std::span<const PackItem> items) {
  PackPlan plan;
  plan.padmembers = true;
  int64_t header = 16;
  int64_t data = 0;
  uint32_t count = 0;
  forlive(items, [&](const PackItem& item) {
    header += 8 + static_cast<int64_t>(item.name.size()) + 1;
    data += round4(item.size);
    ++count;
  });
  header = round4(header);
  plan.total = header + data;
  plan.error = toolarge(plan.total);
  if (!plan.error.empty()) return plan;
  std::vector<uint8_t>& out = plan.header;
  out.reserve(static_cast<size_t>(header));
  for (char c : {'B', 'I', 'G', 'F'}) out.push_back(static_cast<uint8_t>(c));
  putbe(out, static_cast<uint32_t>(plan.total), 4);
  putbe(out, count, 4);
  putbe(out, static_cast<uint32_t>(header), 4);
  putentries(out, items, header, 4);
  out.resize(static_cast<size_t>(header), 0);
  return plan;
}

std::vector<PackItem> packbytes::readentries(ByteReader& r, uint32_t count, int width, bool mark) {
  std::vector<PackItem> items;
  for (uint32_t i = 0; i < count; ++i) {
    PackItem item;
    const uint32_t offset = width == 4 ? r.u32be() : r.u24be();
    const uint32_t size = width == 4 ? r.u32be() : r.u24be();
    if (offset > kMaxPack || size > kMaxPack) throw ParseError{};
    item.offset = static_cast<int32_t>(offset);
    item.size = static_cast<int32_t>(size);
    for (uint8_t c = r.u8(); c != 0; c = r.u8()) item.name += static_cast<char>(c);
    item.compress = mark;
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<PackItem> readbigfitems(std::span<const uint8_t> content, bool mark) {
  ByteReader r(content);
  r.skip(8);
  // The whole 32-bit count: taking only its low half would drop members.
  const uint32_t count = r.u32be();
  r.skip(4);
  return readentries(r, count, 4, mark);
}

}  // namespace torvex
