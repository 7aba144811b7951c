// The FST layout: a 32-bit little-endian record count R, then R records of a
// 32-bit little-endian data offset and a 64-byte name field, the last record
// holding the end offset and an empty name; members follow unpadded.
#include "packwriter.h"
#include "packwriterbytes.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

using namespace packbytes;

namespace {
constexpr size_t kRecord = 68;
constexpr size_t kNameField = 64;
}  // namespace

PackPlan planfst(std::span<const PackItem> items) {
  PackPlan plan;
  plan.padmembers = false;
  int64_t records = 1;  // the closing record
  int64_t data = 0;
  forlive(items, [&](const PackItem& item) {
    ++records;
    data += item.size;
    if (!plan.error.empty()) return;
    // The name field ends with a zero; an empty name would end the directory.
    if (item.name.size() >= kNameField)
      plan.error = format("'%s' is too long for an FST packfile (at most %d characters)", item.name.c_str(),
                          static_cast<int>(kNameField - 1));
    else if (item.name.empty())
      plan.error = "an FST packfile can't hold a member without a name";
  });
  if (!plan.error.empty()) return plan;
  const int64_t header = 4 + static_cast<int64_t>(kRecord) * records;
  plan.total = header + data;
  plan.error = toolarge(plan.total);
  if (!plan.error.empty()) return plan;
  std::vector<uint8_t>& out = plan.header;
  out.reserve(static_cast<size_t>(header));
  putle32(out, static_cast<uint32_t>(records));
  int64_t offset = header;
  auto record = [&](std::string_view name) {
    putle32(out, static_cast<uint32_t>(offset));
    const size_t start = out.size();
    out.insert(out.end(), name.begin(), name.end());
    out.resize(start + kNameField, 0);
  };
  forlive(items, [&](const PackItem& item) {
    record(item.name);
    offset += item.size;
  });
  record({});
  return plan;
}

std::vector<PackItem> readfstitems(std::span<const uint8_t> content) {
  ByteReader r(content);
  const uint32_t records = r.u32le();
  std::vector<PackItem> items;
  for (uint32_t i = 0; i < records; ++i) {
    const size_t at = 4 + kRecord * i;
    r.seek(at);
    const uint32_t offset = r.u32le();
    const auto field = r.bytes(kNameField);
    std::string name;
    for (uint8_t c : field) {
      if (c == 0) break;
      name += static_cast<char>(c);
    }
    if (name.empty()) break;
    // The next record's offset is where this member ends.
    const uint32_t next = r.u32le();
    if (offset > kMaxPack || next > kMaxPack || next < offset) throw ParseError{};
    PackItem item;
    item.name = std::move(name);
    item.offset = static_cast<int32_t>(offset);
    item.size = static_cast<int32_t>(next - offset);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace torvex
