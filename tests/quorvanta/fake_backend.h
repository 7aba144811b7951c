// A scripted backend for the launcher's run: files, folders, environment
// and runtimes live in memory, and every dialog, message box and
// standard-output line is recorded. A "runtime" is a program name with
// what it does when started: the marker, a report, its exit code.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quorvanta/core/backend.h"
#include "quorvanta/core/cmdline.h"
#include "quorvanta/core/launcher.h"

namespace quorvanta::test {

struct FakeRuntime {
  uint32_t exitCode = 0;
  bool marker = true;          // the loader ran
  std::string markerText;      // what it wrote into the marker
  std::string errorReport;     // written as errStack.txt when not empty
  bool exitCodeUnreadable = false;

  FakeRuntime& exits(uint32_t code) { return exitCode = code, *this; }
  FakeRuntime& withoutMarker() { return marker = false, *this; }
  FakeRuntime& marks(std::string text) { return markerText = std::move(text), *this; }
  FakeRuntime& reports(std::string text) { return errorReport = std::move(text), *this; }
  FakeRuntime& unreadable() { return exitCodeUnreadable = true, *this; }
};

struct Shown {
  std::string what;  // "dialog 1", "dialog 3" or "message"
  std::string caption;
  std::string text;
  std::string link;
};

class FakeBackend : public Backend {
 public:
  static constexpr uint32_t kNotFound = 2;
  static constexpr uint32_t kTooLarge = 122;
  static constexpr uint32_t kAlreadyExists = 183;
  static constexpr uint32_t kAccessDenied = 5;

  PathStyle style = PathStyle::windows;
  uint32_t error = 0;
  std::map<uint16_t, std::vector<uint8_t>> resources;
  std::optional<std::string> tempRoot = "C:\\Temp\\";
  uint32_t tick = 0x51234;
  std::set<std::string> taken;  // paths where something exists
  bool directoryFails = false;
  bool writeFails = false;
  std::map<std::string, std::vector<uint8_t>> files;
  std::set<std::string> folders;
  std::map<std::string, std::string> environment;
  std::optional<std::string> module = "C:\\Apps\\Demo\\quorvanta.exe";
  std::map<std::string, FakeRuntime> runtimes;  // by the command's first word
  std::function<void()> duringWait;             // runs while a child "runs"
  std::optional<FileRead::Status> readStatus;   // how every file read ends, when set

  // What happened.
  std::vector<std::string> commands;
  std::vector<std::string> createAttempts;
  std::vector<Shown> shown;
  std::string out;
  std::function<void()> sessionEnd;
  int terminateCalls = 0;
  int terminatedAfterClose = 0;

  PathStyle pathStyle() const override { return style; }
  uint32_t lastError() const override { return error; }
  void setFailure(Failure failure) override { error = failure == Failure::tooLarge ? kTooLarge : 8; }

  std::optional<std::span<const uint8_t>> findResource(uint16_t id) override {
    const auto it = resources.find(id);
    if (it == resources.end()) return error = 1814, std::nullopt;
    return std::span<const uint8_t>(it->second);
  }

  std::optional<std::string> tempDirectory() override {
    if (!tempRoot) error = 3;
    return tempRoot;
  }
  uint32_t tickCount() override { return tick; }

  DirectoryResult createPrivateDirectory(const std::string& path) override {
    createAttempts.push_back(path);
    if (directoryFails) return error = kAccessDenied, DirectoryResult::failed;
    if (taken.count(path) || folders.count(path)) return error = kAlreadyExists, DirectoryResult::exists;
    folders.insert(path);
    lastCreated_ = path;
    return DirectoryResult::created;
  }
  bool fileExists(const std::string& path) override {
    if (files.count(path) || folders.count(path) || taken.count(path)) return true;
    return error = kNotFound, false;
  }
  bool deleteFile(const std::string& path) override { return files.erase(path) ? true : (error = kNotFound, false); }
  bool removeDirectory(const std::string& path) override {
    for (const auto& [name, bytes] : files)
      if (name.starts_with(path + separator())) return error = 145, false;  // not empty
    return folders.erase(path) ? true : (error = kNotFound, false);
  }
  bool writeNewFile(const std::string& path, std::span<const uint8_t> bytes) override {
    if (writeFails) return error = kAccessDenied, false;
    if (files.count(path)) return error = 80, false;
    files[path].assign(bytes.begin(), bytes.end());
    return true;
  }
  FileRead readFile(const std::string& path) override {
    FileRead read;
    const auto it = files.find(path);
    if (it == files.end()) return error = kNotFound, read;
    read.status = readStatus.value_or(FileRead::ok);
    if (read.status == FileRead::ok || read.status == FileRead::shortRead) read.bytes = it->second;
    return read;
  }

  std::optional<std::string> getEnvironment(const std::string& name) override {
    const auto it = environment.find(name);
    if (it == environment.end()) return error = 203, std::nullopt;
    return it->second;
  }
  bool setEnvironment(const std::string& name, const std::string& value) override {
    environment[name] = value;
    return true;
  }
  std::optional<std::string> modulePath() override { return module; }

  std::optional<ProcessHandle> startProcess(const std::string& commandLine) override {
    commands.push_back(commandLine);
    const std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty() || !runtimes.count(words[0])) return error = kNotFound, std::nullopt;
    running_[++lastId_] = runtimes[words[0]];
    ProcessHandle handle;
    handle.process = lastId_;
    return handle;
  }
  bool waitProcess(const ProcessHandle& process) override {
    if (duringWait) duringWait();
    const FakeRuntime& run = running_.at(process.process);
    const std::string folder = lastCreated_ + separator();
    if (run.marker) files[folder + std::string(kMarkerName)].assign(run.markerText.begin(), run.markerText.end());
    if (!run.errorReport.empty())
      files[folder + std::string(kErrorReportName)].assign(run.errorReport.begin(), run.errorReport.end());
    return true;
  }
  std::optional<uint32_t> processExitCode(const ProcessHandle& process) override {
    const FakeRuntime& run = running_.at(process.process);
    if (run.exitCodeUnreadable) return error = 6, std::nullopt;
    return process.terminated ? 0 : run.exitCode;
  }
  void closeProcess(ProcessHandle& process) override {
    closed_.insert(process.process);
    process = {};
  }
  void terminateProcess(ProcessHandle& process) override {
    ++terminateCalls;
    if (closed_.count(process.process) || process.process == 0) ++terminatedAfterClose;
    process.terminated = true;
  }

  bool showDialog(DialogId id, const std::string& caption, const std::string& message, const std::string& link) override {
    shown.push_back({id == DialogId::runtime ? "dialog 1" : "dialog 3", caption, message, link});
    return true;
  }
  void showMessageBox(const std::string& caption, const std::string& text) override {
    shown.push_back({"message", caption, text, ""});
  }
  void writeStdout(std::string_view text) override { out += text; }
  void startWatch(const std::string&, std::function<void()> onSessionEnd) override { sessionEnd = std::move(onSessionEnd); }

  char separator() const { return style == PathStyle::windows ? '\\' : '/'; }

 private:
  std::map<intptr_t, FakeRuntime> running_;
  std::set<intptr_t> closed_;
  intptr_t lastId_ = 0;
  std::string lastCreated_;
};

}  // namespace quorvanta::test
