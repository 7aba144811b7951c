// Helpers of the launcher's tests: temporary folders, and running a
// program with a chosen environment while capturing what it prints.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvanta::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(std::string_view name) const { return path_ / name; }

 private:
  fs::path path_;
};

// Changes to the inherited environment: a value, or none to remove it.
using Environment = std::map<std::string, std::optional<std::string>>;

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// A program started with stdout and stderr going to files.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const Environment& environment, const fs::path& cwd);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t pid() const { return pid_; }
  // Waits for the end (killing the child after `limit`) and collects the output.
  RunResult wait(std::chrono::seconds limit = std::chrono::seconds(60));

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

RunResult run(const std::vector<std::string>& argv, const Environment& environment = {},
              const fs::path& cwd = fs::current_path());

std::vector<uint8_t> readBytes(const fs::path& file);
void writeBytes(const fs::path& file, const std::vector<uint8_t>& bytes);
std::string readText(const fs::path& file);

// True while process `pid` exists (and is not a zombie).
bool processAlive(pid_t pid);

}  // namespace quorvanta::test
