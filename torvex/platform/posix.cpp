// The POSIX backend of the services table. Game data comes from Windows, so
// names are mapped the Windows way (see hostpath.h) and the read-only
// attribute is the owner's write permission.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hostpath.h"
#include "platform.h"
#include "text.h"

namespace torvex {

namespace common {
void fatal(const char* fmt, va_list args);
void message(const char* fmt, va_list args);
void consolewrite(std::string_view text);
void* allocmem(int32_t size);
void freemem(void* pointer);
}  // namespace common

namespace {

// A handle is the descriptor plus one, so that descriptor 0 is not null.
FileHandle tohandle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }
int todescriptor(FileHandle h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

bool isfolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileHandle posixopen(const char* name, int16_t mode) {
  if (!name) return nullptr;
  if (mode != 0) clearreadonly(name);
  const std::string path = hostpath(name);
  const int flags = mode == 0 ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  if (mode == 0 && isfolder(path)) {
    ::close(fd);
    return nullptr;
  }
  return tohandle(fd);
}

void posixclose(FileHandle h) {
  if (h) ::close(todescriptor(h));
}

uint32_t posixwrite(FileHandle h, const void* buffer, uint32_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(todescriptor(h), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

uint32_t posixread(FileHandle h, void* buffer, uint32_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(todescriptor(h), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

int32_t posixseek(FileHandle h, int32_t position, int16_t mode) {
  int whence;
  if (mode == 0)
    whence = SEEK_SET;
  else if (mode == 2)
    whence = SEEK_END;
  else
    fatal("illegal seek mode");
  return static_cast<int32_t>(::lseek(todescriptor(h), position, whence));
}

uint32_t posixsize(FileHandle h) {
  struct stat st;
  if (::fstat(todescriptor(h), &st) != 0) return 0;
  return static_cast<uint32_t>(st.st_size);
}

int16_t posixexists(const char* name) {
  FileHandle h = posixopen(name, 0);  // folders do not open
  if (!h) return 0;
  posixclose(h);
  return 1;
}

int16_t posixrename(const char* oldname, const char* newname) {
  const std::string from = hostpath(oldname);
  const std::string to = hostpath(newname);
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return 0;  // the target must not exist
  return ::rename(from.c_str(), to.c_str()) == 0 ? 1 : 0;
}

int16_t posixdelete(const char* name) {
  clearreadonly(name);
  return ::unlink(hostpath(name).c_str()) == 0 ? 1 : 0;
}

}  // namespace

void installservices() {
  PlatformServices& t = services();
  t.fatal = common::fatal;
  t.message = common::message;
  t.fileopen = posixopen;
  t.fileclose = posixclose;
  t.filewrite = posixwrite;
  t.fileread = posixread;
  t.fileseek = posixseek;
  t.filesize = posixsize;
  t.fileexists = posixexists;
  t.filerename = posixrename;
  t.filedelete = posixdelete;
  t.allocmem = common::allocmem;
  t.freemem = common::freemem;
  t.consolewrite = common::consolewrite;
}

void clearreadonly(const char* name) {
  const std::string path = hostpath(name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_mode & S_IWUSR) return;
  message("'%s': removed read-only flag\n", name);
  ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

// ---- Host extras ------------------------------------------------------------------------

int16_t filereplace(const char* source, const char* target) {
  clearreadonly(target);
  return ::rename(hostpath(source).c_str(), hostpath(target).c_str()) == 0 ? 1 : 0;
}

FileHandle filecreateexclusive(const char* name) {
  const int fd = ::open(hostpath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd < 0 ? nullptr : tohandle(fd);
}

int16_t fileflush(FileHandle handle) { return ::fsync(todescriptor(handle)) == 0 ? 1 : 0; }

int16_t folderexists(const char* name) { return isfolder(hostpath(name)) ? 1 : 0; }

int16_t makefolder(const char* name) {
  const std::string path = hostpath(name);
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && !isfolder(partial)) ::mkdir(partial.c_str(), 0777);
    }
    if (i < path.size()) partial += path[i];
  }
  return isfolder(path) ? 1 : 0;
}

std::string maketempfolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/torvex.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) return {};
  return buf.data();
}

int16_t removefolder(const char* name) { return ::rmdir(hostpath(name).c_str()) == 0 ? 1 : 0; }

// ---- Name mapping -------------------------------------------------------------------------

std::string hostpath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) == 0) return path;

  std::string out;
  size_t i = 0;
  if (path[0] == '/') {
    out = "/";
    i = 1;
  }
  bool searching = true;  // once a component is missing, nothing below it exists
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (searching && !part.empty() && part != "." && part != "..") {
      const std::string exact = out + part;
      if (::lstat(exact.c_str(), &st) != 0) {
        std::string match;
        if (DIR* d = ::opendir(out.empty() ? "." : out.c_str())) {
          while (const dirent* e = ::readdir(d)) {
            // Several entries may differ only in case: take the first in
            // byte order, so that the choice does not depend on the folder.
            if (nameequal(e->d_name, part) && (match.empty() || std::string_view(e->d_name) < match))
              match = e->d_name;
          }
          ::closedir(d);
        }
        if (match.empty())
          searching = false;
        else
          part = match;
      }
    }
    out += part;
    if (j < path.size()) out += '/';
    i = j + 1;
  }
  return out;
}

}  // namespace torvex
