// The launcher's run: read the startup record, make a private temporary
// folder, write the loader jar into it, build the class path, try the
// runtimes of the record in order until one runs the application, explain
// a missing or outdated runtime or a failed application, clean up, and end
// with the application's exit code.
//
// The loader class in the jar keeps this contract with the launcher: it is
// given the minimum Java version, the main class and the temporary folder
// as its first three arguments; it creates the marker "665824.A" there as
// soon as it runs; it ends with 0x10000222 when the running Java is older
// than the minimum, writing "10000222" into the marker first (a POSIX exit
// status keeps only the low 8 bits, so there the marker is what tells this
// apart from an application that exits with 34); and when the application
// cannot be started or throws, it writes "errStack.txt" there and ends
// with a non-zero code.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "quorvanta/core/backend.h"
#include "quorvanta/core/record.h"

namespace quorvanta {

inline constexpr uint32_t kUpdateNeeded = 0x10000222;
inline constexpr uint32_t kNoAttempt = 0xFFFFFFFF;
inline constexpr std::string_view kJarName = "KLOVCreator.jar";
inline constexpr std::string_view kMarkerName = "665824.A";
inline constexpr std::string_view kErrorReportName = "errStack.txt";
inline constexpr std::string_view kLoaderClass = "com.velmar.KLOVClassLoader";
// What the loader writes into the marker when the runtime is too old.
inline constexpr std::string_view kUpdateNeededMark = "10000222";

// Texts of the dialogs that take an argument.
inline constexpr std::string_view kNoRuntimeText =
    "There is no reqired Java run-time on your computer or it not work properly.\r\n\r\n"
    "You can download Java run-time from ";
inline constexpr std::string_view kUpdateRuntimeText =
    "The Java run-time on your computer needs to be updated to version %s, before this application can be "
    "run.\r\n\r\nYou can download reqired Java run-time from ";

enum class LaunchOutcome {
  tryNext = 1,    // this runtime did not run the application
  succeeded = 2,  // the application ran and ended with 0
  appFailed = 3,  // the application ran and failed, or its exit code is unknown
};

struct TempLocation {
  std::string tempRoot;    // the system's temporary folder, with its separator
  std::string uniqueName;  // "KLO", four hexadecimal digits, ".TMP"
  std::string directory;   // tempRoot + uniqueName + separator
  std::string jarName;
  std::string jarPath;     // directory + jarName
};

// ---- The pure parts, on their own for tests ---------------------------------

// "KLO" + the low 16 bits of `number` in four upper-case hexadecimal digits + ".TMP".
std::string makeTempName(uint32_t number);

// One class-path element of the record as a path of the host. Windows: a
// drive-absolute element stays; a "\"-rooted one gets the launcher
// folder's drive (or its "\\server\share" root); anything else is joined
// to the launcher folder. POSIX: a "/"-rooted element stays; a
// drive-absolute or "\"-rooted one keeps its path, with "/" between
// folders; anything else is joined to the launcher folder.
std::string expandClassPathEntry(std::string_view element, std::string_view launcherDirectory, PathStyle style);

// The record's class path (elements separated by ';') with every element
// expanded and followed by the host's list separator.
std::string expandRecordClassPath(std::string_view classPath, std::string_view launcherDirectory, PathStyle style);

// Appends `element` to `list`, putting the host's list separator between
// them unless `list` is empty or already ends with one.
void appendPathElement(std::string& list, std::string_view element, PathStyle style);

// The launcher folder from the executable's path: cut at its last
// separator, or "." when the path is unknown.
std::string launcherDirectoryOf(const std::optional<std::string>& modulePath, PathStyle style);

struct CommandParts {
  std::string vmOptions;
  std::string minJavaVersion;
  std::string mainClass;
  std::string directory;  // the temporary folder, ending in its separator
  std::string classPath;  // the class-path value (jre's "-cp")
};

// The command line of runtime `kind`; empty for an unknown kind.
std::string buildRuntimeCommand(const CommandParts& parts, std::string_view launcherArguments, uint8_t kind);

// ---- The run ----------------------------------------------------------------

class Launcher {
 public:
  explicit Launcher(Backend& backend) : backend_(backend) {}
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // The whole run; returns the exit code.
  uint32_t run(std::string_view launcherArguments);

  // Called by the backend's watch when the session ends or the launcher is
  // told to stop: ends the child, and no further runtime is started.
  void terminateChild();

  // The steps, reachable for tests.
  bool createTempLocation(TempLocation& location, std::string_view jarName);
  bool extractLoaderJar(uint16_t resourceId, const TempLocation& location);
  void assembleClassPath();
  std::string buildRuntimeCommand(std::string_view launcherArguments, uint8_t kind) const;
  LaunchOutcome launchRuntime(const std::string& command, uint32_t& exitCode);
  bool showRuntimeDialog(std::string_view text);
  bool showErrorDialog(uint32_t exitCode);
  void showMessage(std::string_view text);
  std::optional<std::string> readWholeFile(const std::string& path);
  std::string joinTempPath(std::string_view name) const;
  bool tempFileExists(std::string_view name);
  bool deleteTempFile(std::string_view name);
  void cleanupTempLocation();

  StartupRecord& record() { return record_; }
  TempLocation& location() { return location_; }
  const std::string& classPathValue() const { return classPathValue_; }
  std::string& launcherDirectory() { return launcherDirectory_; }
  bool runtimeTooOld() const { return runtimeTooOld_; }

 private:
  // The exit code after a failed step: the system's code, never 0.
  uint32_t failureCode() const;
  bool sessionEnding();
  bool markerRecordsUpdate();

  Backend& backend_;
  StartupRecord record_;
  TempLocation location_;
  std::string launcherDirectory_;
  std::string classPathValue_;
  bool runtimeTooOld_ = false;

  // Shared with the watch: the child is started, closed and ended only
  // under this lock, so the watch never touches a closed process.
  std::mutex childLock_;
  std::optional<ProcessHandle> child_;
  bool sessionEnding_ = false;
};

}  // namespace quorvanta
