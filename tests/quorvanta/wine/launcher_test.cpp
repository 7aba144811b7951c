// quorvanta.exe as a user meets it, driven by a Windows program (under Wine
// and Xvfb here). Each test copies the launcher into a folder of its own,
// gives it a record with quorvanta-record.exe and starts it with an
// environment of its choosing; fake runtimes (fakeruntime.cpp) stand in for
// Java and log how they were started. The dialogs and message boxes the
// launcher shows are found among its windows, read back control by control,
// photographed into the build folder and closed from outside, as a user
// would close them; the hidden watch window gets the messages Windows sends
// when a session ends.
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quorvanta/core/cmdline.h"

namespace {

// The build hands its paths over the Linux way; Wine shows "/" as drive Z:.
std::string windowsPath(std::string path) {
  if (path.starts_with('/')) path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

const std::string kLauncher = windowsPath(QV_LAUNCHER);
const std::string kOversizeLauncher = windowsPath(QV_OVERSIZE_LAUNCHER);
const std::string kRecordTool = windowsPath(QV_RECORD_TOOL);
const std::string kFakeRuntime = windowsPath(QV_FAKE_RUNTIME);
const std::string kLoaderJar = windowsPath(QV_LOADER_JAR);
const std::string kScreenshots = windowsPath(QV_SCREENSHOTS);

const std::string kLink = "http://java.example/get";
const std::string kNoRuntimeText =
    "There is no reqired Java run-time on your computer or it not work properly.\r\n\r\n"
    "You can download Java run-time from " + kLink + ".";
std::string updateText(const std::string& version, const std::string& link = kLink) {
  return "The Java run-time on your computer needs to be updated to version " + version +
         ", before this application can be run.\r\n\r\nYou can download reqired Java run-time from " + link + ".";
}
std::string errorText(const std::string& hexCode, const std::string& report) {
  return "* The error occurs while running application. The exit code is " + hexCode +
         ".\r\n* Contact the vendor of the application for troubleshooting.\r\n" + report;
}
// What the fake runtime's "report" writes.
const std::string kReport =
    "java.lang.IllegalStateException: thrown by the test application\r\n"
    "\tat Thrower.main(Thrower.java:3)\r\n";

// ---- Files -------------------------------------------------------------------------

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readFile(const std::string& path) {
  std::string out;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return out;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  CloseHandle(file);
  return out;
}

void writeFile(const std::string& path, const std::string& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size()) << path;
}

// The names in `folder` that match `pattern`.
std::vector<std::string> list(const std::string& folder, const std::string& pattern = "*") {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  const HANDLE h = FindFirstFileA((folder + "\\" + pattern).c_str(), &entry);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &entry));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

void removeTree(const std::string& folder) {
  for (const std::string& name : list(folder)) {
    const std::string path = folder + "\\" + name;
    if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      removeTree(path);
    } else {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
  }
  RemoveDirectoryA(folder.c_str());
}

std::string tempFolder() {
  char path[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof path, path);
  return std::string(path, n);  // ends in "\"
}

// Each "KLO" + four hexadecimal digits + ".TMP" written "KLO####.TMP".
std::string masked(std::string text) {
  for (size_t at = text.find("KLO"); at != std::string::npos; at = text.find("KLO", at + 1)) {
    if (text.size() - at < 11 || text.compare(at + 7, 4, ".TMP") != 0) continue;
    if (std::all_of(text.begin() + static_cast<ptrdiff_t>(at + 3), text.begin() + static_cast<ptrdiff_t>(at + 7),
                    [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }))
      text.replace(at + 3, 4, "####");
  }
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

// ---- Windows of another process ------------------------------------------------------

std::string className(HWND window) {
  char name[256];
  const int n = GetClassNameA(window, name, sizeof name);
  return std::string(name, n > 0 ? static_cast<size_t>(n) : 0);
}

// WM_GETTEXT reaches into the other process, where GetWindowText would not
// for an edit control.
std::string windowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return "(no answer)";
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  text.resize(copied);
  return text;
}

std::vector<HWND> topWindows(DWORD pid) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{pid, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->pid) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct Control {
  std::string cls;
  std::string text;
  RECT rect{};  // in the dialog's client coordinates
  LONG style = 0;
};

// One dialog or message box the launcher showed.
struct Shown {
  std::string caption;
  std::map<int, Control> controls;  // by control id
  RECT rect{};
  size_t colours = 0;  // distinct colours in its screenshot

