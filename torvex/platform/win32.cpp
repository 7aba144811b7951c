// The Win32 backend of the services table: the kernel's file services, with
// the read-only attribute handled through Get/SetFileAttributesA.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hostpath.h"
#include "platform.h"

namespace torvex {

namespace common {
void fatal(const char* fmt, va_list args);
void message(const char* fmt, va_list args);
void consolewrite(std::string_view text);
void* allocmem(int32_t size);
void freemem(void* pointer);
}  // namespace common

namespace {

FileHandle tohandle(HANDLE h) { return reinterpret_cast<FileHandle>(h); }
HANDLE tonative(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

bool isfolder(const char* name) {
  const DWORD a = GetFileAttributesA(name);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

FileHandle winopen(const char* name, int16_t mode) {
  if (!name) return nullptr;
  HANDLE h;
  if (mode == 0) {
    h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  } else {
    clearreadonly(name);
    h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return h == INVALID_HANDLE_VALUE ? nullptr : tohandle(h);
}

void winclose(FileHandle h) {
  if (h) CloseHandle(tonative(h));
}

uint32_t winwrite(FileHandle h, const void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!WriteFile(tonative(h), buffer, count, &done, nullptr)) return 0;
  return done;
}

uint32_t winread(FileHandle h, void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!ReadFile(tonative(h), buffer, count, &done, nullptr)) return 0;
  return done;
}

int32_t winseek(FileHandle h, int32_t position, int16_t mode) {
  DWORD method;
  if (mode == 0)
    method = FILE_BEGIN;
  else if (mode == 2)
    method = FILE_END;
  else
    fatal("illegal seek mode");
  return static_cast<int32_t>(SetFilePointer(tonative(h), position, nullptr, method));
}

// A size past 32 bits stays at the largest value, which every caller refuses
// as too large: cut to its low 32 bits it would pass for a small file.
uint32_t winsize(FileHandle h) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(tonative(h), &size)) return 0;
  return size.QuadPart > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(size.QuadPart);
}

int16_t winexists(const char* name) {
  if (isfolder(name)) return 0;
  FileHandle h = winopen(name, 0);
  if (!h) return 0;
  winclose(h);
  return 1;
}

int16_t winrename(const char* oldname, const char* newname) { return std::rename(oldname, newname) == 0 ? 1 : 0; }

int16_t windelete(const char* name) {
  clearreadonly(name);
  return std::remove(name) == 0 ? 1 : 0;
}

}  // namespace

void installservices() {
  PlatformServices& t = services();
  t.fatal = common::fatal;
  t.message = common::message;
  t.fileopen = winopen;
  t.fileclose = winclose;
  t.filewrite = winwrite;
  t.fileread = winread;
  t.fileseek = winseek;
  t.filesize = winsize;
  t.fileexists = winexists;
  t.filerename = winrename;
  t.filedelete = windelete;
  t.allocmem = common::allocmem;
  t.freemem = common::freemem;
  t.consolewrite = common::consolewrite;
}

void clearreadonly(const char* name) {
  const DWORD a = GetFileAttributesA(name);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_READONLY)) return;
  message("'%s': removed read-only flag\n", name);
  SetFileAttributesA(name, a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

namespace {

// What a file replaced keeps besides its bytes: the attributes a user sets
// (read-only is cleared before, and announced).
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The identity of the file at `name`; with `follow` false, of a link at it.
bool fileidentity(const char* name, bool follow, BY_HANDLE_FILE_INFORMATION& info) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return ok && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// Windows finds names in any letter case: both matches name the same file.
int16_t filereplace(const char* source, const char* target, NameMatch /*match*/) {
  // Only a file is made writable and passes its attributes on, never a link
  // (as on POSIX, where a link is replaced as it is).
  const DWORD old = GetFileAttributesA(target);
  const bool file =
      old != INVALID_FILE_ATTRIBUTES && !(old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  if (file) clearreadonly(target);
  if (file && (old & kKeptAttributes)) SetFileAttributesA(source, old & kKeptAttributes);
  // MoveFileEx replaces a link at `target` itself, never what it points to.
  return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int16_t writereplaces(const char* name, const char* other) {
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (!fileidentity(name, false, a) || !fileidentity(other, true, b)) return 0;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                 a.nFileIndexLow == b.nFileIndexLow
             ? 1
             : 0;
}

FileHandle filecreateexclusive(const char* name) {
  // CREATE_NEW fails on any existing name, a link's included.
  HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : tohandle(h);
}

int16_t fileflush(FileHandle handle) { return FlushFileBuffers(tonative(handle)) ? 1 : 0; }

int16_t folderexists(const char* name) { return isfolder(name) ? 1 : 0; }

int16_t makefolder(const char* name) {
  std::string path(name);
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      const std::string partial = path.substr(0, i);
      if (!partial.empty() && partial.back() != ':' && !isfolder(partial.c_str()))
        CreateDirectoryA(partial.c_str(), nullptr);
    }
  }
  return isfolder(name) ? 1 : 0;
}

std::string maketempfolder() {
  char base[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) return {};
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = format("%storvex.%lu.%lu", base, static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetTickCount() + attempt));
    if (CreateDirectoryA(name.c_str(), nullptr)) return name;
  }
  return {};
}

int16_t removefolder(const char* name) { return RemoveDirectoryA(name) ? 1 : 0; }

// Windows finds names in any case and takes either separator as they are.
std::string hostpath(std::string_view name) { return std::string(name); }
std::string hostcreatepath(std::string_view name) { return std::string(name); }

}  // namespace torvex
