// Shared helpers of the test programs: running the built torvex in a
// temporary folder, capturing console output of library calls, and
// reaching fixtures and the real sample files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace torvex::test {

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

// Makes a folder the current one for as long as it lives.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : old_(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(old_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path old_;
};

struct RunResult {
  int status = -1;   // exit status, or 128 + signal
  std::string out;   // standard output
  std::string err;   // standard error
};

// Runs the built torvex with `args` in folder `cwd`. When the program under
// test is a Windows program (see torvexcommand), the carriage returns it puts
// before line ends are taken out of its output. `filelimit`, when not 0, is
// the size no file written by the program may pass: a write beyond it fails
// as on a full disk.
RunResult runtorvex(const std::vector<std::string>& args, const fs::path& cwd, uint64_t filelimit = 0);
// The words that start the program under test: the built torvex, or the
// program named by TORVEX_TEST_PROGRAM run through the emulator command in
// TORVEX_TEST_EMULATOR (torvex.exe under Wine: the Windows suite runs the
// same end-to-end tests that way).
std::vector<std::string> torvexcommand();
// True when the program under test runs through an emulator.
bool emulated();
// Runs a shell command line (for the independent tools); status and output.
RunResult runshell(const std::string& command, const fs::path& cwd = fs::current_path());
// True when the shell finds `tool` on the PATH.
bool havetool(const std::string& tool);
// True when python3 with Pillow, the independent picture reader and writer
// of the picture tests, is installed.
bool havepillow();
// Runs `script` with python3 in folder `dir` (written there as script.py).
RunResult runpython(const std::string& script, const fs::path& dir);

// Captures what library code prints through the console service.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  std::string text() const;
  void clear();
};

std::vector<uint8_t> readbytes(const fs::path& file);
void writebytes(const fs::path& file, const std::vector<uint8_t>& bytes);
void writetext(const fs::path& file, std::string_view text);

// ../shared/samples of the source tree; empty when it is not there.
fs::path samplesdir();
// tests/fixtures of the source tree.
fs::path fixturesdir();
// The program under test (the built torvex unless TORVEX_TEST_PROGRAM is set).
fs::path torvexexe();

}  // namespace torvex::test
