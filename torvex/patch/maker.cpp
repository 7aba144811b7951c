// Making a patch: each listed file of the working copy is compared with its
// reference copy member by member (SHPI members picture by picture); what
// differs or is new goes into a temporary file, the kept files of one
// listed file into a per-file pack, and the per-file packs and the message
// into the patch.
#include <algorithm>
#include <array>
#include <cstring>

#include "patch.h"
#include "torvex/pack/packwriterbytes.h"
#include "torvex/pack/shpidir.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

// Files of this size or less are no pack worth comparing.
constexpr uint32_t kSmallestCompared = 100;
// Counter values tried for a kept member's temporary file when names are taken.
constexpr int kKeptNameTries = 100;
// Other names tried for the file the patch is written to before it takes its place.
constexpr int kPatchNameTries = 100;
// Temporary files are copied into their pack through a buffer of this size.
constexpr uint32_t kCopyChunk = 1 << 20;

bool startswith(std::span<const uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin(), [](char m, uint8_t b) {
           return static_cast<uint8_t>(m) == b;
         });
}

bool sameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// The first member of `dir` named `name` (letter case ignored), or null.
PackEntry* findmember(DirArray& dir, std::string_view name) {
  for (PackEntry& m : dir.members())
    if (nameequal(m.name, name)) return &m;
  return nullptr;
}

PatchStep stop(PatchStep::Status status, std::string name = {}, std::string other = {}) {
  PatchStep step;
  step.status = status;
  step.name = std::move(name);
  step.other = std::move(other);
  return step;
}

}  // namespace

// ---- The session ------------------------------------------------------------------------

PatchSession::~PatchSession() {
  for (const std::string& name : temporaries_) filedelete(name.c_str());
}

FileHandle PatchSession::createtemporary(const std::string& name) {
  if (fileexists(name.c_str())) return nullptr;
  FileHandle handle = filecreateexclusive(name.c_str());
  if (handle) temporaries_.push_back(name);
  return handle;
}

void PatchSession::removetemporary(const std::string& name) {
  const auto it = std::find(temporaries_.begin(), temporaries_.end(), name);
  if (it == temporaries_.end()) return;
  filedelete(name.c_str());
  temporaries_.erase(it);
}

std::string PatchSession::keptname(std::string_view member) {
  std::string base(member);
  std::replace_if(base.begin(), base.end(), [](char c) { return c == '\\' || c == '/' || c == ':'; }, '_');
  return format("%s#%04x.tmp", base.c_str(), keptcounter++);
}

// ---- Kept members and partial SHPI files ------------------------------------------------

PatchStep writekept(PatchSession& session, const std::string& path, std::string_view name,
                    std::span<const uint8_t> data, std::vector<PendingEntry>& pending) {
  std::string file;
  File out;
  for (int attempt = 0; attempt < kKeptNameTries && !out; ++attempt) {
    file = session.keptname(name);
    out = File(session.createtemporary(file));
    // A name that is taken is passed over; one that is free and still does
    // not create ends the search.
    if (!out && !fileexists(file.c_str())) break;
  }
  if (!out) return stop(PatchStep::kCantCreate, file);
  if (!out.writeall(data)) return stop(PatchStep::kWriteFailed, file);
  out.close();
  pending.push_back({std::string(name), file, false});
  session.events().kept(path, static_cast<int64_t>(data.size()));
  return {};
}

PartialShpi startpartial(std::span<const uint8_t> working) {
  PartialShpi partial;
  partial.bytes.assign(kShpiFileHeader, 0);
  std::copy_n(working.begin(), std::min<size_t>(working.size(), kShpiFileHeader), partial.bytes.begin());
  auto put32 = [&partial](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) partial.bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(4, kShpiFileHeader);
  put32(8, 0);
  return partial;
}

void appendshpiimage(PartialShpi& partial, std::string_view name, std::span<const uint8_t> data) {
  std::vector<uint8_t>& b = partial.bytes;
  auto get32 = [&b](size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(b[at + 3]) << 24;
  };
  auto put32 = [&b](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  const size_t dirend = kShpiFileHeader + size_t{kShpiDirEntry} * partial.count;
  // The data moves up by one directory entry, and every offset with it.
  for (uint32_t i = 0; i < partial.count; ++i) {
    const size_t at = kShpiFileHeader + size_t{kShpiDirEntry} * i + 4;
    put32(at, get32(at) + kShpiDirEntry);
  }
  std::array<uint8_t, kShpiDirEntry> entry{};
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 4), entry.begin());
  const uint32_t offset = kShpiFileHeader + kShpiDirEntry * (partial.count + 1) + partial.datalength;
  for (int i = 0; i < 4; ++i) entry[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(offset >> (8 * i));
  b.insert(b.begin() + static_cast<ptrdiff_t>(dirend), entry.begin(), entry.end());
  b.insert(b.end(), data.begin(), data.end());
  partial.count += 1;
  partial.datalength += static_cast<uint32_t>(data.size());
  put32(4, static_cast<uint32_t>(b.size()));
  put32(8, partial.count);
}

