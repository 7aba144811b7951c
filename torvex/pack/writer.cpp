// Opening a pack for rewriting and writing it anew. The new pack is written
// in full to a file of its own, pushed to the disk and then renamed over the
// pack in one step, so that the pack path always holds either the complete
// old pack or the complete new one.
#include <algorithm>
#include <cstring>
#include <optional>

#include "layouts.h"
#include "packentry.h"
#include "packwriter.h"
#include "packwriterbytes.h"
#include "shpidir.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/bytereader.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"

namespace torvex {

namespace {

// Unchanged members are copied through a buffer of this size, never whole.
constexpr int32_t kCopyChunk = 1 << 20;
// The first temporary name, then the same with ".1" to ".100".
constexpr int kTemporaryNames = 101;

// Where the new pack's bytes go: straight to the temporary file, or into
// memory when the whole pack is to be FB-compressed afterwards.
class PackOutput {
 public:
  PackOutput(ReplacingFile& file, std::optional<int64_t> inmemory) : file_(file) {
    if (inmemory) memory_ = allocblock(static_cast<int32_t>(*inmemory));
  }
  bool write(std::span<const uint8_t> bytes) {
    if (memory_) {
      if (static_cast<int64_t>(bytes.size()) > memory_.size - written_) return false;
      std::memcpy(memory_.get() + written_, bytes.data(), bytes.size());
    } else if (!file_.write(bytes)) {
      return false;
    }
    written_ += static_cast<int64_t>(bytes.size());
    return true;
  }
  bool zeros(int64_t count) {
    static constexpr uint8_t kZeros[4] = {};
    for (; count > 0; count -= 4)
      if (!write({kZeros, static_cast<size_t>(std::min<int64_t>(count, 4))})) return false;
    return true;
  }
  int64_t written() const { return written_; }
  Block takememory() { return std::move(memory_); }

