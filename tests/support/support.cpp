#include "support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "torvex/platform/platform.h"

namespace torvex::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/torvex-test.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files and folders made by tests must not block the clean-up.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

namespace {

std::string drain(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

RunResult runargv(const std::vector<std::string>& argv, const fs::path& cwd, uint64_t filelimit = 0) {
  // Output goes to temporary files so that neither stream can block.
  char outname[] = "/tmp/torvex-out.XXXXXX";
  char errname[] = "/tmp/torvex-err.XXXXXX";
  const int outfd = ::mkstemp(outname);
  const int errfd = ::mkstemp(errname);
  ::unlink(outname);
  ::unlink(errname);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    if (filelimit != 0) {
      // Past the limit write() fails with EFBIG instead of ending the process.
      const rlimit limit{filelimit, filelimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
      ::signal(SIGXFSZ, SIG_IGN);
    }
    ::dup2(outfd, 1);
    ::dup2(errfd, 2);
    const int nullfd = ::open("/dev/null", O_RDONLY);
    ::dup2(nullfd, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::lseek(outfd, 0, SEEK_SET);
  ::lseek(errfd, 0, SEEK_SET);
  r.out = drain(outfd);
  r.err = drain(errfd);
  ::close(outfd);
  ::close(errfd);
  return r;
}

std::string captured;

void capturewrite(std::string_view text) { captured.append(text); }

void (*previouswrite)(std::string_view) = nullptr;

}  // namespace

// ---- The program under test, or a Windows build of it under an emulator ----------

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Windows programs end their lines with "\r\n"; a lone "\r" (a progress line
// going back to its start) is the program's own and stays.
std::string unixlines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

}  // namespace

std::vector<std::string> torvexcommand() {
  std::vector<std::string> words;
  const std::string emulator = environment("TORVEX_TEST_EMULATOR");
  size_t start = 0;
  while ((start = emulator.find_first_not_of(' ', start)) != std::string::npos) {
    const size_t end = std::min(emulator.find(' ', start), emulator.size());
    words.push_back(emulator.substr(start, end - start));
    start = end;
  }
  words.push_back(torvexexe().string());
  return words;
}

bool emulated() { return !environment("TORVEX_TEST_EMULATOR").empty(); }

RunResult runtorvex(const std::vector<std::string>& args, const fs::path& cwd, uint64_t filelimit) {
  std::vector<std::string> argv = torvexcommand();
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = runargv(argv, cwd, filelimit);
  if (emulated()) {
    r.out = unixlines(r.out);
    r.err = unixlines(r.err);
  }
  return r;
}

RunResult runshell(const std::string& command, const fs::path& cwd) {
  return runargv({"/bin/sh", "-c", command}, cwd);
}

bool havetool(const std::string& tool) {
  return runshell("command -v '" + tool + "' >/dev/null 2>&1").status == 0;
}

bool havepillow() { return runshell("/usr/bin/python3 -c 'import PIL' 2>/dev/null").status == 0; }

RunResult runpython(const std::string& script, const fs::path& dir) {
  writetext(dir / "script.py", script);
  return runshell("/usr/bin/python3 script.py", dir);
}

ConsoleCapture::ConsoleCapture() {
  captured.clear();
  previouswrite = services().consolewrite;
  services().consolewrite = capturewrite;
}

ConsoleCapture::~ConsoleCapture() { services().consolewrite = previouswrite; }

std::string ConsoleCapture::text() const { return captured; }
void ConsoleCapture::clear() { captured.clear(); }

std::vector<uint8_t> readbytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writebytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

void writetext(const fs::path& file, std::string_view text) {
  writebytes(file, std::vector<uint8_t>(text.begin(), text.end()));
}

fs::path samplesdir() {
  const fs::path p = fs::path(TORVEX_SOURCE_DIR) / ".." / "shared" / "samples";
  return fs::exists(p) ? fs::canonical(p) : fs::path{};
}

fs::path fixturesdir() { return fs::path(TORVEX_SOURCE_DIR) / "tests" / "fixtures"; }

fs::path torvexexe() {
  const std::string program = environment("TORVEX_TEST_PROGRAM");
  return program.empty() ? fs::path(TORVEX_EXE) : fs::path(program);
}

}  // namespace torvex::test