PatchStep compareshpi(PatchSession& session, PackEntry& working, PackEntry& reference,
                      std::span<const uint8_t> workingdata, std::vector<PendingEntry>& pending) {
  const std::string path = memberpath(working);
  DirArray* wdir = scandir(working, kScanKeepOrder);
  DirArray* rdir = wdir ? scandir(reference, kScanKeepOrder) : nullptr;
  // A member that only begins like an SHPI file has no pictures to compare:
  // it is kept whole.
  if (!wdir || !rdir) return writekept(session, path, working.name, workingdata, pending);

  PartialShpi partial = startpartial(workingdata);
  for (PackEntry& picture : wdir->members()) {
    const Block mine = loadlist(picture);
    if (!mine) return stop(PatchStep::kCantReadMember, memberpath(picture));
    PackEntry* theirs = findmember(*rdir, picture.name);
    bool same = false;
    if (theirs) {
      const Block old = loadlist(*theirs);
      if (!old) return stop(PatchStep::kCantReadMember, memberpath(*theirs));
      same = sameBytes(mine.span(), old.span());
      closelist(*theirs, false);
    }
    closelist(picture, false);
    if (!same) appendshpiimage(partial, picture.name, mine.span());
  }
  if (partial.count == 0) return {};
  return writekept(session, path, working.name, partial.bytes, pending);
}

// ---- One listed file ------------------------------------------------------------------------

PatchStep comparepack(PatchSession& session, const std::string& working, const std::string& reference,
                      const std::string& temppack) {
  session.events().scanning(working);
  {
    File file(working.c_str(), 0);
    if (!file) return stop(PatchStep::kCantOpen, working);
    if (file.size() < kSmallestCompared) return stop(PatchStep::kTooSmall, working);
    std::array<uint8_t, 4> magic{};
    file.read(magic.data(), 4);
    const bool known = startswith(magic, "BIGF") || (magic[0] == 0xC0 && magic[1] == 0xFB) ||
                       (magic[0] == 0x10 && magic[1] == 0xFB);
    if (!known) return stop(PatchStep::kNotPack, working);
  }
  RootArray wroots;
  DirArray* wdir = setroot(wroots, working) ? scandir(wroots.root(), 0) : nullptr;
  if (!wdir) return stop(PatchStep::kCantLoadWorking, working);
  RootArray rroots;
  if (!setroot(rroots, reference)) return stop(PatchStep::kCantLoadReference, reference);
  DirArray* rdir = scandir(rroots.root(), 0);
  if (!rdir) return stop(PatchStep::kCantScanReference, reference);

  std::vector<PendingEntry> pending;
  int64_t count = 0;
  for (PackEntry& member : wdir->members()) {
    const Block mine = loadlist(member);
    if (!mine) return stop(PatchStep::kCantReadMember, memberpath(member));
    PackEntry* theirs = findmember(*rdir, member.name);
    PatchStep step;
    if (!theirs) {
      // New in the working copy: kept, but no difference to count.
      step = writekept(session, memberpath(member), member.name, mine.span(), pending);
    } else {
      const Block old = loadlist(*theirs);
      if (!old) return stop(PatchStep::kCantReadMember, memberpath(*theirs));
      if (!sameBytes(mine.span(), old.span())) {
        ++count;
        if (startswith(mine.span(), "SHP")) {
          if (!startswith(old.span(), "SHP")) return stop(PatchStep::kShpiMismatch, memberpath(member), memberpath(*theirs));
          step = compareshpi(session, member, *theirs, mine.span(), pending);
        } else {
          step = writekept(session, memberpath(member), member.name, mine.span(), pending);
        }
      }
      closelist(*theirs, false);
    }
    closelist(member, false);
    if (step.status != PatchStep::kDone) return step;
  }
  PatchStep step = writepatchpack(session, temppack, pending, std::nullopt);
  step.count = count;
  return step;
}

// ---- Patch packs ------------------------------------------------------------------------------