 private:
  ReplacingFile& file_;
  Block memory_;
  int64_t written_ = 0;
};

// The stored directory of `layout`, read from a prefix of the old pack that
// grows until the directory fits in it.
PackOpening readitems(PackForWrite& pack) {
  PackOpening opening;
  PackSource& source = pack.source;
  // Members of a C0FB or BIGF pack start with the pack's own compression mark.
  const bool mark = source.compressed();
  auto read = [&source](int64_t length, uint8_t* out) {
    return source.read(0, std::span<uint8_t>(out, static_cast<size_t>(length)));
  };
  auto parse = [&](ByteReader& in) {
    switch (pack.layout) {
      case WriteLayout::kC0fb: return c0fbitems(in, mark);
      case WriteLayout::kBigf: return bigfitems(in, mark);
      default: return fstitems(in);
    }
  };
  try {
    std::optional<std::vector<PackItem>> items = parseprefix(source.size(), 0, read, parse);
    if (!items) {
      opening.status = PackOpening::kReadFailed;
      return opening;
    }
    pack.items = std::move(*items);
  } catch (const ParseError&) {
    opening.status = PackOpening::kDamaged;
    return opening;
  }
  // Every member must lie inside the pack: a rewrite must not invent bytes.
  for (const PackItem& item : pack.items) {
    if (item.offset < 0 || item.size < 0 || item.offset > source.size() - item.size) {
      opening.status = PackOpening::kOutside;
      opening.member = item.name;
      return opening;
    }
  }
  return opening;
}

}  // namespace

// ---- The old pack's content ----------------------------------------------------

bool PackSource::open(PackEntry& root) {
  close();
  if (!root.stream) return false;
  if (root.compressed()) {
    // Compressed as a whole: the file list has expanded it already.
    size_ = root.stream->size;
    expanded_.data = std::move(root.stream->data);
    expanded_.size = root.stream->size;
    root.stream.reset();
    compressed_ = true;
    return true;
  }
  file_ = File(root.path.c_str(), 0);
  if (!file_) return false;
  size_ = root.stream->size;
  return true;
}

void PackSource::close() {
  file_.close();
  expanded_ = Block{};
  compressed_ = false;
  size_ = 0;
}

bool PackSource::read(int64_t offset, std::span<uint8_t> out) {
  const auto count = static_cast<int64_t>(out.size());
  if (offset < 0 || offset > size_ || count > size_ - offset) return false;
  if (compressed_) {
    if (count) std::memcpy(out.data(), expanded_.get() + offset, out.size());
    return true;
  }
  if (!file_) return false;
  if (file_.seek(static_cast<int32_t>(offset), 0) != offset) return false;
  return file_.read(out.data(), static_cast<uint32_t>(count)) == static_cast<uint32_t>(count);
}

// ---- Opening for rewriting -------------------------------------------------------

PackOpening openforwrite(std::string_view pack, size_t extra, PackForWrite& out) {
  PackOpening opening;
  out.path = std::string(pack);
  RootArray roots;
  if (!setroot(roots, out.path)) {
    opening.status = PackOpening::kCantOpen;
    return opening;
  }
  PackEntry& root = roots.root();
  opening.filesize = roots.filesize;
  // One look at the first bytes decides both how the pack reads and which
  // layout it is written in.
  std::vector<uint8_t> buffer(kProbeBytes);
  Probe probe;
  if (!takeprobe(root, buffer, probe)) {
    switch (root.failure) {
      case OpenFailure::kCorrupt: opening.status = PackOpening::kCorrupt; break;
      case OpenFailure::kTooLarge: opening.status = PackOpening::kTooLarge; break;
      default: opening.status = PackOpening::kCantOpen; break;
    }
    return opening;
  }
  const Layout* layout = recognizeprobe(probe);
  if (!layout || !layout->reader) {
    opening.status = PackOpening::kNotScanned;
    return opening;
  }
  out.layout = writablelayout(probe);
  if (out.layout == WriteLayout::kNone || out.layout == WriteLayout::kShpiFile) {
    // Nothing is written; the refusal depends on whether the content reads
    // as a directory at all, as a short SHPI header does not.
    if (!layout->reader(root)) opening.status = PackOpening::kNotScanned;
    else opening.status = out.layout == WriteLayout::kShpiFile ? PackOpening::kShpiFile : PackOpening::kUnsupported;
    return opening;
  }
  if (!out.source.open(root)) {
    opening.status = PackOpening::kCantOpen;
    return opening;
  }
  closelist(root, true);
  opening = readitems(out);
  out.items.reserve(out.items.size() + extra);
  return opening;
}

// ---- Writing -------------------------------------------------------------------------

PackPlan planlayout(WriteLayout layout, std::span<const PackItem> items) {
  switch (layout) {
    case WriteLayout::kC0fb:
      return planc0fb(items);
    case WriteLayout::kBigf:
      return planbigf(items);
    case WriteLayout::kFst:
      return planfst(items);
    default:
      break;
  }
  PackPlan none;
  none.error = "unknown pack layout";
  return none;
}

std::string temporaryname(std::string_view pack, int attempt) {
  std::string name = pack.size() > 4 && pack[pack.size() - 4] == '.'
                         ? std::string(pack.substr(0, pack.size() - 4)) + ".tmp"
                         : std::string(pack) + ".tmp";
  if (attempt > 0) name += format(".%d", attempt);
  return name;
}

PackWriteResult writepack(PackForWrite& pack, PackWriteEvents& events) {
  PackWriteResult result;
  auto fail = [&result](PackWriteResult::Status status) {
    result.status = status;
    return std::move(result);
  };
  const bool compressed = pack.source.compressed();

  // Everything the fields cannot hold is refused before a byte is written.
  const PackPlan plan = planlayout(pack.layout, pack.items);
  result.total = plan.total;
  if (!plan.error.empty()) {
    result.refusal = plan.error;
    return fail(PackWriteResult::kRefused);
  }
  if (compressed && plan.total > kFbMaxSize) return fail(PackWriteResult::kTooLargeToCompress);

  ReplacingFile temp;
  result.temporary = temporaryname(pack.path);
  if (!temp.create([&pack](int attempt) { return temporaryname(pack.path, attempt); }, kTemporaryNames))
    return fail(PackWriteResult::kNoTemporaryFile);
  result.temporary = temp.name();
  // The header is announced once there is a file to write it to.
  events.headerbegins();
  PackOutput out(temp, compressed ? std::optional<int64_t>(plan.total) : std::nullopt);
  if (!out.write(plan.header)) return fail(PackWriteResult::kWriteFailed);

  events.databegins();
  Block chunk;
  for (PackItem& item : pack.items) {
    if (item.deleted) continue;
    if (item.offset == -1) {
      if (!out.write(item.content.span().first(static_cast<size_t>(item.size))))
        return fail(PackWriteResult::kWriteFailed);
      item.content = Block{};
    } else {
      if (!chunk) chunk = allocblock(kCopyChunk);
      for (int64_t done = 0; done < item.size;) {
        const int64_t n = std::min<int64_t>(item.size - done, kCopyChunk);
        const std::span<uint8_t> part = chunk.mutablespan().first(static_cast<size_t>(n));
        if (!pack.source.read(item.offset + done, part)) return fail(PackWriteResult::kReadFailed);
        if (!out.write(part)) return fail(PackWriteResult::kWriteFailed);
        done += n;
      }
    }
    if (plan.padmembers && !out.zeros(packbytes::round4(item.size) - item.size))
      return fail(PackWriteResult::kWriteFailed);
    events.memberwritten();
  }
  events.datadone();
  chunk = Block{};
  if (out.written() != plan.total) return fail(PackWriteResult::kWriteFailed);

  pack.source.close();
  if (compressed) {
    FbCompressed packed =
        fbcompress(out.takememory(), [&events](const FbProgress& progress) { events.compressing(progress); });
    if (packed.status != FbCompressed::kDone) {
      result.compression = std::move(packed);
      return fail(PackWriteResult::kCompressionFailed);
    }
    if (!temp.write(packed.data.span())) return fail(PackWriteResult::kWriteFailed);
  }
  switch (temp.commit(pack.path.c_str())) {
    case ReplacingFile::Commit::kDone:
      return result;
    case ReplacingFile::Commit::kFlushFailed:
      return fail(PackWriteResult::kWriteFailed);
    case ReplacingFile::Commit::kRenameFailed:
      return fail(PackWriteResult::kRenameFailed);
  }
  return result;
}

}  // namespace torvex
