// The launcher's backend on POSIX systems. The resources are a table
// linked into the executable; dialogs and message boxes are printed to
// standard error; the watch is a thread that takes SIGTERM, SIGHUP and
// SIGINT and ends the child; runtimes are found on PATH with or without
// their ".exe"; the runtime command is split with the Windows quoting rules.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "quorvanta/backend/embedded.h"
#include "quorvanta/core/backend.h"
#include "quorvanta/core/cmdline.h"

extern char** environ;

namespace quorvanta {

namespace {

thread_local uint32_t lastErrorCode = 0;

void fail(int error) { lastErrorCode = static_cast<uint32_t>(error); }

// Windows line ends of the dialog texts become the terminal's.
std::string terminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Without a record there is no caption to show.
std::string captionLine(const std::string& caption) { return caption.empty() ? "" : "[" + caption + "]\n"; }

void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

bool executableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool endsWithExe(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'e' && (tail[2] | 0x20) == 'x' && (tail[3] | 0x20) == 'e';
}

// The program the runtime command names: as written, or without its
// ".exe", in each folder of PATH in turn (a name with a "/" is used as it
// is). Empty when there is none.
std::string findProgram(const std::string& name) {
  std::vector<std::string> names{name};
  if (endsWithExe(name)) names.push_back(name.substr(0, name.size() - 4));
  if (name.find('/') != std::string::npos) {
    for (const std::string& n : names)
      if (executableFile(n)) return n;
    return {};
  }
  const char* path = std::getenv("PATH");
  const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    // (An empty element is the current folder. Built in one expression: GCC
    // 12 at -O3 reports a false overlap for assigning "." afterwards.)
    const std::string folder = end == start ? std::string(".") : folders.substr(start, end - start);
    for (const std::string& n : names) {
      const std::string candidate = folder + "/" + n;
      if (executableFile(candidate)) return candidate;
    }
    if (end == folders.size()) return {};
    start = end + 1;
  }
}

sigset_t watchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGINT);
  return set;
}

// The watch: takes the stop signals for the whole launcher and ends the
// child on each. It runs until the process ends.
void watchThread(sigset_t signals, std::function<void()> onSessionEnd) {
  for (;;) {
    int signal = 0;
    if (::sigwait(&signals, &signal) == 0) onSessionEnd();
  }
}

class PosixBackend final : public Backend {
 public:
  PathStyle pathStyle() const override { return PathStyle::posix; }
  uint32_t lastError() const override { return lastErrorCode; }

  void setFailure(Failure failure) override {
    switch (failure) {
      case Failure::tooLarge:
        return fail(EFBIG);
      case Failure::noMemory:
        return fail(ENOMEM);
      case Failure::badName:
        return fail(EINVAL);
    }
  }

  std::optional<std::span<const uint8_t>> findResource(uint16_t id) override {
    for (size_t i = 0; i < kEmbeddedResourceCount; ++i)
      if (kEmbeddedResources[i].id == id) return std::span(kEmbeddedResources[i].data, kEmbeddedResources[i].size);
    fail(ENOENT);
    return std::nullopt;
  }

