// Reading a patch and preparing the rewrite of each file it lists. The
// target files are read the way the patch maker read the working copy (the
// file list, members expanded, SHPI members as pictures), so a member or
// picture of the patch meets the same-named one it was compared with.
#include <algorithm>
#include <array>
#include <cstring>

#include "patch.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/pack/shpidir.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"
#include "torvex/platform/text.h"
#include "torvex/shpi/shpi.h"

namespace torvex {

namespace {

constexpr uint32_t kSmallestPatched = 100;
constexpr std::string_view kReadme = "#README.TXT";
constexpr std::string_view kGap = "????";

bool startswith(std::span<const uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin(), [](char m, uint8_t b) {
           return static_cast<uint8_t>(m) == b;
         });
}

// The items of a BIGF pack held in `bytes`, every one inside it; nothing
// when the bytes are no BIGF pack or its directory is cut or points outside.
std::optional<std::vector<PackItem>> bigfentries(std::span<const uint8_t> bytes) {
  if (!startswith(bytes, "BIGF")) return std::nullopt;
  std::vector<PackItem> items;
  try {
    items = readbigfitems(bytes, false);
  } catch (const ParseError&) {
    return std::nullopt;
  }
  const auto size = static_cast<int64_t>(bytes.size());
  for (const PackItem& item : items)
    if (item.offset < 0 || item.size < 0 || item.offset > size - item.size) return std::nullopt;
  return items;
}

std::span<const uint8_t> bytesof(std::span<const uint8_t> bytes, const PackItem& item) {
  return bytes.subspan(static_cast<size_t>(item.offset), static_cast<size_t>(item.size));
}

// An entry whose content is `bytes` in memory, read through the file list
// like any member: its stream is filled here, so it is never opened from a
// disk file. It must not be closed (closelist) while its members are read.
struct MemoryEntry {
  RootArray roots;
  MemoryEntry(std::string name, std::span<const uint8_t> bytes) {
    roots.records.records.resize(2);
    roots.records.head().setblockkind(kBlockStatic);
    PackEntry& e = roots.root();
    e.name = std::move(name);
    e.size = static_cast<int32_t>(bytes.size());
    e.stream = std::make_unique<ListStream>();
    e.stream->data = copyblock(bytes).data;
    e.stream->size = static_cast<int32_t>(bytes.size());
  }
  PackEntry& entry() { return roots.root(); }
};

// The pictures of the SHPI content of `entry`, in stored order (the bytes
// between the directory and the first record as "????"), or nothing when
// it does not read as an SHPI directory.
std::optional<std::vector<PatchPicture>> picturesof(PackEntry& entry) {
  DirArray* dir = scandir(entry, kScanKeepOrder);
  if (!dir) return std::nullopt;
  std::vector<PatchPicture> out;
  for (PackEntry& p : dir->members()) {
    Block bytes = loadlist(p);
    if (!bytes) return std::nullopt;
    closelist(p, false);
    out.push_back({p.name, std::move(bytes)});
  }
  return out;
}

// Puts `incoming` into `pictures`: in the place of the first of the same
// name, else at the end (the gap "????" at the front, where it belongs).
void putpicture(std::vector<PatchPicture>& pictures, std::string_view member, PatchPicture incoming,
                std::vector<PatchNote>& notes) {
  const auto same = std::find_if(pictures.begin(), pictures.end(),
                                 [&incoming](const PatchPicture& p) { return nameequal(p.name, incoming.name); });
  PatchNote note;
  note.member = std::string(member);
  note.picture = incoming.name;
  if (same != pictures.end()) {
    note.kind = PatchNote::kPictureReplaced;
    same->bytes = std::move(incoming.bytes);
  } else {
    note.kind = PatchNote::kPictureAdded;
    const bool gap = nameequal(incoming.name, kGap);
    pictures.insert(gap ? pictures.begin() : pictures.end(), std::move(incoming));
  }
  notes.push_back(std::move(note));
}

// The file image of an SHPI file holding `pictures`, with the tag (bytes
// 0-3) and directory id (bytes 12-15) of `head`; null when too large.
Block layoutpictures(const std::vector<PatchPicture>& pictures, std::span<const uint8_t> head) {
  std::vector<ShpiMember> members(pictures.size());
  for (size_t i = 0; i < pictures.size(); ++i) {
    members[i].data = pictures[i].bytes.get();
    members[i].size = static_cast<uint32_t>(pictures[i].bytes.size);
    std::copy_n(pictures[i].name.begin(), std::min<size_t>(pictures[i].name.size(), 4), members[i].name);
  }
  std::string id(4, '\0');
  if (head.size() >= kShpiFileHeader) std::copy_n(head.begin() + 12, 4, id.begin());
  Block file = layoutshpi(members, id);
  // The file keeps its own tag ("SHPI", "SHPS" ...).
  if (file && head.size() >= 4) std::copy_n(head.begin(), 4, file.get());
  return file;
}

// A listed name that stays inside the game folder: no root, no drive and no
// ".." part; a patch must not reach files elsewhere.
bool insidefolder(std::string_view name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find_first_of("\\/", start), name.size());
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

TargetPlan refuse(TargetPlan plan, TargetPlan::Status status, std::string detail = {}) {
  plan.status = status;
  plan.detail = std::move(detail);
  return plan;
}

}  // namespace

