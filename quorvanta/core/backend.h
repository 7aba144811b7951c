// Everything the launcher asks of the operating system, behind one small
// interface: posix.cpp and win32.cpp implement it, one file per system, and
// tests put a scripted one in its place. Like the system calls they wrap,
// operations report failure by their result and leave the reason in
// lastError() (errno on POSIX, GetLastError on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvanta {

// How the host writes paths and lists of paths.
enum class PathStyle {
  windows,  // "\" between folders, ";" between class-path elements
  posix,    // "/" between folders, ":" between class-path elements
};

// Failures the launcher finds itself, without a failed system call; each
// backend gives them a code of its own system.
enum class Failure {
  tooLarge,  // a resource larger than the room for it
  noMemory,  // a buffer could not be allocated
  badName,   // a name the launcher cannot use (for example a quote in a path)
};

// A started child process. Only the launcher's child-process record, under
// its lock, holds one.
struct ProcessHandle {
  intptr_t process = 0;  // HANDLE or pid
  intptr_t thread = 0;   // HANDLE of the first thread (Windows)
  bool terminated = false;  // ended by terminateProcess
};

enum class DirectoryResult { created, exists, failed };

struct FileRead {
  enum Status { ok, openFailed, noMemory, shortRead } status = openFailed;
  std::vector<uint8_t> bytes;  // what was read, also after a short read
};

enum class DialogId { runtime = 1, error = 3 };

class Backend {
 public:
  virtual ~Backend() = default;

  virtual PathStyle pathStyle() const = 0;
  virtual uint32_t lastError() const = 0;
  virtual void setFailure(Failure failure) = 0;

  // Resource `id` of the launcher's own executable (RCDATA); none, with the
  // last error set, when it is missing.
  virtual std::optional<std::span<const uint8_t>> findResource(uint16_t id) = 0;

  // The system's folder for temporary files, ending in its separator.
  virtual std::optional<std::string> tempDirectory() = 0;
  virtual uint32_t tickCount() = 0;
  // Creates `path` readable only by the user; `exists` when anything is
  // there already (the folder is then not ours to use).
  virtual DirectoryResult createPrivateDirectory(const std::string& path) = 0;
  virtual bool fileExists(const std::string& path) = 0;
  virtual bool deleteFile(const std::string& path) = 0;
  virtual bool removeDirectory(const std::string& path) = 0;
  // Creates `path`, which must not exist yet, holding `bytes`.
  virtual bool writeNewFile(const std::string& path, std::span<const uint8_t> bytes) = 0;
  virtual FileRead readFile(const std::string& path) = 0;

  virtual std::optional<std::string> getEnvironment(const std::string& name) = 0;
  virtual bool setEnvironment(const std::string& name, const std::string& value) = 0;
  // The launcher executable's full path.
  virtual std::optional<std::string> modulePath() = 0;

  // Starts `commandLine` (Windows quoting; the first word names the
  // program, found by the system's program search) with the launcher's
  // environment. Waits for the end without releasing the process, so its
  // handle stays valid until closeProcess.
  virtual std::optional<ProcessHandle> startProcess(const std::string& commandLine) = 0;
  virtual bool waitProcess(const ProcessHandle& process) = 0;
  virtual std::optional<uint32_t> processExitCode(const ProcessHandle& process) = 0;
  virtual void closeProcess(ProcessHandle& process) = 0;
  // Ends the process with exit code 0.
  virtual void terminateProcess(ProcessHandle& process) = 0;

  // Modal dialog `id` captioned `caption`, with `message` and the download
  // link; false when it could not be shown.
  virtual bool showDialog(DialogId id, const std::string& caption, const std::string& message,
                          const std::string& link) = 0;
  // Error message box with an OK button.
  virtual void showMessageBox(const std::string& caption, const std::string& text) = 0;
  // The short diagnostic lines of the low-level routines.
  virtual void writeStdout(std::string_view text) = 0;

  // Starts the watch that calls `onSessionEnd` when the user's session ends
  // or the launcher is told to stop, so that the child does not outlive it.
  virtual void startWatch(const std::string& appName, std::function<void()> onSessionEnd) = 0;
};

// The backend of the system the launcher was built for; `argc` and `argv`
// as main received them.
std::unique_ptr<Backend> makeHostBackend(int argc, char** argv);
// The command line after the program name, as the host hands it over: the
// raw text on Windows, the arguments quoted back into one line on POSIX.
std::string hostLauncherArguments(int argc, char** argv);

}  // namespace quorvanta