  // Which of the launcher's windows it is: the runtime dialog has a static
  // message, the error dialog an edit control, a message box neither.
  std::string kind() const {
    const auto message = controls.find(109);
    if (message == controls.end()) return "message box";
    return message->second.cls == "Static" ? "runtime dialog" : "error dialog";
  }
  std::string text(int id) const {
    const auto it = controls.find(id);
    return it == controls.end() ? "(no control " + std::to_string(id) + ")" : it->second.text;
  }
  // The message box's text: its one static control that holds text.
  std::string messageBoxText() const {
    for (const auto& [id, control] : controls)
      if (control.cls == "Static" && !control.text.empty()) return control.text;
    return "(none)";
  }
};

// Photographs `window` from the screen into a 24-bit BMP file; returns the
// number of distinct colours (1 for a window that was never drawn).
size_t screenshot(HWND window, const std::string& path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return 0;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up, as BMP files store rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  std::string pixels(stride * static_cast<size_t>(height), '\0');
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER head{};
  head.bfType = 0x4D42;  // "BM"
  head.bfOffBits = sizeof head + sizeof info;
  head.bfSize = static_cast<DWORD>(head.bfOffBits + pixels.size());
  std::string file(reinterpret_cast<const char*>(&head), sizeof head);
  file.append(reinterpret_cast<const char*>(&info), sizeof info);
  file += pixels;
  writeFile(path, file);

  std::set<uint32_t> colours;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto* p = reinterpret_cast<const uint8_t*>(pixels.data()) + static_cast<size_t>(y) * stride + x * 3;
      colours.insert(p[0] | p[1] << 8 | p[2] << 16);
    }
  return colours.size();
}

Shown readDialog(HWND dialog, const std::string& screenshotName) {
  Shown shown;
  shown.caption = windowText(dialog);
  GetWindowRect(dialog, &shown.rect);
  struct Children {
    HWND dialog;
    Shown* shown;
  } children{dialog, &shown};
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM data) -> BOOL {
        auto* c = reinterpret_cast<Children*>(data);
        Control control;
        control.cls = className(child);
        control.text = windowText(child);
        control.style = GetWindowLongA(child, GWL_STYLE);
        GetWindowRect(child, &control.rect);
        MapWindowPoints(nullptr, c->dialog, reinterpret_cast<POINT*>(&control.rect), 2);
        c->shown->controls[GetDlgCtrlID(child)] = control;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  if (!screenshotName.empty()) {
    CreateDirectoryA(kScreenshots.c_str(), nullptr);
    shown.colours = screenshot(dialog, kScreenshots + "\\" + screenshotName + ".bmp");
  }
  return shown;
}

// ---- Processes ----------------------------------------------------------------------

struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const { return _stricmp(a.c_str(), b.c_str()) < 0; }
};
// Changes to the driver's environment: a value, or none to remove it.
using Environment = std::map<std::string, std::optional<std::string>, NoCase>;

std::string environmentBlock(const Environment& changes) {
  std::map<std::string, std::string, NoCase> all;
  char* const strings = GetEnvironmentStringsA();
  for (const char* e = strings; *e; e += std::strlen(e) + 1) {
    const std::string entry = e;
    const size_t eq = entry.find('=', 1);  // names of drive folders begin with "="
    if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  FreeEnvironmentStringsA(strings);
  for (const auto& [name, value] : changes) {
    if (value)
      all[name] = *value;
    else
      all.erase(name);
  }
  std::string block;
  for (const auto& [name, value] : all) block += name + "=" + value + '\0';
  return block + '\0';
}

struct Finished {
  DWORD exitCode = 0;
  std::string out;  // standard output and error
};

// Runs `commandLine` in `folder` with `environment`, calling `poll` every
// few milliseconds while it runs; ends it after a minute.
Finished runProgram(const std::string& commandLine, const Environment& environment, const std::string& folder,
                    const std::string& outputFile, const std::function<void(const PROCESS_INFORMATION&)>& poll = {}) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE out = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  std::string block = environmentBlock(environment);
  Finished finished;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, block.data(), folder.c_str(), &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
    CloseHandle(out);
    CloseHandle(in);
    return finished;
  }
  CloseHandle(out);
  CloseHandle(in);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (WaitForSingleObject(info.hProcess, 10) == WAIT_TIMEOUT) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "still running after a minute, ended: " << commandLine;
      TerminateProcess(info.hProcess, 0xDEAD);
      WaitForSingleObject(info.hProcess, INFINITE);
      break;
    }
    if (poll) poll(info);
  }
  GetExitCodeProcess(info.hProcess, &finished.exitCode);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  finished.out = readFile(outputFile);
  return finished;
}

// What the fake runtimes logged: one start each.
struct RuntimeRun {
  std::string name;  // JAVA, JRE, JVIEW, ...
  DWORD pid = 0;
  std::vector<std::string> args;
  std::string classPath;
  std::optional<size_t> jarSize;
};

