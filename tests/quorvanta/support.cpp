#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quorvanta::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/quorvanta-test.XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

namespace {

int tempFile() {
  char name[] = "/tmp/quorvanta-output.XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::unlink(name);
  return fd;
}

std::string drain(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  return text;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const Environment& environment, const fs::path& cwd) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : environment) {
    if (value)
      merged[name] = *value;
    else
      merged.erase(name);
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : merged) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  out_ = tempFile();
  err_ = tempFile();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(out_, 1);
    ::dup2(err_, 2);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
  if (err_ >= 0) ::close(err_);
}

RunResult Child::wait(std::chrono::seconds limit) {
  RunResult result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      result.err = "(killed after the time limit)\n";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = drain(out_);
  result.err += drain(err_);
  return result;
}

RunResult run(const std::vector<std::string>& argv, const Environment& environment, const fs::path& cwd) {
  Child child(argv, environment, cwd);
  return child.wait();
}

std::vector<uint8_t> readBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string readText(const fs::path& file) {
  const std::vector<uint8_t> bytes = readBytes(file);
  return std::string(bytes.begin(), bytes.end());
}

bool processAlive(pid_t pid) {
  // A zombie's state in /proc/PID/stat is 'Z'.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

}  // namespace quorvanta::test