  std::optional<std::string> tempDirectory() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string root = tmp && *tmp ? tmp : "/tmp";
    // The folder goes into the runtime command between double quotes.
    if (root.find('"') != std::string::npos) {
      fail(EINVAL);
      return std::nullopt;
    }
    if (root.back() != '/') root += '/';
    return root;
  }

  uint32_t tickCount() override {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000);
  }

  DirectoryResult createPrivateDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0700) == 0) return DirectoryResult::created;
    fail(errno);
    return errno == EEXIST ? DirectoryResult::exists : DirectoryResult::failed;
  }

  bool fileExists(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return true;
    fail(errno);
    return false;
  }

  bool deleteFile(const std::string& path) override { return ::unlink(path.c_str()) == 0 || (fail(errno), false); }
  bool removeDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0 || (fail(errno), false); }

  bool writeNewFile(const std::string& path, std::span<const uint8_t> bytes) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return fail(errno), false;
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fail(n < 0 ? errno : EIO);
        ::close(fd);
        return false;
      }
      done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) return fail(errno), false;
    return true;
  }

  FileRead readFile(const std::string& path) override {
    FileRead result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      fail(errno);
      if (fd >= 0) ::close(fd);
      return result;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    try {
      result.bytes.resize(size);
    } catch (const std::bad_alloc&) {
      ::close(fd);
      fail(ENOMEM);
      result.status = FileRead::noMemory;
      return result;
    }
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::read(fd, result.bytes.data() + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
    result.bytes.resize(done);
    result.status = done == size ? FileRead::ok : FileRead::shortRead;
    return result;
  }

  std::optional<std::string> getEnvironment(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    if (!value) return fail(ENOENT), std::nullopt;
    return std::string(value);
  }

  bool setEnvironment(const std::string& name, const std::string& value) override {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0 || (fail(errno), false);
  }

  std::optional<std::string> modulePath() override {
    std::string buf(256, '\0');
    for (;;) {
      const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
      if (n < 0) return fail(errno), std::nullopt;
      if (static_cast<size_t>(n) < buf.size()) return buf.substr(0, static_cast<size_t>(n));
      buf.resize(buf.size() * 2);
    }
  }

  std::optional<ProcessHandle> startProcess(const std::string& commandLine) override {
    const std::vector<std::string> words = splitCommandLine(commandLine);
    const std::string program = words.empty() ? std::string() : findProgram(words[0]);
    if (program.empty()) return fail(ENOENT), std::nullopt;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (size_t i = 1; i < words.size(); ++i) argv.push_back(const_cast<char*>(words[i].c_str()));
    argv.push_back(nullptr);

    // The launcher keeps the watched signals blocked for its watch thread;
    // the runtime starts with them unblocked and at their defaults.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    const sigset_t watched = watchedSignals();
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &watched);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (error != 0) return fail(error), std::nullopt;
    ProcessHandle handle;
    handle.process = pid;
    return handle;
  }

  bool waitProcess(const ProcessHandle& process) override {
    // WNOWAIT leaves the child unreaped, so its pid cannot be reused
    // before closeProcess under the launcher's lock.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(process.process), &info, WEXITED | WNOWAIT) != 0) {
      if (errno != EINTR) return fail(errno), false;
    }
    return true;
  }

  std::optional<uint32_t> processExitCode(const ProcessHandle& process) override {
    int status = 0;
    while (::waitpid(static_cast<pid_t>(process.process), &status, 0) < 0) {
      if (errno != EINTR) return fail(errno), std::nullopt;
    }
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    // Ended by terminateProcess: exit code 0, as the watch asks.
    if (process.terminated && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return 0;
    return WIFSIGNALED(status) ? 128 + static_cast<uint32_t>(WTERMSIG(status)) : 1;
  }

  void closeProcess(ProcessHandle& process) override { process = {}; }

  void terminateProcess(ProcessHandle& process) override {
    if (process.process <= 0) return;
    process.terminated = true;
    ::kill(static_cast<pid_t>(process.process), SIGKILL);
  }

  // A dialog on standard error: "[caption]", the message, "Link: " and the link.
  bool showDialog(DialogId, const std::string& caption, const std::string& message, const std::string& link) override {
    writeAll(2, captionLine(caption) + terminalText(message) + "\nLink: " + link + "\n");
    return true;
  }

  void showMessageBox(const std::string& caption, const std::string& text) override {
    writeAll(2, captionLine(caption) + terminalText(text) + "\n");
  }

  void writeStdout(std::string_view text) override { writeAll(1, text); }

  void startWatch(const std::string&, std::function<void()> onSessionEnd) override {
    // Blocked here, before the thread starts, so that every thread of the
    // launcher inherits the block and only the watch receives them.
    const sigset_t set = watchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(watchThread, set, std::move(onSessionEnd)).detach();
  }
};

}  // namespace

std::unique_ptr<Backend> makeHostBackend(int, char**) { return std::make_unique<PosixBackend>(); }

std::string hostLauncherArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return joinArguments(arguments);
}

}  // namespace quorvanta
