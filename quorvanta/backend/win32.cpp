// The launcher's backend on Windows: resources of the executable itself,
// the temporary folder, CreateProcessA for the runtimes, the two dialog
// templates and message boxes, and the hidden watch window on a thread of
// its own that ends the child when the session ends or the window is
// closed.
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <array>
#include <cstdio>
#include <new>
#include <vector>

#include "quorvanta/core/backend.h"

namespace quorvanta {

namespace {

// Control ids of both dialog templates.
constexpr int kCloseButton = 2;
constexpr int kLinkEdit = 108;
constexpr int kMessageText = 109;
constexpr int kGoButton = 100;

// Keeps the system's last-error code across clean-up calls.
class KeepLastError {
 public:
  KeepLastError() : code_(GetLastError()) {}
  ~KeepLastError() { SetLastError(code_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

 private:
  DWORD code_;
};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) {
      KeepLastError keep;
      CloseHandle(h_);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

struct DialogText {
  std::string caption;
  std::string message;
  std::string link;
};

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* text = reinterpret_cast<const DialogText*>(lParam);
      RECT desktop{};
      RECT own{};
      GetWindowRect(GetDesktopWindow(), &desktop);
      GetWindowRect(dialog, &own);
      const int x = ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
      const int y = ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
      SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      SetWindowTextA(dialog, text->caption.c_str());
      SetDlgItemTextA(dialog, kMessageText, text->message.c_str());
      SetDlgItemTextA(dialog, kLinkEdit, text->link.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (wParam == kCloseButton) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      if (LOWORD(wParam) == kGoButton) {
        std::array<char, 260> link{};
        GetDlgItemTextA(dialog, kLinkEdit, link.data(), static_cast<int>(link.size()));
        ShellExecuteA(nullptr, "open", link.data(), nullptr, ".", SW_SHOWNORMAL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

struct WatchData {
  std::string appName;
  std::function<void()> onSessionEnd;
};

LRESULT CALLBACK watchWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  }
  switch (message) {
    case WM_ENDSESSION:
      // FALSE: a shutdown was cancelled, the session goes on, and so does
      // the application.
      if (!wParam) return 0;
      [[fallthrough]];
    case WM_DESTROY:
    case WM_CLOSE: {
      // terminateChild: end the child, then this thread stops for good.
      // The answer goes out first: whoever sent the message (Windows
      // ending the session, another program) would otherwise wait for a
      // thread that never runs again, or find no answer at all when the
      // launcher, its child ended, cleans up and exits before this thread
      // runs on.
      ReplyMessage(1);
      const auto* watch = reinterpret_cast<const WatchData*>(GetWindowLongPtrA(window, 0));
      if (watch) watch->onSessionEnd();
      SuspendThread(GetCurrentThread());
      return 1;
    }
    case WM_QUERYENDSESSION:
      return 1;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

DWORD WINAPI watchThread(void* parameter) {
  auto* watch = static_cast<WatchData*>(parameter);
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return 0;
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const HINSTANCE instance = GetModuleHandleA(path.c_str());
  if (!instance) return 0;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = watchWindow;
  windowClass.cbWndExtra = 8;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = watch->appName.c_str();
  if (!RegisterClassA(&windowClass)) return 0;
  const HWND window = CreateWindowExA(0, watch->appName.c_str(), watch->appName.c_str(), 0, 0, 0, 0, 0, nullptr,
                                      nullptr, instance, watch);
  if (!window) return 0;
  MSG message;
  while (GetMessageA(&message, window, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

// The SID of the user the process runs as, in its "S-1-5-..." form.
std::optional<std::string> userSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
  const Handle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::nullopt;
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return std::nullopt;
  std::string sid = text;
  LocalFree(text);
  return sid;
}

class Win32Backend final : public Backend {
 public:
  PathStyle pathStyle() const override { return PathStyle::windows; }
  uint32_t lastError() const override { return GetLastError(); }

  void setFailure(Failure failure) override {
    switch (failure) {
      case Failure::tooLarge:
        return SetLastError(ERROR_INSUFFICIENT_BUFFER);
      case Failure::noMemory:
        return SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      case Failure::badName:
        return SetLastError(ERROR_INVALID_NAME);
    }
  }

  std::optional<std::span<const uint8_t>> findResource(uint16_t id) override {
    const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (!found) return std::nullopt;
    const HGLOBAL loaded = LoadResource(nullptr, found);
    if (!loaded) return std::nullopt;
    const DWORD size = SizeofResource(nullptr, found);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    if (!bytes) return std::nullopt;
    return std::span(bytes, size);
  }

  std::optional<std::string> tempDirectory() override {
    std::string path(MAX_PATH + 1, '\0');
    for (;;) {
      const DWORD n = GetTempPathA(static_cast<DWORD>(path.size()), path.data());
      if (n == 0) return std::nullopt;
      if (n < path.size()) {
        path.resize(n);
        return path;
      }
      path.resize(n + 1);
    }
  }

  uint32_t tickCount() override { return GetTickCount(); }

  DirectoryResult createPrivateDirectory(const std::string& path) override {
    // Full access for the user the launcher runs as and for the system,
    // nobody else, passed on to the files inside; the temporary folder's
    // own permissions are not inherited. Named by the user's own SID: not
    // every system knows the "owner rights" alias, and a descriptor that
    // fails to build must not leave a folder open to everyone.
    const std::optional<std::string> user = userSid();
    if (!user) return DirectoryResult::failed;
    const std::string sddl = "D:P(A;OICI;FA;;;" + *user + ")(A;OICI;FA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
      return DirectoryResult::failed;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const BOOL created = CreateDirectoryA(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    if (created) return DirectoryResult::created;
    return error == ERROR_ALREADY_EXISTS ? DirectoryResult::exists : DirectoryResult::failed;
  }

  bool fileExists(const std::string& path) override { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
  bool removeDirectory(const std::string& path) override { return RemoveDirectoryA(path.c_str()) != 0; }

  bool writeNewFile(const std::string& path, std::span<const uint8_t> bytes) override {
    const Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
      done += written;
    }
    return true;
  }

  FileRead readFile(const std::string& path) override {
    FileRead result;
    const Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return result;
    try {
      result.bytes.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      result.status = FileRead::noMemory;
      return result;
    }
    size_t done = 0;
    while (done < result.bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(result.bytes.size() - done, 1u << 30));
      DWORD read = 0;
      if (!ReadFile(file.get(), result.bytes.data() + done, chunk, &read, nullptr) || read == 0) break;
      done += read;
    }
    result.status = done == result.bytes.size() ? FileRead::ok : FileRead::shortRead;
    result.bytes.resize(done);
    return result;
  }

  std::optional<std::string> getEnvironment(const std::string& name) override {
    std::string value;
    DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    while (size != 0) {
      value.resize(size);
      const DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(), size);
      if (n < size) {
        value.resize(n);
        return value;
      }
      size = n;  // it grew meanwhile
    }
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }

  bool setEnvironment(const std::string& name, const std::string& value) override {
    return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
  }

  std::optional<std::string> modulePath() override {
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD n = GetModuleFileNameA(GetModuleHandleA(nullptr), path.data(), static_cast<DWORD>(path.size()));
      if (n == 0) return std::nullopt;
      if (n < path.size()) {
        path.resize(n);
        return path;
      }
      path.resize(path.size() * 2);
    }
  }

  std::optional<ProcessHandle> startProcess(const std::string& commandLine) override {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;  // CreateProcessA may write into it
    // No application name: the system searches for the program the line
    // names first. A null environment is the launcher's current one, with
    // the CLASSPATH set for the runtimes.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &info))
      return std::nullopt;
    ProcessHandle handle;
    handle.process = reinterpret_cast<intptr_t>(info.hProcess);
    handle.thread = reinterpret_cast<intptr_t>(info.hThread);
    return handle;
  }

  bool waitProcess(const ProcessHandle& process) override {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(process.process), INFINITE) == WAIT_OBJECT_0;
  }

  std::optional<uint32_t> processExitCode(const ProcessHandle& process) override {
    DWORD code = 0;
    if (!GetExitCodeProcess(reinterpret_cast<HANDLE>(process.process), &code)) return std::nullopt;
    return code;
  }

  void closeProcess(ProcessHandle& process) override {
    KeepLastError keep;
    if (process.process) CloseHandle(reinterpret_cast<HANDLE>(process.process));
    if (process.thread) CloseHandle(reinterpret_cast<HANDLE>(process.thread));
    process = {};
  }

  void terminateProcess(ProcessHandle& process) override {
    if (!process.process) return;
    process.terminated = true;
    TerminateProcess(reinterpret_cast<HANDLE>(process.process), 0);
  }

  bool showDialog(DialogId id, const std::string& caption, const std::string& message, const std::string& link) override {
    DialogText text{caption, message, link};
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(static_cast<int>(id)), nullptr, dialogProcedure,
                           reinterpret_cast<LPARAM>(&text)) != -1;
  }

  void showMessageBox(const std::string& caption, const std::string& text) override {
    MessageBoxA(GetDesktopWindow(), text.c_str(), caption.c_str(), MB_ICONSTOP | MB_OK);
  }

  void writeStdout(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void startWatch(const std::string& appName, std::function<void()> onSessionEnd) override {
    // Owned here for the rest of the process: the window uses it until the end.
    watch_ = std::make_unique<WatchData>(WatchData{appName, std::move(onSessionEnd)});
    const HANDLE thread = CreateThread(nullptr, 0, watchThread, watch_.get(), 0, nullptr);
    if (thread) CloseHandle(thread);
  }

 private:
  std::unique_ptr<WatchData> watch_;
};

}  // namespace

std::unique_ptr<Backend> makeHostBackend(int, char**) { return std::make_unique<Win32Backend>(); }

std::string hostLauncherArguments(int, char**) {
  // What WinMain would get: the raw command line after the program name.
  const std::string_view line = GetCommandLineA();
  size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    i = line.find('"', 1);
    i = i == std::string_view::npos ? line.size() : i + 1;
  }
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return std::string(line.substr(i));
}

}  // namespace quorvanta
