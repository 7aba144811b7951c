// The POSIX backend of the services table. Game data comes from Windows, so
// names are mapped the Windows way (see hostpath.h) and the read-only
// attribute is the owner's write permission.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <memory>
#include <unordered_map>
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
void* stampblock(void* base, int32_t size);
void* blockbase(void* pointer, uint32_t& size);
}  // namespace common

void notecreated(const std::string& path);
void noteremoved(const std::string& path);

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
  if (mode != 0) notecreated(path);
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
  // Past 32 bits: the largest value, which callers refuse, not the low bits.
  return st.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(st.st_size);
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
  if (::rename(from.c_str(), to.c_str()) != 0) return 0;
  noteremoved(from);
  notecreated(to);
  return 1;
}

int16_t posixdelete(const char* name) {
  clearreadonly(name);
  const std::string path = hostpath(name);
  if (::unlink(path.c_str()) != 0) return 0;
  noteremoved(path);
  return 1;
}

// Large blocks (whole files, expanded packs) are mapped directly with their
// pages made present in one call: the kernel's zero pages come filled in
// bulk instead of one page fault at a time, which on big files costs as much
// as decoding them.
constexpr int32_t kMappedBlock = 1 << 20;

void* posixallocmem(int32_t size) {
  if (size < kMappedBlock) return common::allocmem(size);
  const size_t length = static_cast<size_t>(size) + 8;
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return common::stampblock(nullptr, size);
  ::madvise(base, length, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  ::madvise(base, length, MADV_POPULATE_WRITE);
#endif
  return common::stampblock(base, size);
}

void posixfreemem(void* pointer) {
  if (!pointer) return;
  uint32_t size;
  void* base = common::blockbase(pointer, size);
  if (size >= static_cast<uint32_t>(kMappedBlock))
    ::munmap(base, static_cast<size_t>(size) + 8);
  else
    std::free(base);
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
  t.allocmem = posixallocmem;
  t.freemem = posixfreemem;
  t.consolewrite = common::consolewrite;
}

namespace {

// The read-only removal on a name already mapped to the host's: a file
// only, never what a link points to.
void clearreadonlyat(const std::string& path, const char* shown) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_mode & S_IWUSR) return;
  message("'%s': removed read-only flag\n", shown);
  ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

// A new file about to take the place of `target` gets the target's owner
// (where this process may give it) and then its permission bits: a private
// file stays private, a shared one shared. The owner goes first, as changing
// it may clear mode bits. Nothing is taken from a link or from a name that
// holds no file.
void takeattributes(const std::string& source, const std::string& target) {
  struct stat old;
  if (::lstat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return;
  struct stat fresh;
  if (::lstat(source.c_str(), &fresh) != 0) return;
  if (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) {
    if (::lchown(source.c_str(), old.st_uid, old.st_gid) != 0) {
      // Not ours to give away: the group alone may still be ours to keep.
      [[maybe_unused]] const int ignored = ::lchown(source.c_str(), static_cast<uid_t>(-1), old.st_gid);
    }
  }
  ::chmod(source.c_str(), old.st_mode & 0777);
}

}  // namespace

void clearreadonly(const char* name) { clearreadonlyat(hostpath(name), name); }

// ---- Host extras ------------------------------------------------------------------------

int16_t filereplace(const char* source, const char* target, NameMatch match) {
  const std::string from = hostpath(source);
  const std::string to = match == NameMatch::kExact ? hostcreatepath(target) : hostpath(target);
  clearreadonlyat(to, target);
  takeattributes(from, to);
  // rename() replaces a link at `to` itself and never writes through it.
  if (::rename(from.c_str(), to.c_str()) != 0) return 0;
  noteremoved(from);
  notecreated(to);
  return 1;
}

int16_t writereplaces(const char* name, const char* other) {
  struct stat written;
  struct stat existing;
  if (::lstat(hostcreatepath(name).c_str(), &written) != 0 || !S_ISREG(written.st_mode)) return 0;
  if (::stat(hostpath(other).c_str(), &existing) != 0) return 0;
  return written.st_dev == existing.st_dev && written.st_ino == existing.st_ino ? 1 : 0;
}

FileHandle filecreateexclusive(const char* name) {
  const std::string path = hostcreatepath(name);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  notecreated(path);
  return tohandle(fd);
}

int16_t fileflush(FileHandle handle) { return ::fsync(todescriptor(handle)) == 0 ? 1 : 0; }

int16_t folderexists(const char* name) { return isfolder(hostpath(name)) ? 1 : 0; }

int16_t makefolder(const char* name) {
  const std::string path = hostpath(name);
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && !isfolder(partial) && ::mkdir(partial.c_str(), 0777) == 0) notecreated(partial);
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

int16_t removefolder(const char* name) {
  const std::string path = hostpath(name);
  if (::rmdir(path.c_str()) != 0) return 0;
  noteremoved(path);
  return 1;
}

// ---- Name mapping -------------------------------------------------------------------------

namespace {

// What a folder held when it was last read, so that creating many files in
// one folder (unpacking a pack) does not read the folder once per file. A
// listing is used only for large folders (small ones are cheap to read
// again), only while the folder's change time is the one seen when it was
// read, and only when that time was well in the past at the reading: file
// times advance in coarse ticks, so a change made in the same tick as the
// reading would not show. Files this process creates are added to the
// listing as they appear, and such a change confirms it.
struct FolderListing {
  timespec changed{};
  ino_t inode = 0;
  dev_t device = 0;
  bool confirmed = false;
  std::unordered_map<std::string, std::string> byfolded;  // folded name -> first spelling in byte order
};

bool wellpast(const timespec& t) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long long ms = (now.tv_sec - t.tv_sec) * 1000LL + (now.tv_nsec - t.tv_nsec) / 1000000;
  return ms >= 50;
}

// Never destroyed: names are still looked up while the process ends (an
// exit handler deleting its temporary files), after function-local statics
// made later than that handler's registration are gone.
std::unordered_map<std::string, FolderListing>& listings() {
  static auto* const cache = std::make_unique<std::unordered_map<std::string, FolderListing>>().release();
  return *cache;
}

std::string folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = lowerascii(c);
  return out;
}