// ---- The patch ----------------------------------------------------------------------------

PatchContents parsepatch(Block bytes) {
  PatchContents out;
  out.bytes = std::move(bytes);
  auto damaged = [&out](std::string why) {
    out.status = PatchContents::kDamaged;
    out.damage = std::move(why);
    out.targets.clear();
    out.message.reset();
    return std::move(out);
  };
  const std::span<const uint8_t> all = out.bytes.span();
  const auto entries = bigfentries(all);
  if (!entries) return damaged("not a whole BIGF pack");
  for (const PackItem& entry : *entries) {
    const std::span<const uint8_t> content = bytesof(all, entry);
    if (entry.name.empty()) return damaged("an entry without a name");
    if (nameequal(entry.name, kReadme)) {
      out.message = std::string(content.begin(), content.end());
      continue;
    }
    if (!insidefolder(entry.name)) return damaged(format("'%s' lies outside the game folder", entry.name.c_str()));
    for (const PatchTarget& t : out.targets)
      if (nameequal(t.name, entry.name)) return damaged(format("'%s' is listed twice", entry.name.c_str()));
    const auto members = bigfentries(content);
    if (!members) return damaged(format("'%s' is not a whole BIGF pack", entry.name.c_str()));
    PatchTarget& target = out.targets.emplace_back();
    target.name = entry.name;
    for (const PackItem& m : *members) {
      if (m.name.empty()) return damaged(format("'%s' holds a member without a name", entry.name.c_str()));
      target.members.push_back({m.name, bytesof(content, m)});
    }
  }
  return out;
}

PatchContents readpatch(const char* file) {
  WholeFile read = readwholefile(file, kMaxPack);
  if (read.status == WholeFile::kCantOpen) {
    PatchContents out;
    out.status = PatchContents::kCantOpen;
    return out;
  }
  if (read.status != WholeFile::kRead) {
    PatchContents out;
    out.status = PatchContents::kDamaged;
    out.damage = read.status == WholeFile::kTooLarge ? "larger than a packfile can be" : "it could not be read whole";
    return out;
  }
  return parsepatch(std::move(read.bytes));
}

std::optional<std::vector<PatchPicture>> partialpictures(const PatchMember& member) {
  if (!startswith(member.bytes, "SHP")) return std::nullopt;
  MemoryEntry entry(member.name, member.bytes);
  return picturesof(entry.entry());
}

// ---- A target file ------------------------------------------------------------------------

