// Patches: a BIGF pack of BIGF packs that carries only what differs between
// a working copy of the game's files and a reference copy, with a message
// for the user as its last member "#README.TXT". Making one compares the
// files member by member (SHPI members picture by picture); applying one
// puts the members and pictures it carries into the game's files. The
// commands layer drives both and prints what they report.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvex/pack/packentry.h"
#include "torvex/pack/packwriter.h"
#include "torvex/platform/platform.h"

namespace torvex {

// ---- The patch-info file ----------------------------------------------------------

// Reads the lines of a patch-info text. A line ends at any run of CR and LF
// characters; empty lines vanish, and lines that begin with ";" or "#" are
// comments, skipped wherever they stand. The text ends at its first NUL.
struct InfoCursor {
  std::string_view text;
  size_t pos = 0;
};
// The next line, or nothing at the end of the text.
std::optional<std::string_view> nextinfoline(InfoCursor& cursor);

// Everything up to the first "!message" line is skipped; the lines up to
// the next one are the message, joined without separator; every further
// line names a file to compare. `ok` is false when a "!message" is missing.
struct PatchInfo {
  bool ok = false;
  std::string message;
  std::vector<std::string> files;
};
PatchInfo readpatchinfo(std::string_view text);

// The file `name` under `folder`: a separator goes between them unless the
// folder is empty or already ends in "\", "/" or ":".
std::string underfolder(std::string_view folder, std::string_view name);

// A member's path for messages: its containers' names and its own, joined
// with "\" (".\pack.viv\pics.fsh" for a member of a listed file).
std::string memberpath(const PackEntry& member);

// ---- Making a patch ------------------------------------------------------------------

// What making a patch does, as it does it, for the command to say.
class PatchEvents {
 public:
  virtual ~PatchEvents() = default;
  virtual void scanning(const std::string& /*working*/) {}
  // A member (or the partial SHPI of one) went into the patch.
  virtual void kept(const std::string& /*memberpath*/, int64_t /*length*/) {}
  virtual void creating(const std::string& /*pack*/, int64_t /*entries*/) {}
  virtual void created() {}
};

// One entry waiting to go into a patch pack: a temporary file of ours (or
// the message) and the name it gets in the pack.
struct PendingEntry {
  std::string name;
  std::string file;       // empty for the message
  bool message = false;   // the "#README.TXT" entry
};

// The state of one run of the patch maker: the counter of the members'
// temporary files and every temporary file still on the disk. Each is
// created only under a name no file has, and whatever is left when the run
// ends, however it ends, is removed.
class PatchSession {
 public:
  explicit PatchSession(PatchEvents& events) : events_(events) {}
  PatchSession(const PatchSession&) = delete;
  PatchSession& operator=(const PatchSession&) = delete;
  ~PatchSession();

  PatchEvents& events() { return events_; }
  // Creates `name` for writing unless a file of that name exists; the
  // session removes it unless it is forgotten first.
  FileHandle createtemporary(const std::string& name);
  // Removes a temporary file of the session now.
  void removetemporary(const std::string& name);
  // The temporary file's name for a kept member (its own name with folder
  // separators and drive colons made "_", so that it lies in the current
  // folder, then "#", the counter in four hexadecimal digits and ".tmp").
  std::string keptname(std::string_view member);
  int keptcounter = 0;

