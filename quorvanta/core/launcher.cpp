#include "quorvanta/core/launcher.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "quorvanta/core/cmdline.h"

namespace quorvanta {

namespace {

// Messages of the failed steps (message boxes).
constexpr std::string_view kUnableToReadRecord = "Unable to read startup information.";
constexpr std::string_view kRecordNotDefined = "Startup information not defined.";
constexpr std::string_view kUnableToMakeTempLocation = "Unable to create temporary data location information.";
constexpr std::string_view kUnableToWriteJar = "Unable to create JavaLoader class in the temporary directory.";
constexpr std::string_view kUnableToGetExitCode = "Unable to get process exit code.";

// The error dialog's head; "%x" is the exit code.
constexpr std::string_view kErrorText =
    "* The error occurs while running application. The exit code is %x.\r\n"
    "* Contact the vendor of the application for troubleshooting.\r\n";

// Diagnostic lines on standard output.
constexpr std::string_view kNoTempDirectoryLine = "Unable to get temporary directory name!\n";
constexpr std::string_view kNoTempNameLine = "Unable to generate temporary file name!\n";
constexpr std::string_view kNoTempFolderLine = "Unable to create temporary directory!\n";
constexpr std::string_view kOpenFailedLine = "Unable to open source file!\n";
constexpr std::string_view kNoMemoryLine = "Not enough memory to allocate buffer\n";
constexpr std::string_view kShortReadLine = "Not all data read. What happend?\n";

// Every four-digit name once; after that, every name is taken.
constexpr uint32_t kTempNameAttempts = 0x10000;

constexpr std::string_view kClassPathVariable = "CLASSPATH";

char folderSeparator(PathStyle style) { return style == PathStyle::windows ? '\\' : '/'; }
char listSeparator(PathStyle style) { return style == PathStyle::windows ? ';' : ':'; }

bool driveAbsolute(std::string_view path) {
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string slashes(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// The prefix that roots a "\"-rooted path on the launcher folder's volume:
// its drive ("C:"), its "\\server\share" for a network folder, or nothing.
std::string volumeOf(std::string_view directory) {
  if (driveAbsolute(directory) || (directory.size() == 2 && directory[1] == ':')) return std::string(directory.substr(0, 2));
  if (directory.starts_with("\\\\")) {
    const size_t server = directory.find('\\', 2);
    if (server == std::string_view::npos) return std::string(directory);
    const size_t share = directory.find('\\', server + 1);
    return std::string(directory.substr(0, share));
  }
  return {};
}

std::string hex(uint32_t value) {
  char buf[8];
  const auto end = std::to_chars(buf, buf + sizeof buf, value, 16).ptr;
  return std::string(buf, end);
}

// `text` with its first `placeholder` (such as "%s") replaced by `value`.
std::string substitute(std::string_view text, std::string_view placeholder, std::string_view value) {
  std::string out(text);
  const size_t at = out.find(placeholder);
  if (at != std::string::npos) out.replace(at, placeholder.size(), value);
  return out;
}

}  // namespace

// ---- The pure parts ----------------------------------------------------------

std::string makeTempName(uint32_t number) {
  std::string digits = hex(number & 0xFFFF);
  std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
  return "KLO" + std::string(4 - digits.size(), '0') + digits + ".TMP";
}

std::string expandClassPathEntry(std::string_view element, std::string_view launcherDirectory, PathStyle style) {
  if (style == PathStyle::windows) {
    if (element.size() >= 3 && element.substr(1, 2) == ":\\") return std::string(element);
    if (element.starts_with('\\')) return volumeOf(launcherDirectory) + std::string(element);
    return std::string(launcherDirectory) + "\\" + std::string(element);
  }
  if (element.starts_with('/')) return std::string(element);
  if (driveAbsolute(element)) return slashes(element.substr(2));
  if (element.starts_with('\\')) return slashes(element);
  return std::string(launcherDirectory) + "/" + slashes(element);
}

std::string expandRecordClassPath(std::string_view classPath, std::string_view launcherDirectory, PathStyle style) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(classPath.find(';', start), classPath.size());
    const std::string expanded = expandClassPathEntry(classPath.substr(start, end - start), launcherDirectory, style);
    if (!expanded.empty()) {
      out += expanded;
      out += listSeparator(style);
    }
    if (end == classPath.size()) break;
    start = end + 1;
  }
  return out;
}

void appendPathElement(std::string& list, std::string_view element, PathStyle style) {
  if (!list.empty() && list.back() != listSeparator(style)) list += listSeparator(style);
  list += element;
}

std::string launcherDirectoryOf(const std::optional<std::string>& modulePath, PathStyle style) {
  if (!modulePath) return ".";
  const size_t cut = modulePath->rfind(folderSeparator(style));
  if (cut == std::string::npos) return ".";
  return modulePath->substr(0, cut);
}

std::string buildRuntimeCommand(const CommandParts& parts, std::string_view launcherArguments, uint8_t kind) {
  // The loader's three arguments are quoted. java.exe gets the folder
  // without its trailing separator; jre.exe and jview.exe get it with the
  // separator, and a backslash right before the closing quote would make
  // the quote a literal one for a Windows program, which then takes the
  // folder and the launcher's arguments for one argument: quotedArgument
  // doubles it.
  const auto loaderArguments = [&](std::string_view directory) {
    return std::string(kLoaderClass) + " " + quotedArgument(parts.minJavaVersion) + " " +
           quotedArgument(parts.mainClass) + " " + quotedArgument(directory) + " " + std::string(launcherArguments);
  };
  const std::string_view directory = parts.directory;
  switch (kind) {
    case kJava:
      return "java.exe " + parts.vmOptions + " " + loaderArguments(directory.substr(0, directory.empty() ? 0 : directory.size() - 1));
    case kJre:
      // The class path is one argument even where a folder name has a space.
      return "jre.exe -cp " + quoteArgument(parts.classPath) + " " + parts.vmOptions + " " + loaderArguments(directory);
    case kJview:
      return "jview.exe " + parts.vmOptions + " " + loaderArguments(directory);
    default:
      return {};
  }
}

// ---- The run -----------------------------------------------------------------

uint32_t Launcher::failureCode() const {
  const uint32_t code = backend_.lastError();
  return code != 0 ? code : 1;
}

uint32_t Launcher::run(std::string_view launcherArguments) {
  record_ = {};
  location_ = {};
  {
    std::lock_guard lock(childLock_);
    child_.reset();
  }

  if (!readStartupRecord(backend_, record_)) {
    const uint32_t code = failureCode();
    showMessage(kUnableToReadRecord);
    return code;
  }
  if (!record_.defined()) {
    showMessage(kRecordNotDefined);
    return 1;
  }
  if (!createTempLocation(location_, kJarName)) {
    const uint32_t code = failureCode();
    showMessage(kUnableToMakeTempLocation);
    return code;
  }
  backend_.startWatch(record_.appName(), [this] { terminateChild(); });
  if (!extractLoaderJar(kJarResourceId, location_)) {
    const uint32_t code = failureCode();
    showMessage(kUnableToWriteJar);
    cleanupTempLocation();
    return code;
  }
  launcherDirectory_ = launcherDirectoryOf(backend_.modulePath(), backend_.pathStyle());
  assembleClassPath();

  uint32_t exitCode = kNoAttempt;
  LaunchOutcome outcome = LaunchOutcome::tryNext;
  for (uint8_t kind : record_.runtimeOrder()) {
    if (sessionEnding()) break;
    outcome = launchRuntime(buildRuntimeCommand(launcherArguments, kind), exitCode);
    if (outcome != LaunchOutcome::tryNext) break;
  }

  // While the session ends nothing is shown: there is nobody to answer.
  if (!sessionEnding()) {
    if (outcome == LaunchOutcome::tryNext) {
      if (tempFileExists(kErrorReportName)) {
        showErrorDialog(exitCode);
        deleteTempFile(kErrorReportName);
      } else {
        showRuntimeDialog(runtimeTooOld_ ? kUpdateRuntimeText : kNoRuntimeText);
      }
    } else if (outcome == LaunchOutcome::appFailed && tempFileExists(kErrorReportName)) {
      showErrorDialog(exitCode);
      deleteTempFile(kErrorReportName);
    }
  }
  cleanupTempLocation();
  return exitCode;
}

bool Launcher::createTempLocation(TempLocation& location, std::string_view jarName) {
  location.jarName = jarName;
  const std::optional<std::string> root = backend_.tempDirectory();
  if (!root) {
    backend_.writeStdout(kNoTempDirectoryLine);
    return false;
  }
  location.tempRoot = *root;
  // The folder is made here, atomically and private to the user; a name
  // that is taken (perhaps planted by someone else) is never used.
  const uint32_t first = backend_.tickCount();
  for (uint32_t attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    location.uniqueName = makeTempName(first + attempt);
    const std::string folder = location.tempRoot + location.uniqueName;
    switch (backend_.createPrivateDirectory(folder)) {
      case DirectoryResult::created:
        location.directory = folder + folderSeparator(backend_.pathStyle());
        location.jarPath = location.directory + location.jarName;
        return true;
      case DirectoryResult::exists:
        continue;
      case DirectoryResult::failed:
        backend_.writeStdout(kNoTempFolderLine);
        location.uniqueName.clear();
        return false;
    }
  }
  backend_.writeStdout(kNoTempNameLine);
  location.uniqueName.clear();
  return false;
}

bool Launcher::extractLoaderJar(uint16_t resourceId, const TempLocation& location) {
  const std::optional<std::span<const uint8_t>> jar = backend_.findResource(resourceId);
  if (!jar) return false;
  return backend_.writeNewFile(location.jarPath, *jar);
}

void Launcher::assembleClassPath() {
  const PathStyle style = backend_.pathStyle();
  std::string value = backend_.getEnvironment(std::string(kClassPathVariable)).value_or("");
  appendPathElement(value, expandRecordClassPath(record_.classPath(), launcherDirectory_, style), style);
  appendPathElement(value, launcherDirectory_, style);
  appendPathElement(value, location_.jarPath, style);
  backend_.setEnvironment(std::string(kClassPathVariable), value);
  classPathValue_ = std::move(value);
}

std::string Launcher::buildRuntimeCommand(std::string_view launcherArguments, uint8_t kind) const {
  const CommandParts parts{record_.vmOptions(), record_.minJavaVersion(), record_.mainClass(), location_.directory,
                           classPathValue_};
  return quorvanta::buildRuntimeCommand(parts, launcherArguments, kind);
}

bool Launcher::sessionEnding() {
  std::lock_guard lock(childLock_);
  return sessionEnding_;
}

void Launcher::terminateChild() {
  std::lock_guard lock(childLock_);
  sessionEnding_ = true;
  if (child_) backend_.terminateProcess(*child_);
}

bool Launcher::markerRecordsUpdate() {
  const FileRead marker = backend_.readFile(joinTempPath(kMarkerName));
  const std::string_view text(reinterpret_cast<const char*>(marker.bytes.data()), marker.bytes.size());
  return marker.status == FileRead::ok && text.starts_with(kUpdateNeededMark);
}

LaunchOutcome Launcher::launchRuntime(const std::string& command, uint32_t& exitCode) {
  ProcessHandle started;
  {
    std::lock_guard lock(childLock_);
    if (sessionEnding_) return LaunchOutcome::tryNext;
    const std::optional<ProcessHandle> process = backend_.startProcess(command);
    if (!process) {
      exitCode = backend_.lastError();
      return LaunchOutcome::tryNext;
    }
    child_ = started = *process;
  }

  // The wait keeps the process; it is released only under the lock, after
  // which the watch finds no child to end.
  const bool ended = backend_.waitProcess(started);
  std::optional<uint32_t> code;
  uint32_t error = 0;
  {
    std::lock_guard lock(childLock_);
    if (ended) code = backend_.processExitCode(*child_);
    if (!code) error = backend_.lastError();
    backend_.closeProcess(*child_);
    child_.reset();
  }
  if (!code) {
    exitCode = error;
    showMessage(kUnableToGetExitCode);
    return LaunchOutcome::appFailed;
  }
  exitCode = *code;

  if (!tempFileExists(kMarkerName)) return LaunchOutcome::tryNext;
  if (markerRecordsUpdate()) exitCode = kUpdateNeeded;
  if (exitCode == 0) {
    deleteTempFile(kMarkerName);
    return LaunchOutcome::succeeded;
  }
  if (exitCode == kUpdateNeeded) {
    runtimeTooOld_ = true;
    deleteTempFile(kMarkerName);
    return LaunchOutcome::tryNext;
  }
  return LaunchOutcome::appFailed;
}

bool Launcher::showRuntimeDialog(std::string_view text) {
  const std::string message = substitute(text, "%s", record_.minJavaVersion()) + record_.downloadUrl() + ".";
  return backend_.showDialog(DialogId::runtime, record_.appName(), message, record_.downloadUrl());
}

bool Launcher::showErrorDialog(uint32_t exitCode) {
  std::string message = substitute(kErrorText, "%x", hex(exitCode));
  if (const std::optional<std::string> report = readWholeFile(joinTempPath(kErrorReportName))) message += *report;
  return backend_.showDialog(DialogId::error, record_.appName(), message, record_.downloadUrl());
}

void Launcher::showMessage(std::string_view text) { backend_.showMessageBox(record_.appName(), std::string(text)); }

std::optional<std::string> Launcher::readWholeFile(const std::string& path) {
  FileRead read = backend_.readFile(path);
  switch (read.status) {
    case FileRead::openFailed:
      backend_.writeStdout(kOpenFailedLine);
      return std::nullopt;
    case FileRead::noMemory:
      backend_.writeStdout(kNoMemoryLine);
      return std::nullopt;
    case FileRead::shortRead:
      backend_.writeStdout(kShortReadLine);
      break;
    case FileRead::ok:
      break;
  }
  // The text ends at its first NUL, as a C string would.
  const auto end = std::find(read.bytes.begin(), read.bytes.end(), uint8_t{0});
  return std::string(read.bytes.begin(), end);
}

std::string Launcher::joinTempPath(std::string_view name) const { return location_.directory + std::string(name); }

bool Launcher::tempFileExists(std::string_view name) { return backend_.fileExists(joinTempPath(name)); }

bool Launcher::deleteTempFile(std::string_view name) { return backend_.deleteFile(joinTempPath(name)); }

void Launcher::cleanupTempLocation() {
  if (location_.directory.empty()) return;
  for (std::string_view name : {kMarkerName, kErrorReportName, std::string_view(location_.jarName)})
    if (tempFileExists(name)) deleteTempFile(name);
  // A folder that still holds other files stays.
  const std::string folder = location_.directory.substr(0, location_.directory.size() - 1);
  if (backend_.fileExists(folder)) backend_.removeDirectory(folder);
}

}  // namespace quorvanta
