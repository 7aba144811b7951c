// Files, pack members and the pictures inside SHPI files, all seen through
// one record (PackEntry) and read through one stream interface (the file
// list: openlist, readlist, seeklist ...). Directory readers turn a
// container's content into a directory array of such records.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// Makes `entry` and every ancestor readable, positions at 0. 1 or 0.
// A null entry is fatal "openlist() zero list". `flags` is not used.
int16_t openlist(PackEntry* entry, int flags);
// Fills `destination` (zero-filled first) with up to `length` bytes from the
// current position and advances it. Fatal "lenght<0" and "seek out of file size".
int16_t readlist(PackEntry& entry, void* destination, int32_t length);
// whence 0: absolute (fatal "seeklist SEEK_SET<0" below 0); 1: relative,
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

// ---- Recognition --------------------------------------------------------------------

// Plausibility tests standing in for a magic number (S = stored size,
// w0/w1 = first and second little-endian words of the content).
bool fsttest(int64_t S, uint32_t w1, uint32_t w0);
bool mastest(int64_t S, uint32_t w1, uint32_t w0);

// The directory reader for the entry's content, or null when it is not a
// directory this program reads.
DirReader recognize(PackEntry& entry);

// The writable layouts of the pack writer.
constexpr int kLayoutNone = -1;
constexpr int kLayoutC0fb = 0;
constexpr int kLayoutBigf = 1;
constexpr int kLayoutFst = 2;
// Which writable layout `entry` has (or kLayoutNone). An SHPI file is fatal
// "'%s' is SHPI file, use -r/-rp to replace images".
int packlayout(PackEntry& entry);

// ---- Directories ----------------------------------------------------------------------

constexpr int kScanKeepOrder = 2;

// Reads the entry's directory (recognize + reader), attaches it to
// `entry.directory`, links the members' parents and sorts by name unless
// `flags` has kScanKeepOrder. Null when the content is not a directory.
DirArray* scandir(PackEntry& entry, int flags);

// A root array: head (block kind 2) and the root entry, a file on disk.
struct RootArray {
  DirArray records;
  PackEntry& root() { return records.records[1]; }
};
// Clears `roots` and makes its root the disk file `path` (size measured).
// False when the file does not open.
bool setroot(RootArray& roots, std::string_view path);

// Opens "pack.viv" or "pack.viv\member\member..." and returns the directory
// of the innermost container named (members compared case-insensitively;
// "\" is the only separator). Null after the reason was reported; a path of
// which no prefix opens is fatal "couldn't open pack file '%s'\n". Uses the
// one root array of the program: one pack open at a time.
DirArray* openpack(std::string_view path, int flags);
// Closes the streams of the members and releases `directory`; with
// `with_parents` the whole chain up to the root.
void freedir(DirArray* directory, bool with_parents);
// Releases what openpack holds (for tests and the end of a command).
void resetpackstate();

// ---- Commands -----------------------------------------------------------------------------

// Converts a picture member's content and saves it as a picture file named
// after the member in save format `format`; 1 done, 0 failed (the saver
// prints the fatal message itself). Supplied by the SHPI library.
using PictureSaver = int16_t (*)(const PackEntry& member, std::span<const uint8_t> content, int format);

// "-l": prints the members of the pack path. 0 done, 1 failed.
int listpack(std::string_view path);
// "-u" and the "-e" family: writes the selected members (all when `names` is
// empty). `picture` 1 converts picture members through `saver`. 0 when every
// selected member was written, 1 otherwise.
int extractpack(std::string_view path, std::span<const std::string> names, int picture, int format,
                PictureSaver saver = nullptr);
// Writes one member's content as a file named after the member (in matching
// subfolders of the current folder). 1 written, 0 refused (message printed).
int16_t writemember(const PackEntry& member, std::span<const uint8_t> content, int picture, int format,
                    PictureSaver saver = nullptr);

}  // namespace torvex