 private:
  PatchEvents& events_;
  std::vector<std::string> temporaries_;
};

// How a step of the patch maker ended. The first group are the failures of
// one listed file (the command says so and goes on with the next); the
// others end the command.
struct PatchStep {
  enum Status {
    kDone,
    kCantOpen,          // the working file
    kTooSmall,          // 99 bytes or less
    kNotPack,           // neither BIGF, C0FB nor 10 FB
    kCantLoadWorking,   // the working file's directory
    kCantLoadReference, // the reference file does not open
    kCantScanReference, // its directory does not read
    kCantReadMember,    // `name`: a member whose content does not read (a corrupt FB stream)
    // Ending the command:
    kShpiMismatch,      // `name` is an SHPI file, `other` is not
    kCantCreate,        // `name` could not be created
    kCantReopen,        // the temporary file `name` could not be read back
    kWriteFailed,       // writing `name` failed (a full disk?)
    kRenameFailed,      // `other` could not take the place of `name`
    kTooLarge,          // `name`: the pack's fields cannot hold it (`other` says why)
  };
  Status status = kDone;
  std::string name;
  std::string other;
  int64_t count = 0;    // comparepack: members present in both files whose contents differ
  bool written = false; // a pack was written
};

// Whether the status ends the command.
inline bool endscommand(PatchStep::Status s) { return s >= PatchStep::kShpiMismatch; }

// The partial SHPI of a member: the working member's first 16 bytes, then
// per kept picture a directory entry and its bytes.
struct PartialShpi {
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
  uint32_t datalength = 0;
};
// Starts a partial SHPI from the working member's first 16 bytes.
PartialShpi startpartial(std::span<const uint8_t> working);
// Adds one picture: the existing data moves up by 8 bytes and the directory
// offsets with it; the new entry points after the existing data.
void appendshpiimage(PartialShpi& partial, std::string_view name, std::span<const uint8_t> data);

// Writes `data` to a new temporary file for the member `name` and appends
// it to `pending`.
PatchStep writekept(PatchSession& session, const std::string& memberpath, std::string_view name,
                    std::span<const uint8_t> data, std::vector<PendingEntry>& pending);

// Compares the pictures of two SHPI members (the working one's content is
// `workingdata`) and keeps a partial SHPI of those that differ or are new.
PatchStep compareshpi(PatchSession& session, PackEntry& working, PackEntry& reference,
                      std::span<const uint8_t> workingdata, std::vector<PendingEntry>& pending);

// Compares one listed file with its reference copy and writes the pack of
// its kept members to `temppack`.
PatchStep comparepack(PatchSession& session, const std::string& working, const std::string& reference,
                      const std::string& temppack);

// The directory of a patch pack: a BIGF header whose entries record their
// exact lengths while their data is padded to 4 bytes, and whose total is
// the end of the last entry's data (the message's padding not counted).
struct PatchPlan {
  std::vector<uint8_t> header;
  int64_t total = 0;
  std::string error;  // non-empty: the pack's fields cannot hold it
};
// `sizes[i]` is the length of entry i; the message, when there is one, is last.
PatchPlan planpatchpack(std::span<const std::string> names, std::span<const int64_t> sizes, bool endswithmessage);

// Builds a patch pack from `pending`. Per-file packs (no message) are new
// temporary files; the patch itself (`message` given) is written beside its
// name and takes its place when complete. Nothing is written when there is
// no entry, or when the message would be the only one; `written` tells.
PatchStep writepatchpack(PatchSession& session, const std::string& pack, const std::vector<PendingEntry>& pending,
                         const std::optional<std::string>& message);

// ---- Reading a patch --------------------------------------------------------------------

struct PatchMember {
  std::string name;
  std::span<const uint8_t> bytes;  // inside PatchContents::bytes
};
struct PatchTarget {
  std::string name;  // the listed file, relative to the game folder
  std::vector<PatchMember> members;
};

struct PatchContents {
  enum Status { kRead, kCantOpen, kDamaged };
  Status status = kRead;
  std::string damage;  // kDamaged: what is wrong
  Block bytes;
  std::optional<std::string> message;
  std::vector<PatchTarget> targets;
};

// One picture of an SHPI file: its directory name and its record's bytes.
struct PatchPicture {
  std::string name;
  Block bytes;
};
// The pictures of a member of the patch that is an SHPI file (a partial
// one), in stored order; nothing when it does not read as one.
std::optional<std::vector<PatchPicture>> partialpictures(const PatchMember& member);

// The patch's entries and the members of each per-file pack, every one of
// them checked to lie inside its pack, each listed file inside the game
// folder and listed once.
PatchContents parsepatch(Block bytes);
PatchContents readpatch(const char* file);

// ---- Applying a patch ------------------------------------------------------------------

// One line of what a target's rewrite will do.
struct PatchNote {
  enum Kind { kReplaced, kAdded, kPictureReplaced, kPictureAdded };
  Kind kind = kReplaced;
  std::string member;
  std::string picture;
};

// A target file, read and prepared for its rewrite; nothing is written yet.
struct TargetPlan {
  enum Status {
    kReady,
    kCantOpen,       // the file is not there
    kTooSmall,       // 99 bytes or less
    kNotPack,        // neither BIGF, C0FB nor 10 FB
    kCantLoad,       // its directory does not read
    kUnsupported,    // a directory the pack writer cannot write
    kCantReadMember, // `detail`: a member whose content does not read
    kDamagedPatch,   // `detail`: a partial SHPI of the patch does not read
    kTooLarge,       // `detail`: a member or file would grow beyond what its fields hold
  };
  Status status = kReady;
  std::string detail;
  std::string path;
  bool shpifile = false;
  // A pack: its items, the patched ones with their new expanded bytes in
  // `content`, `compress` set where they are to be written back compressed.
  PackForWrite pack;
  // An SHPI file: the new file's bytes, expanded; compressed when written
  // if `compress`.
  Block shpi;
  bool compress = false;
  std::vector<PatchNote> notes;
};
TargetPlan plantarget(const std::string& path, const PatchTarget& target);

}  // namespace torvex
