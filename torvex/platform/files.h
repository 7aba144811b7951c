// Whole files: reading one into memory, and putting new bytes in the place
// of a file in one step. Built on the services table and the host extras, so
// every host gets them alike.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "limits.h"
#include "platform.h"

namespace torvex {

// A file read whole.
struct WholeFile {
  enum Status { kRead, kCantOpen, kTooLarge, kShortRead };
  Status status = kCantOpen;
  // kRead: every byte (a Block of size 0 for an empty file). kShortRead: the
  // bytes that could be read before the file ended early.
  Block bytes;
  int64_t size = 0;  // the file's size as the system gives it (not for kCantOpen)
};

// Reads the file `name` into a new Block. A file of more than `limit` bytes
// is not read (kTooLarge).
WholeFile readwholefile(const char* name, int64_t limit = kMaxBlock);

// The size of a file as a text: "N bytes", or "4 GiB or more" for the size
// the services report for every file past 32 bits.
std::string sizetext(int64_t size);
// The line that refuses a file of `size` bytes, more than the `limit` the
// program reads: "file '%s' is too large (...)".
std::string toolargetext(const char* name, int64_t size, int64_t limit);

// New bytes for a file, written to a file of their own beside it and put in
// its place in one step (pushed to the disk, then renamed over it) only once
// complete: the target holds either all of its old bytes or all of the new
// ones, whatever happens in between. The new file is created only under a
// name that no file has, so nothing of the user's is ever overwritten, and
// it is removed again unless it took the target's place.
class ReplacingFile {
 public:
  enum class Commit { kDone, kFlushFailed, kRenameFailed };

  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();

  // Creates the file under the first of the names `nameof(0)`,
  // `nameof(1)` ... `nameof(attempts - 1)` that nothing has taken. Stops
  // early when a name is free and still cannot be created (the folder does
  // not take new files). False when no name worked.
  bool create(const std::function<std::string(int attempt)>& nameof, int attempts);
  const std::string& name() const { return name_; }

  // False when not every byte could be written (a full disk).
  bool write(std::span<const uint8_t> bytes);
  // Pushes the file to the disk, closes it and renames it over `target`
  // (see filereplace for what the file replaced keeps).
  Commit commit(const char* target, NameMatch match = NameMatch::kAnyCase);

 private:
  File file_;
  std::string name_;
  bool placed_ = false;
};

// Writes `bytes` as the file `name`, exactly that name (NameMatch::kExact)
// for a file the program creates, or an existing file found in any letter
// case (NameMatch::kAnyCase) for one it updates. It is the way every such
// file is written: into a ReplacingFile
// beside it (named "<name>.0.tmp" and on) that takes the name only when
// complete. A write that fails half-way (a full disk) or a process that is
// ended leaves no half-written file under the name and an earlier file of
// the name as it was; a link at the name is replaced, never written
// through; a file replaced keeps its mode bits, and a read-only one is made
// writable (announced) as fileopen does.
enum class FileWrite { kWritten, kCantCreate, kWriteFailed };
FileWrite writefile(const char* name, std::span<const uint8_t> bytes, NameMatch match = NameMatch::kExact);

}  // namespace torvex
