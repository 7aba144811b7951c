// Opening a pack for rewriting and writing it anew. The new pack is written
// in full to a file of its own, pushed to the disk and then renamed over the
// pack in one step, so that the pack path always holds either the complete
// old pack or the complete new one.
#include <algorithm>
#include <cstring>
#include <optional>

#include "packentry.h"
#include "packwriter.h"
#include "packwriterbytes.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

// Unchanged members are copied through a buffer of this size, never whole.
constexpr int32_t kCopyChunk = 1 << 20;
// The largest content an FB header can describe (24-bit size).
constexpr int64_t kMaxFbSize = 0xFFFFFF;
// Other names tried when the first temporary name is taken.
constexpr int kTemporaryTries = 100;

// The temporary file of a rewrite. Created only where no file exists, so a
// file of the user's that happens to carry the name is never touched; removed
// again unless it has replaced the pack.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string_view pack) {
    const std::string first = temporaryname(pack);
    for (int n = 0; n <= kTemporaryTries; ++n) {
      std::string name = n == 0 ? first : format("%s.%d", first.c_str(), n);
      file_ = File(filecreateexclusive(name.c_str()));
      if (file_) {
        name_ = std::move(name);
        return;
      }
      // Something of that name is there: leave it alone and try another.
      if (!fileexists(name.c_str()) && !folderexists(name.c_str())) break;
    }
    fatal("couldn't open '%s' for writing", first.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  ~TemporaryFile() {
    if (placed_) return;
    file_.close();
    filedelete(name_.c_str());
  }

  const std::string& name() const { return name_; }

  void write(std::span<const uint8_t> bytes) {
    if (!file_.writeall(bytes)) fatal("write error while writing to packfile (disk full?)\n");
  }

  // Pushes the file to the disk and renames it over `pack`.
  void replace(const std::string& pack) {
    if (!fileflush(file_.get())) fatal("write error while writing to packfile (disk full?)\n");
    file_.close();
    if (!filereplace(name_.c_str(), pack.c_str())) fatal("couldn't rename '%s' -> '%s'", name_.c_str(), pack.c_str());
    placed_ = true;
  }

 private:
  File file_;
  std::string name_;
  bool placed_ = false;
};

// Where the new pack's bytes go: straight to the temporary file, or into
// memory when the whole pack is to be FB-compressed afterwards.
class PackOutput {
 public:
  PackOutput(TemporaryFile& file, std::optional<int64_t> inmemory) : file_(file) {
    if (inmemory) memory_ = allocblock(static_cast<int32_t>(*inmemory));
  }
  void write(std::span<const uint8_t> bytes) {
    if (memory_) {
      if (static_cast<int64_t>(bytes.size()) > memory_.size - written_)
        fatal("write error while writing to packfile (disk full?)\n");
      std::memcpy(memory_.get() + written_, bytes.data(), bytes.size());
    } else {
      file_.write(bytes);
    }
    written_ += static_cast<int64_t>(bytes.size());
  }
  void zeros(int64_t count) {
    static constexpr uint8_t kZeros[4] = {};
    while (count > 0) {
      const int64_t n = std::min<int64_t>(count, 4);
      write({kZeros, static_cast<size_t>(n)});
      count -= n;
    }
  }
  int64_t written() const { return written_; }
  Block takememory() { return std::move(memory_); }

 private:
  TemporaryFile& file_;
  Block memory_;
  int64_t written_ = 0;
};

// Reads the stored directory from a prefix of the content that grows until
// the directory fits in it.
template <class Reader>
std::optional<std::vector<PackItem>> readitems(PackSource& source, const std::string& path, Reader reader) {
  int64_t want = std::min<int64_t>(source.size(), 1 << 16);
  for (;;) {
    std::vector<uint8_t> prefix(static_cast<size_t>(want));
    if (!source.read(0, prefix)) fatal("read error ('%s')\n", path.c_str());
    try {
      return reader(std::span<const uint8_t>(prefix));
    } catch (const ParseError&) {
      if (want >= source.size()) return std::nullopt;
      want = std::min<int64_t>(source.size(), want * 4);
    }
  }
}

}  // namespace

// ---- The old pack's content ----------------------------------------------------

