// BIGF: "BIGF", then the total size, the member count and the header length
// (the offset of the first member's data), all 32-bit big-endian; then per
// member a big-endian offset and size and the zero-terminated name. Readers
// take only the count: the total and the header length are often wrong in
// packs made by other tools. Written with the header and every member padded
// to a multiple of 4.
#include "layouts.h"
#include "packwriter.h"
#include "packwriterbytes.h"

namespace torvex {

using namespace packbytes;

namespace {
constexpr size_t kCountAt = 8;
constexpr size_t kEntriesAt = 16;
constexpr int64_t kEntryFields = 8;  // offset and size before the name
}  // namespace

bool isbigf(const Probe& probe) { return probe.starts("BIGF"); }

std::vector<StoredMember> parsebigf(ByteReader& in, DirectoryRules rules, int64_t contentsize) {
  in.seek(kCountAt);
  // The whole 32-bit count: taking only its low half would drop members.
  const uint32_t count = in.u32be();
  in.seek(kEntriesAt);
  return parseentries(in, count, 4, rules, contentsize);
}

std::unique_ptr<DirArray> readbigf(PackEntry& container) {
  // Past the end of a cut directory: one entry's fields and its empty name.
  std::vector<StoredMember> members =
      parsecontent(container, kEntriesAt + kEntryFields + 1, [size = contentsize(container)](ByteReader& in) {
        return parsebigf(in, DirectoryRules::kListing, size);
      });
  auto dir = newdirectory();
  addpackmembers(*dir, container, members);
  return dir;
}

std::vector<PackItem> bigfitems(ByteReader& in, bool mark) {
  return rewriteitems(parsebigf(in, DirectoryRules::kRewriting, 0), mark);
}

std::vector<PackItem> readbigfitems(std::span<const uint8_t> content, bool mark) {
  ByteReader in(content);
  return bigfitems(in, mark);
}

PackPlan planbigf(std::span<const PackItem> items) {
  PackPlan plan;
  plan.padmembers = true;
  plan.error = unnamed(items, "BIGF");
  if (!plan.error.empty()) return plan;
  int64_t header = kEntriesAt;
  int64_t data = 0;
  uint32_t count = 0;
  forlive(items, [&](const PackItem& item) {
    header += kEntryFields + static_cast<int64_t>(item.name.size()) + 1;
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

}  // namespace torvex
