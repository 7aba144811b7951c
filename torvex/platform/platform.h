// The services table through which all of torvex reaches memory, files and
// the console. The entry point installs the backend of the host system
// (POSIX or Win32) before anything else runs; tests may replace single
// operations (for instance the console writer) to observe them.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace torvex {

struct OsFile;                // opaque, defined by the backend
using FileHandle = OsFile*;   // null on failure

struct PlatformServices {
  // Prints the framed "Fatal Error" text and ends the command: it never
  // returns (it throws FatalError, which main turns into exit status 1).
  void (*fatal)(const char* format, va_list args);
  void (*message)(const char* format, va_list args);
  FileHandle (*fileopen)(const char* name, int16_t mode);  // 0 read, else write
  void (*fileclose)(FileHandle handle);
  uint32_t (*filewrite)(FileHandle handle, const void* buffer, uint32_t count);
  uint32_t (*fileread)(FileHandle handle, void* buffer, uint32_t count);
  int32_t (*fileseek)(FileHandle handle, int32_t position, int16_t mode);
  uint32_t (*filesize)(FileHandle handle);
  int16_t (*fileexists)(const char* name);
  int16_t (*filerename)(const char* oldname, const char* newname);
  int16_t (*filedelete)(const char* name);
  void* (*allocmem)(int32_t size);
  void (*freemem)(void* pointer);
  // Where every console line ends up (standard output by default).
  void (*consolewrite)(std::string_view text);
};

// The process-wide table, filled by installservices() at start-up.
PlatformServices& services();
void installservices();  // the host backend (POSIX here, Win32 on Windows)

// Thrown by fatal() after its text is printed; caught once, in main.
struct FatalError {
  std::string text;
};

// ---- Calls through the table ------------------------------------------------

[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats once and hands the result to message() as its text.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline void* allocmem(int32_t size) { return services().allocmem(size); }
inline void freemem(void* pointer) { services().freemem(pointer); }

inline FileHandle fileopen(const char* name, int16_t mode) { return services().fileopen(name, mode); }
inline void fileclose(FileHandle handle) { services().fileclose(handle); }
inline uint32_t filewrite(FileHandle handle, const void* buffer, uint32_t count) {
  return services().filewrite(handle, buffer, count);
}
inline uint32_t fileread(FileHandle handle, void* buffer, uint32_t count) {
  return services().fileread(handle, buffer, count);
}
inline int32_t fileseek(FileHandle handle, int32_t position, int16_t mode) {
  return services().fileseek(handle, position, mode);
}
inline uint32_t filesize(FileHandle handle) { return services().filesize(handle); }
inline int16_t fileexists(const char* name) { return services().fileexists(name); }
inline int16_t filerename(const char* oldname, const char* newname) { return services().filerename(oldname, newname); }
inline int16_t filedelete(const char* name) { return services().filedelete(name); }

// ---- Text formatting helpers --------------------------------------------------

// printf into a string of any length.
std::string vformat(const char* format, va_list args);
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The second pass of message(): "%%" becomes "%", everything else stays.
// It never reads arguments, so a name holding "%s" prints as it is.
std::string collapsepercent(std::string_view text);

// ---- Owning handles -------------------------------------------------------------

struct FreeMem {
  void operator()(void* p) const noexcept { freemem(p); }
};
template <class T>
using MemPtr = std::unique_ptr<T, FreeMem>;
using Bytes = MemPtr<uint8_t[]>;

// A zero-filled byte buffer from allocmem, with the count of bytes in use.
struct Block {
  Bytes data;
  int32_t size = 0;

  explicit operator bool() const { return data != nullptr; }
  uint8_t* get() const { return data.get(); }
  std::span<const uint8_t> span() const { return {data.get(), static_cast<size_t>(size)}; }
  std::span<uint8_t> mutablespan() const { return {data.get(), static_cast<size_t>(size)}; }
};

// allocmem of `size` bytes (fatal when it cannot be had), as a Block of that size.
Block allocblock(int32_t size);
// A copy of `bytes` in a new Block.
Block copyblock(std::span<const uint8_t> bytes);

class File {
 public:
  File() = default;
  explicit File(FileHandle handle) : handle_(handle) {}
  File(const char* name, int16_t mode) : handle_(fileopen(name, mode)) {}
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  explicit operator bool() const { return handle_ != nullptr; }
  FileHandle get() const { return handle_; }
  void close() {
    if (handle_) fileclose(handle_);
    handle_ = nullptr;
  }
  uint32_t read(void* buffer, uint32_t count) const { return fileread(handle_, buffer, count); }
  uint32_t write(const void* buffer, uint32_t count) const { return filewrite(handle_, buffer, count); }
  bool writeall(std::span<const uint8_t> bytes) const;
  int32_t seek(int32_t position, int16_t mode) const { return fileseek(handle_, position, mode); }
  uint32_t size() const { return filesize(handle_); }

 private:
  FileHandle handle_ = nullptr;
};

// ---- Helpers outside the table ----------------------------------------------------

// Clears a read-only attribute (and says so); a missing file is ignored.
void clearreadonly(const char* name);
// The whole file, or a null Block when it cannot be opened or is empty.
Block loadfile(const char* name);
const char* versiontext();
// The build date "16.11.2001"; the out-arguments may be null.
const char* builddate(int* day, int* month, int* year);

// ---- Host extras used where an operation needs more than the table offers ----------

// Which file a name stands for where it is to be replaced. A file that is
// updated (a pack, an SHPI file being rebuilt) is the existing one, found in
// any letter case; a file that is created (an unpacked member, a picture, a
// destination) gets exactly the name given, so that two names that differ
// only in case stay two files wherever the file system tells them apart.
enum class NameMatch { kAnyCase, kExact };

// Replaces `target` by `source` in one step (rename over an existing file),
// after the caller has flushed `source`. The file replaced keeps what it had
// apart from its bytes: its mode bits (after the read-only removal that is
// announced here) and, where the system allows, its owner; on Windows its
// other attributes. A link at `target` is replaced, never followed. 1 on
// success.
int16_t filereplace(const char* source, const char* target, NameMatch match = NameMatch::kAnyCase);
// 1 when writing the file `name` under its exact name (as writefile does)
// would replace the existing file `other`: the two are one file on the
// disk, as on a file system that does not tell letter case apart. A link at
// `name` is itself, not what it points to, since writing replaces it.
int16_t writereplaces(const char* name, const char* other);
// Creates `name` (exactly that name) for writing only if nothing of that
// name exists; a link at the name is not followed.
FileHandle filecreateexclusive(const char* name);
// Pushes written data of an open file to the disk.
int16_t fileflush(FileHandle handle);
// Makes a folder (and its parents); 1 when it exists afterwards.
int16_t makefolder(const char* name);
// 1 when `name` is an existing folder.
int16_t folderexists(const char* name);
// The name of a new, empty private folder, or "" on failure.
std::string maketempfolder();
// Removes an empty folder.
int16_t removefolder(const char* name);

}  // namespace torvex