std::vector<RuntimeRun> readRuns(const std::string& log) {
  std::vector<RuntimeRun> runs;
  for (const std::string& line : lines(readFile(log))) {
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "run") {
      runs.push_back({});
      runs.back().name = rest.substr(0, rest.find(' '));
      runs.back().pid = std::stoul(rest.substr(rest.find(' ') + 1));
    } else if (runs.empty()) {
      ADD_FAILURE() << "log line outside a run: " << line;
    } else if (word == "arg") {
      runs.back().args.push_back(rest);
    } else if (word == "classpath") {
      runs.back().classPath = rest;
    } else if (word == "jar") {
      runs.back().jarSize = std::stoul(rest);
    }
  }
  return runs;
}

std::string names(const std::vector<RuntimeRun>& runs) {
  std::string out;
  for (const RuntimeRun& run : runs) out += (out.empty() ? "" : " ") + run.name;
  return out;
}

// What one start of the launcher did.
struct Outcome {
  DWORD exitCode = 0;
  std::vector<Shown> shown;
  std::string out;
  std::vector<RuntimeRun> runs;
};

// Called once for each window the launcher shows, after it has been read;
// returns false to leave the window open (the test closes it itself).
using OnShown = std::function<bool(HWND window, const Shown& shown, DWORD pid)>;
// Called while the launcher runs.
using WhileRunning = std::function<void(const PROCESS_INFORMATION& launcher)>;

// ---- The fixture --------------------------------------------------------------------------

class WindowsLauncher : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    root_ = tempFolder() + "qvtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    // A space in the application's folder, as in "Program Files".
    app_ = root_ + "\\My App";
    runtimes_ = root_ + "\\runtimes";
    tmp_ = root_ + "\\tmp";
    log_ = root_ + "\\runtimes.log";
    launcher_ = app_ + "\\Test App.exe";
    removeTree(root_);
    for (const std::string& folder : {root_, app_, runtimes_, tmp_}) ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
  }
  void TearDown() override {
    // A program the test started (the link's) may still be on its way out,
    // its folder in use until it is gone.
    for (int i = 0; i < 300 && exists(root_); ++i) {
      removeTree(root_);
      if (exists(root_)) Sleep(10);
    }
    EXPECT_FALSE(exists(root_)) << root_;
  }

  // Fake runtimes under these names (without ".exe") in a folder on PATH.
  void addRuntimes(const std::vector<std::string>& names) {
    for (const std::string& name : names)
      ASSERT_TRUE(CopyFileA(kFakeRuntime.c_str(), (runtimes_ + "\\" + name + ".exe").c_str(), FALSE)) << name;
  }

  Finished recordTool(const std::string& exe, const std::vector<std::string>& options) {
    std::vector<std::string> argv{kRecordTool, exe};
    argv.insert(argv.end(), options.begin(), options.end());
    return runProgram(quorvanta::joinArguments(argv), {}, root_, root_ + "\\tool.out");
  }

  // Copies `source` into the application's folder as the launcher, and
  // writes the test's record into it: these options over the defaults.
  void makeLauncher(const std::vector<std::string>& options = {}, const std::string& source = kLauncher) {
    ASSERT_TRUE(CopyFileA(source.c_str(), launcher_.c_str(), FALSE));
    std::vector<std::string> all = {"--defined", "1",
                                    "--runtime-order", "java",
                                    "--min-java-version", "1.3",
                                    "--main-class", "demo.Main",
                                    "--vm-options", "-Dsay=hi -Xmx64m",
                                    "--class-path", "lib",
                                    "--app-name", "Test App",
                                    "--download-url", kLink};
    all.insert(all.end(), options.begin(), options.end());
    const Finished tool = recordTool(launcher_, all);
    ASSERT_EQ(tool.exitCode, 0u) << tool.out;
  }

  // Starts the launcher with `arguments` (its raw command line after the
  // program name) and these changes to its environment (QV_FAKE_<NAME>: what
  // each fake runtime does); `onShown` sees each dialog, `whileRunning` is
  // called every few milliseconds, and `screenshotName` names the photographs.
  Outcome launch(const std::string& arguments = "", const Environment& extra = {},
                 const OnShown& onShown = {}, const WhileRunning& whileRunning = {},
                 const std::string& screenshotName = "") {
    DeleteFileA(log_.c_str());
    Environment environment = {{"PATH", runtimes_ + ";" + systemPath()}, {"TMP", tmp_}, {"TEMP", tmp_},
                               {"CLASSPATH", std::nullopt}, {"QV_FAKE_LOG", log_}};
    for (const auto& [name, value] : extra) environment[name] = value;
    Outcome outcome;
    std::set<HWND> seen;
    const Finished finished = runProgram(
        "\"" + launcher_ + "\"" + (arguments.empty() ? "" : " " + arguments), environment, root_,
        root_ + "\\launcher.out", [&](const PROCESS_INFORMATION& launcher) {
          if (whileRunning) whileRunning(launcher);
          for (HWND window : topWindows(launcher.dwProcessId)) {
            if (seen.count(window) || !IsWindowVisible(window) || className(window) != "#32770") continue;
            seen.insert(window);
            Sleep(200);  // let it draw itself before the photograph
            const std::string photo =
                screenshotName.empty() || seen.size() == 1 ? screenshotName : screenshotName + "-" + std::to_string(seen.size());
            Shown shown = readDialog(window, photo);
            outcome.shown.push_back(shown);
            if (!onShown || onShown(window, shown, launcher.dwProcessId)) close(window, shown);
          }
        });
    outcome.exitCode = finished.exitCode;
    outcome.out = finished.out;
    outcome.runs = readRuns(log_);
    return outcome;
  }

  // Closes a dialog as its button would: "Close" (2) or the message box's OK (1).
  static void close(HWND window, const Shown& shown) {
    const int button = shown.kind() == "message box" ? IDOK : 2;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
  }

  static std::string systemPath() {
    char path[32768];
    const DWORD n = GetEnvironmentVariableA("PATH", path, sizeof path);
    return std::string(path, n < sizeof path ? n : 0);
  }

  bool tmpIsEmpty() const { return list(tmp_).empty(); }

  std::string root_;
  std::string app_;       // the launcher's folder
  std::string runtimes_;  // the fake runtimes, first on PATH
  std::string tmp_;       // the launcher's TMP
  std::string log_;       // what the fake runtimes log
  std::string launcher_;
};