TargetPlan plantarget(const std::string& path, const PatchTarget& target) {
  TargetPlan plan;
  plan.path = path;
  // What the patch maker compares, and nothing else, is patched.
  {
    File file(path.c_str(), 0);
    if (!file) return refuse(std::move(plan), TargetPlan::kCantOpen);
    if (file.size() < kSmallestPatched) return refuse(std::move(plan), TargetPlan::kTooSmall);
    std::array<uint8_t, 4> magic{};
    file.read(magic.data(), 4);
    const bool known = startswith(magic, "BIGF") || (magic[0] == 0xC0 && magic[1] == 0xFB) ||
                       (magic[0] == 0x10 && magic[1] == 0xFB);
    if (!known) return refuse(std::move(plan), TargetPlan::kNotPack);
  }
  RootArray roots;
  DirArray* dir = setroot(roots, path) ? scandir(roots.root(), kScanKeepOrder) : nullptr;
  if (!dir) return refuse(std::move(plan), TargetPlan::kCantLoad);
  PackEntry& root = roots.root();
  std::array<uint8_t, kShpiFileHeader> head{};
  openlist(&root, 0);
  readlist(root, head.data(), kShpiFileHeader);

  if (startswith(head, "SHP")) {
    // An SHPI file (FB-compressed, or the maker would not have compared it):
    // its members are its pictures, replaced or added whole.
    plan.shpifile = true;
    plan.compress = root.compressed();
    std::vector<PatchPicture> pictures;
    for (PackEntry& p : dir->members()) {
      Block bytes = loadlist(p);
      if (!bytes) return refuse(std::move(plan), TargetPlan::kCantReadMember, memberpath(p));
      closelist(p, false);
      pictures.push_back({p.name, std::move(bytes)});
    }
    for (const PatchMember& m : target.members) putpicture(pictures, root.name, {m.name, copyblock(m.bytes)}, plan.notes);
    plan.shpi = layoutpictures(pictures, head);
    if (!plan.shpi || (plan.compress && plan.shpi.size > kFbMaxSize))
      return refuse(std::move(plan), TargetPlan::kTooLarge, path);
    return plan;
  }

  const PackOpening opening = openforwrite(path, target.members.size(), plan.pack);
  if (opening.status != PackOpening::kOpened) return refuse(std::move(plan), TargetPlan::kUnsupported);
  std::vector<PackItem>& items = plan.pack.items;
  for (const PatchMember& m : target.members) {
    const auto item = std::find_if(items.begin(), items.end(), [&m](const PackItem& i) { return nameequal(i.name, m.name); });
    PatchNote note;
    note.member = m.name;
    if (item == items.end()) {
      PackItem& fresh = items.emplace_back();
      fresh.name = m.name;
      fresh.content = copyblock(m.bytes);
      fresh.size = fresh.content.size;
      note.kind = PatchNote::kAdded;
      plan.notes.push_back(std::move(note));
      continue;
    }
    PackEntry* entry = nullptr;
    for (PackEntry& e : dir->members())
      if (nameequal(e.name, m.name)) {
        entry = &e;
        break;
      }
    if (!entry) return refuse(std::move(plan), TargetPlan::kCantReadMember, underfolder(path, m.name));
    const Block old = loadlist(*entry);
    if (!old) return refuse(std::move(plan), TargetPlan::kCantReadMember, memberpath(*entry));
    const bool wascompressed = entry->compressed();
    plan.notes.push_back(note);
    Block fresh;
    if (startswith(m.bytes, "SHP") && startswith(old.span(), "SHP")) {
      // A partial SHPI into an SHPI member: picture by picture.
      std::optional<std::vector<PatchPicture>> pictures = picturesof(*entry);
      std::optional<std::vector<PatchPicture>> incoming = partialpictures(m);
      if (!incoming) return refuse(std::move(plan), TargetPlan::kDamagedPatch, underfolder(target.name, m.name));
      if (pictures) {
        for (PatchPicture& p : *incoming) putpicture(*pictures, m.name, std::move(p), plan.notes);
        fresh = layoutpictures(*pictures, old.span());
        if (!fresh) return refuse(std::move(plan), TargetPlan::kTooLarge, memberpath(*entry));
      }
    }
    closelist(*entry, false);
    if (!fresh) fresh = copyblock(m.bytes);
    if (wascompressed && fresh.size > kFbMaxSize) return refuse(std::move(plan), TargetPlan::kTooLarge, memberpath(*entry));
    item->offset = -1;
    item->size = fresh.size;
    item->content = std::move(fresh);
    item->compress = wascompressed;
  }
  return plan;
}

}  // namespace torvex
