// The file list: one stream interface over disk files and (nested) pack
// members. A plain root file is read in place with a seek and a read per
// request; everything below the root, and a root that is FB-compressed as a
// whole, is held in memory, expanded once when it is opened.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "packentry.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"

namespace torvex {

namespace {

// Expanded content of `stored` when it is FB-compressed; `was` tells whether
// it was. A corrupt stream gives a null Block with `was` set.
Block expandifcompressed(std::span<const uint8_t> stored, bool& was) {
  int32_t unpacked = 0;
  was = fbinfo(stored, unpacked);
  if (!was) return {};
  FbStatus status = FbStatus::kOk;
  return fbdecompress(stored, status);
}

OpenFailure openroot(PackEntry& entry) {
  auto state = std::make_unique<ListStream>();
  File file(entry.path.c_str(), 0);
  if (!file) return OpenFailure::kCantOpen;
  const uint32_t filesize = file.size();
  if (filesize > kMaxPack) return OpenFailure::kTooLarge;
  std::vector<uint8_t> probe(static_cast<size_t>(std::min<uint32_t>(filesize, kProbeBytes)));
  probe.resize(file.read(probe.data(), static_cast<uint32_t>(probe.size())));
  int32_t unpacked = 0;
  if (!fbinfo(probe, unpacked)) {
    state->direct = true;
    state->size = static_cast<int32_t>(filesize);
    entry.stream = std::move(state);
    return OpenFailure::kNone;
  }
  // Compressed as a whole: the only case in which a root is loaded whole.
  file.close();
  const WholeFile raw = readwholefile(entry.path.c_str(), kMaxPack);
  if (raw.status == WholeFile::kTooLarge) return OpenFailure::kTooLarge;
  if (raw.status != WholeFile::kRead) return OpenFailure::kCantOpen;
  FbStatus status = FbStatus::kOk;
  Block expanded = fbdecompress(raw.bytes.span(), status);
  if (!expanded) return OpenFailure::kCorrupt;
  state->size = expanded.size;
  state->data = std::move(expanded.data);
  entry.stream = std::move(state);
  entry.setcompressed();
  return OpenFailure::kNone;
}

// The stored bytes of `entry` must lie inside its parent's content: a
// directory's offsets and sizes are not trusted.
void checkinside(const PackEntry& entry, int32_t parentsize) {
  const int64_t end = static_cast<int64_t>(entry.offset) + entry.size;
  if (entry.offset >= 0 && entry.size >= 0 && end <= parentsize) return;
  ListFault fault;
  fault.kind = ListFault::kOutside;
  fault.member = entry.name;
  fault.container = entry.parent->name;
  fault.offset = entry.offset;
  fault.size = entry.size;
  fault.containersize = parentsize;
  throw fault;
}

[[noreturn]] void fail(ListFault::Kind kind) {
  ListFault fault;
  fault.kind = kind;
  throw fault;
}

OpenFailure openmember(PackEntry& entry) {
  PackEntry& parent = *entry.parent;  // opened by openlist before its child
  ListStream& from = *parent.stream;
  checkinside(entry, from.size);
  entry.stream = std::make_unique<ListStream>();
  ListStream& state = *entry.stream;
  // The stored bytes: inside the parent's buffer, or read from the disk
  // file in place with one seek and one read.
  Block raw;
  std::span<const uint8_t> stored;
  if (from.data) {
    stored = {from.data.get() + entry.offset, static_cast<size_t>(entry.size)};
  } else {
    state.base = from.base + entry.offset;
    raw = allocblock(entry.size);
    readlist(entry, raw.get(), entry.size);
    state.position = 0;
    stored = raw.span();
  }
  bool was = false;
  Block expanded = expandifcompressed(stored, was);
  if (!was) {
    // The entry's own copy, never the parent's buffer.
    state.data = raw ? std::move(raw.data) : copyblock(stored).data;
    state.size = entry.size;
    return OpenFailure::kNone;
  }
  if (!expanded) return OpenFailure::kCorrupt;
  state.data = std::move(expanded.data);
  state.size = expanded.size;
  entry.setcompressed();
  return OpenFailure::kNone;
}

bool isopen(const PackEntry& e) { return e.stream && e.stream->size != 0; }

// A stream whose content is empty has size 0 and counts as not open; it is
// opened again on the next openlist, which costs nothing.
OpenFailure opennode(PackEntry& node) {
  node.stream.reset();
  if (!node.parent) return openroot(node);
  return openmember(node);
}

// Handle closed, buffer released, size 0: the next openlist opens afresh.
void shut(PackEntry& e) {
  if (!e.stream) return;
  e.stream->handle.close();
  e.stream->data.reset();
  e.stream->size = 0;
}

}  // namespace

int16_t openlist(PackEntry* entry, int /*flags*/) {
  if (!entry) fail(ListFault::kNoEntry);
  std::vector<PackEntry*> chain;
  for (PackEntry* e = entry; e; e = e->parent) chain.push_back(e);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    PackEntry& node = **it;
    if (!isopen(node)) {
      node.failure = opennode(node);
      if (node.failure != OpenFailure::kNone) {
        node.stream.reset();
        return 0;
      }
    }
    node.stream->position = 0;
  }
  return 1;
}