void addname(FolderListing& listing, const std::string& name) {
  auto [it, added] = listing.byfolded.emplace(folded(name), name);
  if (!added && name < it->second) it->second = name;
}

bool samestamp(const FolderListing& l, const struct stat& st) {
  return l.confirmed && l.inode == st.st_ino && l.device == st.st_dev && l.changed.tv_sec == st.st_mtim.tv_sec &&
         l.changed.tv_nsec == st.st_mtim.tv_nsec;
}

// The entry of `folder` that matches `part` ignoring case, or "".
std::string findentry(const std::string& folder, const std::string& part) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return {};
  FolderListing& listing = listings()[folder];
  if (!samestamp(listing, st) || listing.byfolded.size() < 64) {
    listing = FolderListing{};
    listing.changed = st.st_mtim;
    listing.inode = st.st_ino;
    listing.device = st.st_dev;
    listing.confirmed = wellpast(st.st_mtim);
    if (DIR* d = ::opendir(folder.c_str())) {
      while (const dirent* e = ::readdir(d)) addname(listing, e->d_name);
      ::closedir(d);
    }
  }
  const auto it = listing.byfolded.find(folded(part));
  return it == listing.byfolded.end() ? std::string{} : it->second;
}

void splitpath(const std::string& path, std::string& folder, std::string& leaf) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  leaf = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void notecreated(const std::string& path) {
  std::string folder, leaf;
  splitpath(path, folder, leaf);
  const auto it = listings().find(folder);
  if (it == listings().end()) return;
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) {
    listings().erase(it);
    return;
  }
  addname(it->second, leaf);
  it->second.changed = st.st_mtim;
  it->second.confirmed = true;
}

void noteremoved(const std::string& path) {
  std::string folder, leaf;
  splitpath(path, folder, leaf);
  listings().erase(folder);
}

std::string hostcreatepath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  const std::string leaf = path.substr(slash + 1);
  if (slash == 0) return "/" + leaf;
  return hostpath(std::string_view(path).substr(0, slash)) + "/" + leaf;
}

std::string hostpath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) == 0) return path;

  std::string out;
  size_t i = 0;
  if (path[0] == '/') {
    out.push_back('/');
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
        // Several entries may differ only in case: the first in byte order
        // is taken, so that the choice does not depend on the folder's order.
        std::string match = findentry(out.empty() ? "." : (out == "/" ? out : out.substr(0, out.size() - 1)), part);
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
