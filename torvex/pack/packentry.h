// Files, pack members and the pictures inside SHPI files, all seen through
// one record (PackEntry) and read through one stream interface (the file
// list: openlist, readlist, seeklist ...). Directory readers turn a
// container's content into a directory array of such records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvex/platform/bytereader.h"
#include "torvex/platform/platform.h"

namespace torvex {

struct DirArray;

// The stream state of one entry. An entry below the root always reads from
// memory once opened; only a root (a file on disk) can be read directly.
struct ListStream {
  Bytes data;              // the whole content, already expanded; null for a direct stream
  bool direct = false;     // content read straight from the disk file named by the entry's path
  File handle;             // the disk file of a direct stream, opened on the first read
  int32_t position = 0;    // read position, relative to the start of the entry's content
  int32_t base = 0;        // where the content starts in the disk file (direct reads)
  int32_t size = 0;        // length of the content (expanded length when compressed); 0: not open
};

// Block kinds of a directory array's first record.
constexpr uint8_t kBlockNone = 0;
constexpr uint8_t kBlockAllocated = 1;  // released with the directory
constexpr uint8_t kBlockStatic = 2;     // a root array, never released

// Content kinds (flags bits 4-7).
constexpr int kContentPlain = 0;
constexpr int kContentPicture = 1;
constexpr int kContentWholeFile = 8;  // the ORIP whole-file entry

// Why an entry's content could not be opened (openlist returned 0).
enum class OpenFailure {
  kNone,
  kCantOpen,  // the disk file does not open (any more)
  kTooLarge,  // the disk file is larger than a pack may be (kMaxPack)
  kCorrupt,   // its bytes claim to be FB-compressed and do not expand
};

struct PackEntry {
  // The disk file that finally holds the bytes (members copy their
  // container's; the .qpp/.ppv reader keeps the member's tag here). Any length.
  std::string path;
  // The member's name as stored (any length); the pack path for a root.
  std::string name;
  // Short type text shown by the list command ("----", an SHPI directory id ...).
  std::string label;
  uint8_t flags = 0;   // bits 0-1 block kind, bits 4-7 content kind
  uint8_t flags2 = 0;  // bits 0-1 picture kind (1 indexed, 2 truecolour), bits 2-3 compression mark
  PackEntry* parent = nullptr;           // the entry whose content holds this one; null for a root
  std::unique_ptr<DirArray> directory;   // this entry's scanned directory; null until scanned
  std::unique_ptr<ListStream> stream;    // open stream or null
  int32_t offset = 0;  // where the bytes start in the parent's content
  int32_t size = 0;    // stored length in the parent (the file size for a root)
  int16_t width = -1;
  int16_t height = -1;
  // Set by an openlist that failed on this entry, cleared when it opens.
  OpenFailure failure = OpenFailure::kNone;

  PackEntry();
  ~PackEntry();
  PackEntry(PackEntry&&) noexcept;
  PackEntry& operator=(PackEntry&&) noexcept;

  int blockkind() const { return flags & 3; }
  void setblockkind(uint8_t kind) { flags = static_cast<uint8_t>((flags & ~3) | (kind & 3)); }
  int contentkind() const { return flags >> 4; }
  void setcontentkind(int kind) { flags = static_cast<uint8_t>((flags & 0x0F) | (kind << 4)); }
  int picturekind() const { return flags2 & 3; }
  void setpicturekind(int kind) { flags2 = static_cast<uint8_t>((flags2 & ~3) | (kind & 3)); }
  bool compressed() const { return ((flags2 >> 2) & 3) == 1; }
  void setcompressed() { flags2 = static_cast<uint8_t>((flags2 & ~0x0C) | 0x04); }
};

// A scanned directory. records[0] is the head (empty name, a block kind,
// parent = the scanned entry); the members follow in stored order (sorted
// by name after scandir unless asked to keep the order). Owned by the
// scanned entry's `directory`, so an inner directory lives as long as the
// member it was read from. No limit on the number of members.
struct DirArray {
  std::vector<PackEntry> records;