PatchPlan planpatchpack(std::span<const std::string> names, std::span<const int64_t> sizes, bool endswithmessage) {
  PatchPlan out;
  std::vector<PackItem> items(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (sizes[i] > kMaxPack) {
      out.error = format("'%s' has %lld bytes, more than a packfile can hold", names[i].c_str(),
                         static_cast<long long>(sizes[i]));
      return out;
    }
    items[i].name = names[i];
    items[i].size = static_cast<int32_t>(sizes[i]);
  }
  // The layout of the pack writer's BIGF packs: exact lengths, data padded
  // to 4 bytes. Only the total differs: it ends with the message's last
  // byte, not with its padding.
  PackPlan plan = planbigf(items);
  if (!plan.error.empty()) {
    out.error = plan.error;
    return out;
  }
  out.total = plan.total;
  if (endswithmessage && !sizes.empty()) out.total -= packbytes::round4(sizes.back()) - sizes.back();
  out.header = std::move(plan.header);
  for (int i = 0; i < 4; ++i) out.header[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(out.total >> (24 - 8 * i));
  return out;
}

PatchStep writepatchpack(PatchSession& session, const std::string& pack, const std::vector<PendingEntry>& pending,
                         const std::optional<std::string>& message) {
  std::vector<const PendingEntry*> entries;
  std::vector<std::string> names;
  std::vector<int64_t> sizes;
  for (const PendingEntry& e : pending) {
    int64_t size = 0;
    if (e.message) {
      if (!message) continue;
      size = static_cast<int64_t>(message->size());
    } else {
      // A file that does not open is left out.
      File in(e.file.c_str(), 0);
      if (!in) continue;
      size = in.size();
    }
    entries.push_back(&e);
    names.push_back(e.name);
    sizes.push_back(size);
  }
  // A patch that would hold nothing but its message is not made.
  if (entries.empty() || (entries.size() == 1 && message)) return {};

  const PatchPlan plan = planpatchpack(names, sizes, entries.back()->message);
  if (!plan.error.empty()) return stop(PatchStep::kTooLarge, pack, plan.error);
  session.events().creating(pack, static_cast<int64_t>(entries.size()));

  // The patch goes to a file of its own beside its name and takes its place
  // when complete; a per-file pack is one more temporary file.
  ReplacingFile patch;
  File temp;
  if (message) {
    if (!patch.create([&pack](int attempt) { return format("%s.%d.tmp", pack.c_str(), attempt); }, kPatchNameTries))
      return stop(PatchStep::kCantCreate, pack);
  } else {
    temp = File(session.createtemporary(pack));
    if (!temp) return stop(PatchStep::kCantCreate, pack);
  }
  auto write = [&](std::span<const uint8_t> bytes) { return message ? patch.write(bytes) : temp.writeall(bytes); };
  static constexpr uint8_t kZeros[4] = {};
  auto pad = [&](int64_t size) { return write({kZeros, static_cast<size_t>(packbytes::round4(size) - size)}); };

  if (!write(plan.header)) return stop(PatchStep::kWriteFailed, pack);
  std::vector<uint8_t> chunk;
  for (size_t i = 0; i < entries.size(); ++i) {
    const PendingEntry& e = *entries[i];
    if (e.message) {
      if (!write({reinterpret_cast<const uint8_t*>(message->data()), message->size()}))
        return stop(PatchStep::kWriteFailed, pack);
    } else {
      File in(e.file.c_str(), 0);
      if (!in) return stop(PatchStep::kCantReopen, e.file);
      chunk.resize(std::min<int64_t>(sizes[i], kCopyChunk));
      for (int64_t done = 0; done < sizes[i];) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(sizes[i] - done, kCopyChunk));
        if (in.read(chunk.data(), n) != n) return stop(PatchStep::kCantReopen, e.file);
        if (!write({chunk.data(), n})) return stop(PatchStep::kWriteFailed, pack);
        done += n;
      }
      in.close();
      session.removetemporary(e.file);
    }
    if (!pad(sizes[i])) return stop(PatchStep::kWriteFailed, pack);
  }
  if (message) {
    switch (patch.commit(pack.c_str(), NameMatch::kExact)) {
      case ReplacingFile::Commit::kDone:
        break;
      case ReplacingFile::Commit::kFlushFailed:
        return stop(PatchStep::kWriteFailed, pack);
      case ReplacingFile::Commit::kRenameFailed:
        return stop(PatchStep::kRenameFailed, pack, patch.name());
    }
  } else {
    temp.close();
  }
  session.events().created();
  PatchStep done;
  done.written = true;
  return done;
}

}  // namespace torvex