int16_t readlist(PackEntry& entry, void* destination, int32_t length) {
  if (length < 0) fail(ListFault::kNegativeLength);
  std::memset(destination, 0, static_cast<size_t>(length));
  ListStream& own = *entry.stream;
  for (PackEntry* node = &entry; node; node = node->parent) {
    ListStream* s = node->stream.get();
    if (!s) continue;
    if (s->direct) {
      if (!s->handle) s->handle = File(node->path.c_str(), 0);
      const int64_t at = static_cast<int64_t>(own.position) + own.base;
      // A read past the end of the file yields fewer bytes; the rest stays 0.
      if (s->handle && at <= std::numeric_limits<int32_t>::max() && s->handle.seek(static_cast<int32_t>(at), 0) >= 0)
        s->handle.read(destination, static_cast<uint32_t>(length));
      break;
    }
    if (s->data) {
      if (static_cast<int64_t>(own.position) + length > own.size) {
        length = own.size - own.position;
        if (length < 0) fail(ListFault::kPastEnd);
      }
      std::memcpy(destination, s->data.get() + own.position, static_cast<size_t>(length));
      break;
    }
  }
  own.position += length;
  return 1;
}

int16_t seeklist(PackEntry& entry, int32_t offset, int whence) {
  ListStream& s = *entry.stream;
  if (whence == 0) {
    if (offset < 0) fail(ListFault::kNegativeSeek);
    s.position = offset;
  } else if (whence == 1) {
    const int64_t to = static_cast<int64_t>(s.position) + offset;
    s.position = static_cast<int32_t>(std::clamp<int64_t>(to, 0, std::numeric_limits<int32_t>::max()));
  }
  return 1;
}

void closelist(PackEntry& entry, bool with_parents) {
  if (entry.directory) closelist(entry.directory->head(), false);
  entry.stream.reset();
  if (with_parents)
    for (PackEntry* up = entry.parent; up; up = up->parent) up->stream.reset();
}

void closealllist(DirArray& directory) {
  auto below = [](auto& self, PackEntry& e) -> void {
    shut(e);
    if (e.directory) {
      shut(e.directory->head());
      for (PackEntry& m : e.directory->members()) self(self, m);
    }
  };
  for (PackEntry& m : directory.members()) below(below, m);
  shut(directory.head());
  for (PackEntry* up = directory.head().parent; up; up = up->parent) shut(*up);
}

Block loadlist(PackEntry& entry) {
  if (!openlist(&entry, 0)) return {};
  Block content = allocblock(entry.stream->size);
  readlist(entry, content.get(), content.size);
  return content;
}

const PackEntry* failedentry(const PackEntry& entry) {
  // Top down: the entries above the one that failed opened, and cleared
  // whatever an earlier failure had left on them.
  std::vector<const PackEntry*> chain;
  for (const PackEntry* e = &entry; e; e = e->parent) chain.push_back(e);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if ((*it)->failure != OpenFailure::kNone) return *it;
  return nullptr;
}

std::string entrypath(const PackEntry& entry) {
  if (!entry.parent) return entry.path;
  return entrypath(*entry.parent) + "\\" + entry.name;
}

}  // namespace torvex
