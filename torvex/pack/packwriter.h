// Rewriting packs in their own layout: the writers of the three writable
// layouts (BIGF, C0FB, FST), and the machinery that puts a new pack in the
// old one's place without ever leaving the path empty or half written. The
// update and delete commands (torvex/commands) drive it and say what it does.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packentry.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/bytereader.h"
#include "torvex/platform/platform.h"

namespace torvex {

// The layouts the writer can produce; the codes are the program's own.
enum class WriteLayout : int { kNone = -1, kC0fb = 0, kBigf = 1, kFst = 2, kShpiFile = 3 };

// Which layout a pack is rewritten in, by its first bytes: C0FB, BIGF or
// FST; kShpiFile for an SHPI file (its first four bytes "SHPI" in any case),
// which only the replace commands rewrite; else kNone.
WriteLayout writablelayout(const Probe& probe);

// One member of a pack being rewritten.
struct PackItem {
  std::string name;     // as stored
  int32_t offset = -1;  // where the bytes start in the old pack's content; -1: new bytes in `content`
  int32_t size = 0;     // length of the bytes as they will be written
  Block content;        // the new bytes when `offset` is -1
  bool compress = false;  // replaced and added items: FB-compress unless they already are
  bool deleted = false;   // leave the item out when writing
};

// ---- Write plans: pure functions from the item list to bytes -----------------------

// What a layout makes of the items not marked deleted: the header with the
// directory (and its padding), and how the members follow it.
struct PackPlan {
  std::vector<uint8_t> header;
  bool padmembers = false;  // each member padded with zeros to a multiple of 4
  int64_t total = 0;        // length of the whole new pack
  std::string error;        // non-empty: a value the layout's fields cannot hold
};

PackPlan planbigf(std::span<const PackItem> items);
PackPlan planc0fb(std::span<const PackItem> items);
PackPlan planfst(std::span<const PackItem> items);
PackPlan planlayout(WriteLayout layout, std::span<const PackItem> items);

// ---- Stored directories, read for rewriting ----------------------------------------

// The members in stored order (offset and size as stored, `compress` set to
// `mark`). They throw ParseError when the bytes end inside the directory or
// a value is beyond what a pack can hold.
std::vector<PackItem> bigfitems(ByteReader& in, bool mark);
std::vector<PackItem> c0fbitems(ByteReader& in, bool mark);
std::vector<PackItem> fstitems(ByteReader& in);
std::vector<PackItem> readbigfitems(std::span<const uint8_t> content, bool mark);
std::vector<PackItem> readc0fbitems(std::span<const uint8_t> content, bool mark);
std::vector<PackItem> readfstitems(std::span<const uint8_t> content);

// The old pack's content: the disk file itself, or the expanded bytes of a
// pack that is FB-compressed as a whole.
class PackSource {
 public:
  // Takes over an opened root of the file list: a direct root's file is
  // opened again, the expanded bytes of a compressed one are taken over.
  // False when the file does not open.
  bool open(PackEntry& root);
  void close();
  bool compressed() const { return compressed_; }
  int64_t size() const { return size_; }
  // Exactly `out.size()` bytes from `offset`, or false.
  bool read(int64_t offset, std::span<uint8_t> out);

 private:
  File file_;
  Block expanded_;
  bool compressed_ = false;
  int64_t size_ = 0;
};

// A pack opened for rewriting.
struct PackForWrite {
  std::string path;
  WriteLayout layout = WriteLayout::kBigf;
  std::vector<PackItem> items;
  PackSource source;
};

// How opening a pack for rewriting went.
struct PackOpening {
  enum Status {
    kOpened,
    kCantOpen,       // the file does not open
    kNotScanned,     // its content is no directory this program reads
    kShpiFile,       // an SHPI file: the replace commands rewrite those
    kUnsupported,    // a directory the writer has no layout for
    kReadFailed,     // the stored directory could not be read
    kDamaged,        // the stored directory runs past the pack's end
    kOutside,        // `member` claims bytes outside the pack
    kCorrupt,        // FB-compressed as a whole, and its bytes do not expand
    kTooLarge,       // the file has `filesize` bytes, more than a pack may have
  };
  Status status = kOpened;
  std::string member;
  int64_t filesize = 0;  // the file's size as the services report it
};

// Opens `pack`, recognises its layout once and reads its stored directory
// into items, with room for `extra` more.
PackOpening openforwrite(std::string_view pack, size_t extra, PackForWrite& out);

// What the writer does, as it does it, for the command to say.
class PackWriteEvents {
 public:
  virtual ~PackWriteEvents() = default;
  virtual void headerbegins() {}   // the temporary file exists; the header goes in first
  virtual void databegins() {}     // then the members, one by one
  virtual void memberwritten() {}
  virtual void datadone() {}       // every member is written
  virtual void compressing(const FbProgress&) {}  // a compressed pack's real encoder at work
};

// How a rewrite went. Whatever failed, the pack is as it was and the
// temporary file is gone.
struct PackWriteResult {
  enum Status {
    kWritten,
    kRefused,            // `refusal`: a value the layout's fields cannot hold
    kTooLargeToCompress, // a compressed pack of `total` bytes: more than an FB block holds
    kNoTemporaryFile,    // no file could be created under `temporary` or the names after it
    kWriteFailed,        // the disk took fewer bytes than written (full?)
    kReadFailed,         // the old pack's bytes could not be read
    kCompressionFailed,  // `compression` says why
    kRenameFailed,       // `temporary` could not be renamed over the pack
  };
  Status status = kWritten;
  std::string refusal;
  int64_t total = 0;
  std::string temporary;
  FbCompressed compression;
};

// Rewrites the pack from its items through a temporary file that then
// replaces the pack in one step. A pack that was FB-compressed as a whole is
// written back compressed.
PackWriteResult writepack(PackForWrite& pack, PackWriteEvents& events);

// The first name tried for the temporary file of `pack`: the last four
// characters replaced by ".tmp" when they are a dot and three more, else
// ".tmp" appended; then that name with ".1", ".2" ... appended.
std::string temporaryname(std::string_view pack, int attempt = 0);

}  // namespace torvex