  PackEntry& head() { return records.front(); }
  std::span<PackEntry> members() { return std::span<PackEntry>(records).subspan(1); }
  size_t count() const { return records.size() - 1; }
};

// ---- Building a directory (every directory reader, SHPI's included) ---------

// A new directory: the head record with block kind 1, no members yet.
std::unique_ptr<DirArray> newdirectory();
// Appends a member of `container`: the given name, path copied from the
// container, width = height = -1, everything else zero. The reference is
// good until the next addmember on the same directory.
PackEntry& addmember(DirArray& dir, const PackEntry& container, std::string name);

// A directory reader: reads `container`'s directory through the file list
// (from position 0 of its content) into a new array, or declines with null
// (position put back). recognize() picks one; scandir() links and sorts.
using DirReader = std::unique_ptr<DirArray> (*)(PackEntry& container);

// ---- The file list ---------------------------------------------------------------

// The one failure of the file list that ends a command wherever it is met:
// a read that the directories or the caller ask for and the data cannot
// give. A directory's offsets are untrusted, and a damaged one may first be
// noticed deep inside a picture's palette search; carrying the failure back
// by hand through every reader and decoder would widen all of them for a
// case the games' own files never have. So the file list throws it, and the
// commands layer catches it once and says why.
struct ListFault {
  enum Kind {
    kNoEntry,         // openlist without an entry
    kNegativeLength,  // readlist of a negative length
    kPastEnd,         // readlist from beyond the end of a content held in memory
    kNegativeSeek,    // seeklist to a position before the start
    kOutside,         // a member's stored bytes do not lie inside its container
  };
  Kind kind = kNoEntry;
  std::string member;         // kOutside: the member, its container and where it claims to lie
  std::string container;
  int32_t offset = 0;
  int32_t size = 0;
  int32_t containersize = 0;  // the container's content size
};

// Makes `entry` and every ancestor readable, positions at 0. 1 or 0.
// `flags` is not used. A null entry is a ListFault (kNoEntry), as is a
// member whose stored bytes lie outside its container (kOutside).
int16_t openlist(PackEntry* entry, int flags);
// Fills `destination` (zero-filled first) with up to `length` bytes from the
// current position and advances it. ListFault kNegativeLength and kPastEnd.
int16_t readlist(PackEntry& entry, void* destination, int32_t length);
// whence 0: absolute (ListFault kNegativeSeek below 0); 1: relative,
// clamped at 0; anything else: no change.
int16_t seeklist(PackEntry& entry, int32_t offset, int whence);
// Releases the stream of the directory heads below `entry`, of `entry`, and
// with `with_parents` of every ancestor.
void closelist(PackEntry& entry, bool with_parents);
// Marks every member of `directory`, the heads below them and the
// ancestors not open (handles closed, buffers released, state kept).
void closealllist(DirArray& directory);
// The entry's whole (expanded) content in a Block, or a null Block when it
// cannot be opened. The caller's Block releases it.
Block loadlist(PackEntry& entry);
// After an openlist (or loadlist) of `entry` that failed: the entry of the
// chain from the root down to `entry` that did not open, whose `failure`
// says why; null when none did.
const PackEntry* failedentry(const PackEntry& entry);
// The entry as a pack path: the root's path, then every member's name
// after a backslash (pack.viv\pics.fsh\logo).
std::string entrypath(const PackEntry& entry);

// ---- Recognition --------------------------------------------------------------------

// Plausibility tests standing in for a magic number. An FST pack starts with
// its record count and the offset of the first member's data, a MAS pack
// with its member count and the length of its data; both must agree with
// the stored size of the whole.
bool fsttest(int64_t storedsize, uint32_t firstdata, uint32_t records);
bool mastest(int64_t storedsize, uint32_t datalength, uint32_t members);

constexpr size_t kProbeBytes = 8192;

// What recognition looks at: the first bytes of a container's content.
struct Probe {
  std::span<const uint8_t> bytes;  // kProbeBytes bytes: the content's first bytes, zero-padded
  int64_t storedsize = 0;          // the entry's stored (not expanded) size
  int64_t contentsize = 0;         // the length of its content (expanded, when it was compressed)
  std::string_view name;           // the entry's name; one layout is known by it alone

