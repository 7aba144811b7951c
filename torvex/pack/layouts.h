// The directory readers of the pack layouts (one file each) and the
// buffered cursor they read a container's directory with.
#pragma once

#include <string>
#include <vector>

#include "packentry.h"

namespace torvex {

std::unique_ptr<DirArray> readbigf(PackEntry& container);
std::unique_ptr<DirArray> readc0fb(PackEntry& container);
std::unique_ptr<DirArray> readfst(PackEntry& container);
std::unique_ptr<DirArray> readmas(PackEntry& container);
std::unique_ptr<DirArray> readapuk(PackEntry& container);
std::unique_ptr<DirArray> readorip(PackEntry& container);
std::unique_ptr<DirArray> readqpp(PackEntry& container);

// Appends a member of a plain pack layout (BIGF, C0FB, FST, MAS, APUK): its
// label is "----", its place in the container as stored.
void addpackmember(DirArray& dir, const PackEntry& container, std::string name, int32_t offset, int32_t size);

// Reads an opened entry's content from a given position through the file
// list, a few kilobytes at a time, so that a directory of thousands of
// members costs a handful of reads. Bytes past the end of the content read
// as 0; `pastend()` tells a reader that its directory has run out of data.
class ListCursor {
 public:
  explicit ListCursor(PackEntry& entry, int32_t position = 0) : entry_(entry), pos_(position) {}

  int64_t pos() const { return pos_; }
  void seek(int64_t position) { pos_ = position; }
  void skip(int64_t n) { pos_ += n; }
  bool pastend() const { return pos_ >= contentsize(); }

  uint8_t u8();
  uint32_t u32le();
  uint32_t u32be();
  uint32_t u24be();
  uint16_t u16le();
  uint16_t u16be();
  // Zero-terminated text, at most `field` bytes (0: no limit but the content).
  std::string text(size_t field = 0);

 private:
  int64_t contentsize() const { return entry_.stream ? entry_.stream->size : 0; }
  void fill();

  PackEntry& entry_;
  int64_t pos_;
  std::vector<uint8_t> buffer_;
  int64_t bufferstart_ = 0;
};

}  // namespace torvex