// ---- The runs and what they show ------------------------------------------------------

TEST_F(WindowsLauncher, OutcomeOfTheRuntimesInTurn) {
  struct Case {
    const char* name;
    const char* order;
    std::map<std::string, std::string> runtimes;  // fake runtime -> what it does
    DWORD exitCode;
    const char* shown;  // kind of the one window shown, "" for none
    const char* runs;   // runtimes started, in order
  };
  const Case cases[] = {
      {"success", "java", {{"java", "marker"}}, 0, "", "JAVA"},
      {"no marker: not a working runtime", "java,jview", {{"java", ""}, {"jview", "marker"}}, 0, "", "JAVA JVIEW"},
      {"too old, nothing else", "java", {{"java", "marker exit=0x10000222"}}, 0x10000222, "runtime dialog", "JAVA"},
      {"too old, the next one runs", "java,jview", {{"java", "marker exit=0x10000222"}, {"jview", "marker"}}, 0, "",
       "JAVA JVIEW"},
      {"too old, the next one is missing", "java,jre", {{"java", "marker exit=0x10000222"}}, ERROR_FILE_NOT_FOUND,
       "runtime dialog", "JAVA"},
      {"the application's own code, no report", "java,jview", {{"java", "marker exit=3"}, {"jview", "marker"}}, 3, "",
       "JAVA"},
      {"the whole 32 bits of the application's code", "java", {{"java", "marker exit=0xFFFFFFFE"}}, 0xFFFFFFFE, "",
       "JAVA"},
      {"the application's report", "java,jview", {{"java", "marker report exit=0xC0DE"}, {"jview", "marker"}}, 0xC0DE,
       "error dialog", "JAVA"},
      {"a report without the marker", "java", {{"java", "report exit=5"}}, 5, "error dialog", "JAVA"},
      {"no runtime anywhere", "java,jview,jre", {}, ERROR_FILE_NOT_FOUND, "runtime dialog", ""},
      {"no runtime named", "", {{"java", "marker"}}, 0xFFFFFFFF, "runtime dialog", ""},
      {"an unknown kind is skipped", "9,java", {{"java", "marker"}}, 0, "", "JAVA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    removeTree(runtimes_);
    CreateDirectoryA(runtimes_.c_str(), nullptr);
    Environment behaviour;
    for (const auto& [runtime, actions] : c.runtimes) {
      addRuntimes({runtime});
      std::string upper = runtime;
      for (char& ch : upper) ch = static_cast<char>(ch - 'a' + 'A');
      behaviour["QV_FAKE_" + upper] = actions;
    }
    makeLauncher({"--runtime-order", c.order, "--min-java-version", "1.8"});
    const Outcome o = launch("", behaviour);
    EXPECT_EQ(o.exitCode, c.exitCode) << std::hex << o.exitCode;
    EXPECT_EQ(names(o.runs), c.runs);
    if (*c.shown == '\0') {
      EXPECT_TRUE(o.shown.empty()) << o.shown.front().caption << ": " << o.shown.front().text(109);
    } else if (o.shown.size() != 1) {
      ADD_FAILURE() << o.shown.size() << " windows shown";
    } else {
      const Shown& shown = o.shown.front();
      EXPECT_EQ(shown.kind(), c.shown);
      EXPECT_EQ(shown.caption, "Test App");
      EXPECT_EQ(shown.text(108), kLink);
      if (shown.kind() == "error dialog") {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(c.exitCode));
        EXPECT_EQ(shown.text(109), errorText(hex, kReport));
      } else {
        EXPECT_EQ(shown.text(109), c.exitCode == 0x10000222 || std::string(c.name).starts_with("too old")
                                        ? updateText("1.8")
                                        : kNoRuntimeText);
      }
    }
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(WindowsLauncher, DialogsAsTheUserSeesThem) {
  struct Case {
    const char* screenshot;
    const char* order;
    const char* java;  // what the fake java does
    std::string message;
    const char* messageClass;
    LONG messageStyle;  // style bits the message control must have
  };
  const Case cases[] = {
      {"runtime-missing", "", "", kNoRuntimeText, "Static", 0},
      {"runtime-update", "java", "marker exit=0x10000222", updateText("1.8"), "Static", 0},
      {"application-error", "java", "marker report exit=1", errorText("1", kReport), "Edit",
       ES_MULTILINE | ES_READONLY | WS_VSCROLL},
  };
  addRuntimes({"java"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.screenshot);
    makeLauncher({"--runtime-order", c.order, "--min-java-version", "1.8"});
    const Outcome o = launch("", {{"QV_FAKE_JAVA", c.java}}, {}, {}, c.screenshot);
    ASSERT_EQ(o.shown.size(), 1u);
    const Shown& d = o.shown.front();
    EXPECT_EQ(d.caption, "Test App");
    // The five controls of both templates, with the texts of the run.
    const std::map<int, std::pair<std::string, std::string>> expected = {
        {2, {"Button", "Close"}},
        {104, {"Button", "Message"}},
        {108, {"Edit", kLink}},
        {109, {c.messageClass, c.message}},
        {100, {"Button", "Go!"}},
    };
    ASSERT_EQ(d.controls.size(), expected.size());
    for (const auto& [id, control] : expected) {
      EXPECT_EQ(d.controls.at(id).cls, control.first) << id;
      EXPECT_EQ(d.controls.at(id).text, control.second) << id;
    }
    EXPECT_EQ(d.controls.at(104).style & BS_TYPEMASK, BS_GROUPBOX);
    EXPECT_EQ(d.controls.at(108).style & ES_READONLY, ES_READONLY);
    EXPECT_EQ(d.controls.at(109).style & c.messageStyle, c.messageStyle);
    // Laid out as the template says: the group box frames the message and
    // the link, the buttons below and beside them.
    const RECT frame = d.controls.at(104).rect;
    for (int id : {108, 109, 100}) {
      const RECT r = d.controls.at(id).rect;
      EXPECT_TRUE(r.left > frame.left && r.right < frame.right && r.top > frame.top && r.bottom < frame.bottom) << id;
    }
    EXPECT_GT(d.controls.at(2).rect.top, frame.bottom);
    EXPECT_GT(d.controls.at(100).rect.left, d.controls.at(108).rect.right);
    // Centred on the screen.
    const int width = d.rect.right - d.rect.left;
    const int height = d.rect.bottom - d.rect.top;
    EXPECT_EQ(d.rect.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(d.rect.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    // Drawn: a frame, a caption, text.
    EXPECT_GT(d.colours, 4u);
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(WindowsLauncher, GoButtonOpensTheLinkAndTheDialogStays) {
  // The link is a program of ours, so that opening it leaves a trace: the
  // fake runtime under another name logs its start.
  addRuntimes({"go"});
  const std::string go = runtimes_ + "\\go.exe";
  makeLauncher({"--runtime-order", "", "--download-url", go});
  bool stayed = false;
  const Outcome o = launch("", {}, [&](HWND dialog, const Shown&, DWORD) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(100, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 100)));
    for (int i = 0; i < 1000 && readRuns(log_).empty(); ++i) Sleep(10);
    stayed = IsWindow(dialog) && IsWindowVisible(dialog);
    return true;  // then closed
  });
  EXPECT_EQ(o.exitCode, 0xFFFFFFFF);
  ASSERT_EQ(o.shown.size(), 1u);
  // An edit control of lower-case style: the path as the user would see it.
  std::string lower = go;
  CharLowerA(lower.data());
  EXPECT_EQ(o.shown.front().text(108), lower);
  EXPECT_EQ(names(o.runs), "GO");
  EXPECT_TRUE(stayed);
}

TEST_F(WindowsLauncher, RecordStates) {
  addRuntimes({"java"});
  const Environment java = {{"QV_FAKE_JAVA", "marker"}};

  // As built: the record is not defined yet.
  ASSERT_TRUE(CopyFileA(kLauncher.c_str(), launcher_.c_str(), FALSE));
  Outcome o = launch("", java, {}, {}, "message-not-defined");
  EXPECT_EQ(o.exitCode, 1u);
  ASSERT_EQ(o.shown.size(), 1u);
  EXPECT_EQ(o.shown[0].kind(), "message box");
  EXPECT_EQ(o.shown[0].caption, "Quorvanta");
  EXPECT_EQ(o.shown[0].messageBoxText(), "Startup information not defined.");
  EXPECT_EQ(o.shown[0].controls.at(IDOK).text, "OK");
  EXPECT_TRUE(o.runs.empty());
  EXPECT_TRUE(tmpIsEmpty());

  // A record resource of 1449 bytes does not fit its 1448-byte room: no
  // record, so no name for the caption either.
  ASSERT_TRUE(CopyFileA(kOversizeLauncher.c_str(), launcher_.c_str(), FALSE));
  o = launch("", java, {}, {}, "message-unreadable");
  EXPECT_EQ(o.exitCode, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_EQ(o.shown.size(), 1u);
  EXPECT_EQ(o.shown[0].caption, "");
  EXPECT_EQ(o.shown[0].messageBoxText(), "Unable to read startup information.");
  EXPECT_TRUE(o.runs.empty());
  EXPECT_TRUE(tmpIsEmpty());

  // The signature is skipped, not compared.
  makeLauncher();
  std::string bytes = readFile(launcher_);
  const size_t at = bytes.find("KLOV_DATA_SIGN");
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 14, std::string(14, 'X'));
  writeFile(launcher_, bytes);
  o = launch("", java);
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_TRUE(o.shown.empty());
  EXPECT_EQ(names(o.runs), "JAVA");
}

TEST_F(WindowsLauncher, EachRuntimeKindGetsItsCommand) {
  struct Case {
    const char* kind;
    std::vector<std::string> before;  // the words before the loader class
    bool trailingSeparator;
  };
  // Split by the runtime as every Windows program splits its command line
  // (CommandLineToArgvW): the launcher's own arguments arrive as the
  // launcher got them, after the loader's three.
  const std::string arguments = R"(plain "two words" "say \"hi\"" back\slash\ "end\\" "")";
  const Case cases[] = {
      {"java", {"-Dsay=hi", "-Xmx64m"}, false},
      {"jre", {"-cp", "(class path)", "-Dsay=hi", "-Xmx64m"}, true},
      {"jview", {"-Dsay=hi", "-Xmx64m"}, true},
  };
  addRuntimes({"java", "jre", "jview"});
  const std::string jar = readFile(kLoaderJar);
  ASSERT_FALSE(jar.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    makeLauncher({"--runtime-order", c.kind});
    std::string upper = c.kind;
    CharUpperA(upper.data());
    const Outcome o = launch(arguments, {{"QV_FAKE_" + upper, "marker"}});
    EXPECT_EQ(o.exitCode, 0u);
    ASSERT_EQ(o.runs.size(), 1u);
    const RuntimeRun& run = o.runs.front();
    std::vector<std::string> want = c.before;
    for (std::string& word : want)
      if (word == "(class path)") word = masked(run.classPath);
    want.insert(want.end(), {"com.velmar.KLOVClassLoader", "1.3", "demo.Main",
                             tmp_ + "\\KLO####.TMP" + (c.trailingSeparator ? "\\" : ""), "plain", "two words",
                             "say \"hi\"", "back\\slash\\", "end\\", ""});
    std::vector<std::string> got = run.args;
    for (std::string& word : got) word = masked(word);
    EXPECT_EQ(got, want);
    EXPECT_EQ(run.jarSize, jar.size());
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(WindowsLauncher, ClassPathOfEveryElementKind) {
  struct Case {
    const char* name;
    std::optional<std::string> inherited;
    std::string record;
    std::string expected;  // before the launcher's folder and the jar
  };
  // The launcher's folder is on drive C: (Windows' temporary folder).
  ASSERT_EQ(app_.substr(1, 2), ":\\");
  const std::string drive = app_.substr(0, 2);
  const Case cases[] = {
      {"unset", std::nullopt, "lib", app_ + "\\lib;"},
      {"set", R"(D:\else\a.jar)", "lib", R"(D:\else\a.jar;)" + app_ + "\\lib;"},
      {"set, ending in ;", R"(D:\else\a.jar;)", "lib", R"(D:\else\a.jar;)" + app_ + "\\lib;"},
      {"relative, rooted, drive-absolute, empty", std::nullopt, R"(lib\a.jar;\shared\b.jar;E:\c.jar;)",
       app_ + R"(\lib\a.jar;)" + drive + R"(\shared\b.jar;E:\c.jar;)" + app_ + "\\;"},
  };
  addRuntimes({"java", "jre"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makeLauncher({"--runtime-order", "jre", "--class-path", c.record});
    const Outcome o = launch("", {{"CLASSPATH", c.inherited}, {"QV_FAKE_JRE", "marker"}});
    EXPECT_EQ(o.exitCode, 0u);
    ASSERT_EQ(o.runs.size(), 1u);
    const std::string value = c.expected + app_ + ";" + tmp_ + "\\KLO####.TMP\\KLOVCreator.jar";
    EXPECT_EQ(masked(o.runs[0].classPath), value);
    ASSERT_GE(o.runs[0].args.size(), 2u);
    EXPECT_EQ(o.runs[0].args[0], "-cp");
    EXPECT_EQ(masked(o.runs[0].args[1]), value);  // one argument, spaces and all
  }
}

TEST_F(WindowsLauncher, LongValuesArriveWhole) {
  // Far beyond the 1024 bytes of a class path and the 2048 of a command.
  std::string inherited;
  for (int i = 0; inherited.size() < 3000; ++i) inherited += "C:\\libraries\\library-" + std::to_string(i) + ".jar;";
  const std::string argument(3000, 'a');
  addRuntimes({"java"});
  makeLauncher({"--class-path", std::string(500, 'c')});
  const Outcome o = launch(argument + " tail", {{"CLASSPATH", inherited}, {"QV_FAKE_JAVA", "marker"}});
  EXPECT_EQ(o.exitCode, 0u);
  ASSERT_EQ(o.runs.size(), 1u);
  EXPECT_EQ(masked(o.runs[0].classPath), inherited + app_ + "\\" + std::string(500, 'c') + ";" + app_ + ";" + tmp_ +
                                             "\\KLO####.TMP\\KLOVCreator.jar");
  ASSERT_GE(o.runs[0].args.size(), 2u);
  EXPECT_EQ(o.runs[0].args[o.runs[0].args.size() - 2], argument);
  EXPECT_EQ(o.runs[0].args.back(), "tail");
}

TEST_F(WindowsLauncher, TemporaryFolderNotMade) {
  addRuntimes({"java"});
  makeLauncher();
  const Outcome o = launch("", {{"TMP", root_ + "\\missing"}, {"TEMP", root_ + "\\missing"}});
  EXPECT_EQ(o.exitCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(o.out, "Unable to create temporary directory!\r\n");
  ASSERT_EQ(o.shown.size(), 1u);
  EXPECT_EQ(o.shown[0].caption, "Test App");
  EXPECT_EQ(o.shown[0].messageBoxText(), "Unable to create temporary data location information.");
  EXPECT_TRUE(o.runs.empty());
}

TEST_F(WindowsLauncher, WatchWindowEndsTheChild) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
    bool ends;
  };
  const Case cases[] = {
      {"WM_CLOSE", WM_CLOSE, 0, true},
      {"WM_ENDSESSION", WM_ENDSESSION, TRUE, true},
      // A shutdown that was cancelled, and the question before one.
      {"WM_ENDSESSION, cancelled", WM_ENDSESSION, FALSE, false},
      {"WM_QUERYENDSESSION", WM_QUERYENDSESSION, 0, false},
  };
  addRuntimes({"java"});
  makeLauncher();
  const std::string jar = readFile(kLoaderJar);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool sent = false;
    const Outcome o = launch("", {{"QV_FAKE_JAVA", "marker wait"}}, {}, [&](const PROCESS_INFORMATION& launcher) {
      if (sent) return;
      const std::vector<RuntimeRun> runs = readRuns(log_);
      HWND watch = nullptr;
      for (HWND window : topWindows(launcher.dwProcessId))
        if (className(window) == "Test App" && windowText(window) == "Test App") watch = window;
      if (runs.empty() || !watch) return;  // not yet
      sent = true;
      // Meanwhile: the one folder of ours, with the jar as built and the marker.
      const std::vector<std::string> folders = list(tmp_);
      ASSERT_EQ(folders.size(), 1u);
      EXPECT_EQ(readFile(tmp_ + "\\" + folders[0] + "\\KLOVCreator.jar"), jar);
      EXPECT_TRUE(exists(tmp_ + "\\" + folders[0] + "\\665824.A"));
      EXPECT_FALSE(IsWindowVisible(watch));

      const HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                       runs[0].pid);
      ASSERT_NE(child, nullptr);
      DWORD_PTR answer = 0;
      EXPECT_TRUE(SendMessageTimeoutA(watch, c.message, c.wParam, 0, SMTO_ABORTIFHUNG, 5000, &answer));
      if (c.message != WM_ENDSESSION) {
        EXPECT_EQ(answer, 1u);
      }
      const bool ended = WaitForSingleObject(child, c.ends ? 5000 : 500) == WAIT_OBJECT_0;
      EXPECT_EQ(ended, c.ends);
      DWORD code = 0xDEAD;
      GetExitCodeProcess(child, &code);
      if (ended) {
        EXPECT_EQ(code, 0u);
      } else {
        TerminateProcess(child, 0);  // as the application would end, in the end
      }
      CloseHandle(child);
    });
    EXPECT_TRUE(sent) << "the runtime or the watch window never appeared";
    // Ended with 0 after its marker: the application counts as having run.
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_TRUE(o.shown.empty());
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(WindowsLauncher, WatchAfterTheChildEndedTouchesNothing) {
  // The runtime has ended and its handle is closed when the dialog shows;
  // a close request now must not reach for it, and the dialog stays.
  addRuntimes({"java"});
  makeLauncher();
  bool stayed = false;
  const Outcome o = launch("", {{"QV_FAKE_JAVA", "exit=7"}}, [&](HWND dialog, const Shown&, DWORD pid) {
    for (HWND window : topWindows(pid))
      if (className(window) == "Test App") SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    Sleep(200);
    stayed = IsWindowVisible(dialog);
    return true;
  });
  EXPECT_TRUE(stayed);
  EXPECT_EQ(o.exitCode, 7u);
  ASSERT_EQ(o.shown.size(), 1u);
  EXPECT_EQ(o.shown[0].text(109), kNoRuntimeText);
  EXPECT_TRUE(tmpIsEmpty());
}

// ---- quorvanta-record.exe -------------------------------------------------------------

TEST_F(WindowsLauncher, RecordToolPrintsAndRefuses) {
  ASSERT_TRUE(CopyFileA(kLauncher.c_str(), launcher_.c_str(), FALSE));
  const std::string before = readFile(launcher_);
  const size_t at = before.find("KLOV_DATA_SIGN");
  ASSERT_NE(at, std::string::npos);
  Finished r = recordTool(launcher_, {});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "record at offset " + std::to_string(at) +
                       "\r\n"
                       "defined         0\r\n"
                       "runtimeOrder    1 (java.exe), 3 (jview.exe), 2 (jre.exe)\r\n"
                       "minJavaVersion  1.3\r\n"
                       "mainClass\r\n"
                       "classPath\r\n"
                       "vmOptions\r\n"
                       "reserved1       2\r\n"
                       "reserved2       0\r\n"
                       "downloadUrl     https://www.java.com/download/\r\n"
                       "appName         Quorvanta\r\n");

  // A value one byte too long for its field: refused, nothing written.
  r = recordTool(launcher_, {"--defined", "1", "--app-name", std::string(255, 'n')});
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.out, "quorvanta-record: --app-name holds at most 254 bytes; the value has 255\r\n");
  EXPECT_EQ(readFile(launcher_), before);

  // The longest value fits, at the field's place in the resource.
  r = recordTool(launcher_, {"--app-name", std::string(254, 'n')});
  EXPECT_EQ(r.exitCode, 0u);
  const std::string after = readFile(launcher_);
  EXPECT_EQ(after.substr(at + 14 + 1179, 255), std::string(254, 'n') + '\0');
  EXPECT_EQ(after.substr(0, at + 14 + 1179), before.substr(0, at + 14 + 1179));
  EXPECT_EQ(after.substr(at + 1448), before.substr(at + 1448));
}

// After every test: nothing of the launcher's is left in Windows' own
// temporary folder (the one the tests' TMP does not replace).
TEST(WindowsTemporaryFolder, HoldsNothingOfOurs) {
  EXPECT_EQ(list(tempFolder().substr(0, tempFolder().size() - 1), "KLO*.TMP"), std::vector<std::string>{});
  EXPECT_EQ(list(tempFolder().substr(0, tempFolder().size() - 1), "qvtest-*"), std::vector<std::string>{});
}

}  // namespace
