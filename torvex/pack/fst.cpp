// FST (no magic): a 32-bit little-endian record count R, then R records of a
// 32-bit little-endian data offset and a 64-byte name field, the last record
// holding the end offset and an empty name; members follow unpadded. A
// member runs from its record's offset to the next record's. Readers see the
// same bytes as the count, the first member's offset, and then per member
// its name and the offset where the next one begins.
#include "layouts.h"
#include "packwriter.h"
#include "packwriterbytes.h"

namespace torvex {

using namespace packbytes;

namespace {
constexpr int64_t kRecord = 68;
constexpr size_t kNameField = 64;
// The smallest offset of the first member's data that makes an FST pack
// plausible: three records (two members and the closing record).
constexpr int64_t kLeastDirectory = 136;
}  // namespace

bool fsttest(int64_t storedsize, uint32_t firstdata, uint32_t records) {
  const int64_t d = static_cast<int64_t>(firstdata) - 8;
  const auto count = static_cast<int32_t>(records);
  if (!(storedsize > d && d >= kLeastDirectory && count > 0 && d > count)) return false;
  const int64_t rest = static_cast<int64_t>(firstdata) - 4;
  return rest % count == 0 && rest / count == kRecord;
}

// The writer gives a pack of one member two records and an empty pack one,
// too few for fsttest. Such a pack passes only in exactly the form the
// writer gives it: the first offset right behind the records, each member
// named (a zero within its field), the offsets in order, and the closing
// record with an empty name and the end of the content as its offset.
bool issmallfst(const Probe& probe) {
  const uint32_t records = probe.firstword();
  if (records != 1 && records != 2) return false;
  if (probe.secondword() != 4 + kRecord * records) return false;
  ByteReader in(probe.bytes);
  in.seek(4);
  uint32_t previous = 0;
  for (uint32_t r = 0; r < records; ++r) {
    const uint32_t offset = in.u32le();
    const auto name = in.bytes(kNameField);
    if (offset < previous) return false;
    previous = offset;
    const bool closing = r + 1 == records;
    if (closing) {
      if (offset != probe.contentsize) return false;
      if (std::any_of(name.begin(), name.end(), [](uint8_t b) { return b != 0; })) return false;
    } else if (name[0] == 0 || std::find(name.begin(), name.end(), uint8_t{0}) == name.end()) {
      return false;
    }
  }
  return true;
}

bool isfst(const Probe& probe) {
  return fsttest(probe.storedsize, probe.secondword(), probe.firstword()) || issmallfst(probe);
}

std::vector<StoredMember> parsefst(ByteReader& in, DirectoryRules rules, int64_t contentsize) {
  const bool listing = rules == DirectoryRules::kListing;
  const uint32_t records = in.u32le();
  uint32_t offset = in.u32le();
  std::vector<StoredMember> members;
  for (uint32_t i = 0; i < records; ++i) {
    if (listing && static_cast<int64_t>(in.pos()) >= contentsize) break;
    std::string name = readfield(in, kNameField);
    if (name.empty()) break;
    const uint32_t next = in.u32le();
    StoredMember& m = members.emplace_back();
    m.name = std::move(name);
    m.offset = offset;
    m.size = next - offset;
    offset = next;
  }
  return members;
}

std::unique_ptr<DirArray> readfst(PackEntry& container) {
  // Past the end of a cut directory: one record.
  std::vector<StoredMember> members =
      parsecontent(container, 8 + kRecord, [size = contentsize(container)](ByteReader& in) {
        return parsefst(in, DirectoryRules::kListing, size);
      });
  auto dir = newdirectory();
  addpackmembers(*dir, container, members);
  return dir;
}

std::vector<PackItem> fstitems(ByteReader& in) {
  std::vector<PackItem> items;
  for (StoredMember& m : parsefst(in, DirectoryRules::kRewriting, 0)) {
    // The next record's offset is where the member ends; it must not lie before its start.
    const uint32_t next = m.offset + m.size;
    if (m.offset > kMaxPack || next > kMaxPack || next < m.offset) throw ParseError{};
    PackItem& item = items.emplace_back();
    item.name = std::move(m.name);
    item.offset = static_cast<int32_t>(m.offset);
    item.size = static_cast<int32_t>(m.size);
  }
  return items;
}

std::vector<PackItem> readfstitems(std::span<const uint8_t> content) {
  ByteReader in(content);
  return fstitems(in);
}

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
  const int64_t header = 4 + kRecord * records;
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

}  // namespace torvex
