// Rebuilding a whole SHPI file record by record: templates rebuilt from the
// inputs that name them, every other record copied.
#include "replace.h"

#include <cstring>

#include "torvex/platform/text.h"

namespace torvex {

namespace {

constexpr size_t kShpiNameLength = 4;

void setname(char (&field)[5], std::string_view name) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, name.data(), std::min(name.size(), kShpiNameLength));
}

// A data file's bytes stand for the record as they are.
Block copydata(const Image& input) {
  Block copy = allocblock(input.pixelBytes);
  if (input.pixelBytes) std::memcpy(copy.get(), input.indexed.get(), static_cast<size_t>(input.pixelBytes));
  return copy;
}

}  // namespace

ShpiRebuild rebuildshpi(DirArray& directory, std::vector<Image>& inputs, int options,
                        std::span<const uint8_t> user_palette, RebuildEvents& events) {
  ShpiRebuild result;
  auto add = [&result](Block bytes, std::string_view name) {
    setname(result.members.emplace_back().name, name);
    result.held.push_back(std::move(bytes));
  };
  auto fail = [&result](ShpiRebuild::Status status, const PackEntry& entry) {
    result.status = status;
    result.failed = entry.name;
    result.held.clear();
    result.members.clear();
    return std::move(result);
  };

  for (PackEntry& entry : directory.members()) {
    bool templ = false;
    for (Image& input : inputs) {
      if (!nameequal(input.originalShpiName, entry.name)) continue;
      templ = true;
      if (nameequal(input.originalShpiName, input.shpiName)) {
        // Replaced under the name it is stored with.
        setname(input.shpiName, entry.name);
        events.replacing(input);
        ++result.replaced;
      } else {
        events.adding(input);
        ++result.added;
      }
      if (input.isData) {
        add(copydata(input), input.shpiName);
        continue;
      }
      const Block record = loadlist(entry);
      if (!record) return fail(ShpiRebuild::kUnreadable, entry);
      RecordRebuild rebuilt = rebuildrecord(record.span(), input, options, paletterecordof(entry), user_palette, events);
      if (rebuilt.status != RecordRebuild::kRebuilt) {
        result.input = &input;
        result.record = std::move(rebuilt);
        return fail(ShpiRebuild::kRecordFailed, entry);
      }
      add(std::move(rebuilt.bytes), input.shpiName);
    }
    if (!templ) {
      Block bytes = loadlist(entry);
      if (!bytes && entry.size > 0) return fail(ShpiRebuild::kUnreadable, entry);
      events.copying(entry);
      add(std::move(bytes), entry.name);
      ++result.copied;
    }
    closelist(entry, false);
  }
  for (size_t k = 0; k < result.members.size(); ++k) {
    result.members[k].data = result.held[k].get();
    result.members[k].size = static_cast<uint32_t>(result.held[k].size);
  }
  return result;
}

}  // namespace torvex