  uint32_t firstword() const { return peek32le(bytes.data()); }
  uint32_t secondword() const { return peek32le(bytes.data() + 4); }
  bool starts(std::string_view magic) const {
    return std::equal(magic.begin(), magic.end(), bytes.begin(), [](char m, uint8_t b) { return static_cast<uint8_t>(m) == b; });
  }
};

// One row of the recognition table: the test on the probe, and the reader
// of the directory (null for content that must never be read as one).
struct Layout {
  const char* name;
  bool (*test)(const Probe& probe);
  DirReader reader;
};

// The first row of the table whose test holds, or null.
const Layout* recognizeprobe(const Probe& probe);
// The entry's first bytes through the file list (the position put back to 0).
// False when the entry does not open. `buffer` holds kProbeBytes bytes.
bool takeprobe(PackEntry& entry, std::span<uint8_t> buffer, Probe& probe);
// The directory reader for the entry's content, or null when it is not a
// directory this program reads.
DirReader recognize(PackEntry& entry);

// ---- Directories ----------------------------------------------------------------------

constexpr int kScanKeepOrder = 2;

// Reads the entry's directory (recognize + reader), attaches it to
// `entry.directory`, links the members' parents and sorts by name unless
// `flags` has kScanKeepOrder. Null when the content is not a directory.
DirArray* scandir(PackEntry& entry, int flags);

// A root array: head (block kind 2) and the root entry, a file on disk.
struct RootArray {
  DirArray records;
  int64_t filesize = 0;  // the file's size as the services report it (not cut to kMaxPack)
  PackEntry& root() { return records.records[1]; }
};
// Clears `roots` and makes its root the disk file `path` (size measured).
// False when the file does not open.
bool setroot(RootArray& roots, std::string_view path);

// A pack path such as "pack.viv\member\member": the disk file, and the
// members to descend through, outermost first ("\" is the only separator).
struct PackPath {
  std::string file;
  std::vector<std::string> members;
};
// Splits `path` at the longest prefix that is an existing file; nothing when
// no prefix is.
std::optional<PackPath> splitpackpath(std::string_view path);

// A pack opened down to the innermost container that its path names. It
// owns its root, and with it every directory scanned below, so several packs
// may be open at once.
struct OpenedPack {
  enum Status {
    kOpened,
    kCantOpen,       // the file does not open
    kNotScanned,     // the file's content is no directory this program reads
    kNotFound,       // `failed` is not a member of the container before it
    kNotADirectory,  // `failed` is a member, but no directory
    kCorrupt,        // `failed` (a pack path) holds FB-compressed bytes that do not expand
    kTooLarge,       // the file has `filesize` bytes, more than a pack may have
  };
  Status status = kCantOpen;
  std::string failed;                  // the member named in kNotFound and kNotADirectory
  int64_t filesize = 0;                // the disk file's size as the services report it
  std::unique_ptr<RootArray> roots;    // owns everything below
  DirArray* directory = nullptr;       // kOpened: the innermost container's members

  explicit operator bool() const { return status == kOpened; }
};
// Opens `path` (members compared case-insensitively); `flags` as for scandir.
OpenedPack openpack(const PackPath& path, int flags);

// Closes the streams of the members and releases `directory`; with
// `with_parents` the whole chain up to the root.
void freedir(DirArray* directory, bool with_parents);

}  // namespace torvex