bool PackSource::open(const std::string& path) {
  close();
  File f(path.c_str(), 0);
  if (!f) return false;
  const int64_t filesize = f.size();
  uint8_t head[5] = {};
  const uint32_t got = f.read(head, static_cast<uint32_t>(std::min<int64_t>(filesize, 5)));
  int32_t expanded = 0;
  if (!fbinfo({head, got}, expanded)) {
    if (filesize > packbytes::kMaxPack) return false;
    file_ = std::move(f);
    size_ = filesize;
    return true;
  }
  // Compressed as a whole: work on the expanded bytes.
  if (filesize > packbytes::kMaxPack || f.seek(0, 0) != 0) return false;
  Block raw = allocblock(static_cast<int32_t>(filesize));
  if (f.read(raw.get(), static_cast<uint32_t>(filesize)) != static_cast<uint32_t>(filesize)) return false;
  FbStatus status;
  expanded_ = fbdecompress(raw.span(), status);
  if (!expanded_) return false;
  compressed_ = true;
  size_ = expanded_.size;
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

bool openforwrite(std::string_view pack, size_t extra, PackForWrite& out) {
  out.path = std::string(pack);
  const char* path = out.path.c_str();
  int layout = kLayoutNone;
  {
    // The pack must read as a directory before its layout is asked for; the
    // scanned directory itself is not used.
    RootArray roots;
    if (!setroot(roots, out.path)) {
      report("couldn't open packfile '%s'\n", path);
      return false;
    }
    PackEntry& root = roots.root();
    if (!scandir(root, kScanKeepOrder)) {
      closelist(root, true);
      report("couldn't scan packfile '%s'\n", path);
      return false;
    }
    closelist(root, true);
    layout = packlayout(root);
    closelist(root, true);
  }
  if (layout != kLayoutC0fb && layout != kLayoutBigf && layout != kLayoutFst)
    fatal("'%s' is not supported packfile", path);
  out.layout = static_cast<WriteLayout>(layout);

  if (!out.source.open(out.path)) {
    report("couldn't open packfile '%s'\n", path);
    return false;
  }
  // Members of a C0FB or BIGF pack start with the pack's own compression mark.
  const bool mark = out.source.compressed();
  std::optional<std::vector<PackItem>> items;
  switch (out.layout) {
    case WriteLayout::kC0fb:
      items = readitems(out.source, out.path, [mark](auto bytes) { return readc0fbitems(bytes, mark); });
      break;
    case WriteLayout::kBigf:
      items = readitems(out.source, out.path, [mark](auto bytes) { return readbigfitems(bytes, mark); });
      break;
    case WriteLayout::kFst:
      items = readitems(out.source, out.path, [](auto bytes) { return readfstitems(bytes); });
      break;
  }
  if (!items) fatal("'%s' has a damaged directory", path);
  // Every member must lie inside the pack: a rewrite must not invent bytes.
  for (const PackItem& item : *items) {
    if (item.offset < 0 || item.size < 0 || item.offset > out.source.size() - item.size)
      fatal("'%s' has a damaged directory: '%s' lies outside the packfile", path, item.name.c_str());
  }
  out.items = std::move(*items);
  out.items.reserve(out.items.size() + extra);
  return true;
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
  }
  PackPlan none;
  none.error = "unknown pack layout";
  return none;
}

void writepack(PackForWrite& pack) {
  const char* path = pack.path.c_str();
  const bool fst = pack.layout == WriteLayout::kFst;
  const bool compressed = pack.source.compressed();

  // Everything the fields cannot hold is refused before a byte is written.
  const PackPlan plan = planlayout(pack.layout, pack.items);
  if (!plan.error.empty()) fatal("%s", plan.error.c_str());
  if (compressed && plan.total > kMaxFbSize)
    fatal("'%s' would be %lld bytes, more than the %lld a compressed packfile can hold", path,
          static_cast<long long>(plan.total), static_cast<long long>(kMaxFbSize));

  // The header is announced once there is a file to write it to.
  TemporaryFile temp(pack.path);
  report("creating header\n");
  PackOutput out(temp, compressed ? std::optional<int64_t>(plan.total) : std::nullopt);
  out.write(plan.header);

  report(fst ? "writing data" : "writing data\n");
  Block chunk;
  for (PackItem& item : pack.items) {
    if (item.deleted) continue;
    if (item.offset == -1) {
      out.write(item.content.span().first(static_cast<size_t>(item.size)));
      item.content = Block{};
    } else {
      if (!chunk) chunk = allocblock(kCopyChunk);
      int64_t done = 0;
      while (done < item.size) {
        const int64_t n = std::min<int64_t>(item.size - done, kCopyChunk);
        const std::span<uint8_t> part = chunk.mutablespan().first(static_cast<size_t>(n));
        if (!pack.source.read(item.offset + done, part)) fatal("read error ('%s')\n", path);
        out.write(part);
        done += n;
      }
    }
    if (plan.padmembers) out.zeros(packbytes::round4(item.size) - item.size);
    if (fst) report(".");
  }
  if (fst) report("\n");
  chunk = Block{};
  if (out.written() != plan.total) fatal("write error while writing to packfile (disk full?)\n");

  pack.source.close();
  if (compressed) {
    const Block packed = fbcompress(out.takememory());
    temp.write(packed.span());
  }
  temp.replace(pack.path);
}

}  // namespace torvex
