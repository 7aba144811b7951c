// Rewriting packs: the update ("-p", "-p1") and delete ("-d") commands, the
// writers of the three writable layouts and the machinery that puts a new
// pack in the old one's place without ever leaving the path empty or half
// written.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvex/platform/platform.h"

namespace torvex {

// The layouts the writer can produce; the codes are the program's own.
enum class WriteLayout : int { kC0fb = 0, kBigf = 1, kFst = 2 };

// One member of a pack being rewritten.
struct PackItem {
  std::string name;     // as stored
  int32_t offset = -1;  // where the bytes start in the old pack's content; -1: new bytes in `content`
  int32_t size = 0;     // length of the bytes as they will be written
  Block content;        // the new bytes when `offset` is -1
  bool compress = false;  // replaced and added items: FB-compress unless they already are
  bool deleted = false;   // leave the item out when writing
};

// ---- Layout writers: pure functions from the item list to bytes ------------

// What a layout writer makes of the items not marked deleted: the header
// with the directory (and its padding), and how the members follow it.
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

// ---- Reading a stored directory for rewriting ---------------------------------

// The members in stored order (offset and size as stored, `compress` set to
// `mark`). Throw ParseError when the bytes end inside the directory.
std::vector<PackItem> readbigfitems(std::span<const uint8_t> content, bool mark);
std::vector<PackItem> readc0fbitems(std::span<const uint8_t> content, bool mark);
std::vector<PackItem> readfstitems(std::span<const uint8_t> content);

// The old pack's content: the disk file itself, or the expanded bytes of a
// pack that is FB-compressed as a whole.
class PackSource {
 public:
  // False when the file cannot be opened or a compressed pack does not expand.
  bool open(const std::string& path);
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

// Opens `pack`, recognises its layout and reads its stored directory into
// items. False after printing why; fatal for a layout that cannot be
// rewritten or a directory that points outside the pack.
bool openforwrite(std::string_view pack, size_t extra, PackForWrite& out);

// Rewrites the pack from its items through a temporary file that then
// replaces the pack in one step. Fatal on every failure, with the old pack
// left as it was and the temporary file removed.
void writepack(PackForWrite& pack);

// ---- Commands ---------------------------------------------------------------------

// "-p" (compress false) and "-p1" (compress true): replaces members by the
// files of the same name and adds the others at the end. `basedir` may be
// empty; otherwise the pack path is relative to it. True when the pack was
// rewritten; false after a printed failure (fatal errors throw).
bool updatepack(std::string_view basedir, std::string_view pack, std::span<const std::string> files,
                bool compress);

// "-d": removes the named members.
bool deletepack(std::string_view basedir, std::string_view pack, std::span<const std::string> names);

// `basedir`, a "\" unless it is empty or ends in "\" or ":", then `pack`.
std::string joinpackpath(std::string_view basedir, std::string_view pack);

// The first name tried for the temporary file of `pack`: the last four
// characters replaced by ".tmp" when they are a dot and three more, else
// ".tmp" appended.
std::string temporaryname(std::string_view pack);

// The member name of a file path: the text after the last "/", "\" or ":".
std::string_view membername(std::string_view path);

}  // namespace torvex
