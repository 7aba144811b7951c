// A stand-in for a Java runtime, since none can be installed for Windows
// here. Copied under a runtime's name (java.exe, jre.exe, jview.exe), it
// writes into the log named by QV_FAKE_LOG how it was started — its
// arguments as Windows' own CommandLineToArgvW splits them, the CLASSPATH
// it inherited, the loader jar it found — and then does what the variable
// QV_FAKE_<NAME> (JAVA, JRE, JVIEW, ...) says, words separated by spaces:
//   marker     creates the marker "665824.A" in the folder the launcher named
//   update     as marker, holding the loader's "runtime too old" mark
//   report     writes "errStack.txt" there (kReport below)
//   wait       waits until it is ended from outside
//   exit=N     ends with exit code N (decimal or 0x...); 0 without it
// Without its variable it only logs and ends with 0, as a runtime that does
// not run the loader would.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kLoaderClass = "com.velmar.KLOVClassLoader";
constexpr std::string_view kReport =
    "java.lang.IllegalStateException: thrown by the test application\r\n"
    "\tat Thrower.main(Thrower.java:3)\r\n";

std::string narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::string environment(const char* name, const char* otherwise) {
  const DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
  if (n == 0) return otherwise;
  std::string value(n, '\0');
  value.resize(GetEnvironmentVariableA(name, value.data(), n));
  return value;
}

void writeFile(const std::string& path, std::string_view text, bool append) {
  const HANDLE file = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The program's own name without folder and extension, in capitals.
std::string ownName() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, n);
  name = name.substr(name.find_last_of("\\/") + 1);
  name = name.substr(0, name.rfind('.'));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

}  // namespace

int main() {
  const std::string name = ownName();
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(narrow(words[i]));
  LocalFree(words);

  // The folder is the loader's third argument.
  std::string folder;
  for (size_t i = 0; i + 3 < args.size(); ++i)
    if (args[i] == kLoaderClass) folder = args[i + 3];
  const std::string within = folder.empty() || folder.back() == '\\' ? folder : folder + "\\";

  std::string log = "run " + name + " " + std::to_string(GetCurrentProcessId()) + "\n";
  for (const std::string& arg : args) log += "arg " + arg + "\n";
  log += "classpath " + environment("CLASSPATH", "(unset)") + "\n";
  WIN32_FILE_ATTRIBUTE_DATA jar{};
  if (!folder.empty() && GetFileAttributesExA((within + "KLOVCreator.jar").c_str(), GetFileExInfoStandard, &jar))
    log += "jar " + std::to_string(jar.nFileSizeLow) + "\n";
  const std::string logPath = environment("QV_FAKE_LOG", "");
  if (!logPath.empty()) writeFile(logPath, log, true);

  const std::string actions = " " + environment(("QV_FAKE_" + name).c_str(), "") + " ";
  const auto has = [&](std::string_view word) { return actions.find(" " + std::string(word) + " ") != std::string::npos; };
  if (!folder.empty()) {
    if (has("marker")) writeFile(within + "665824.A", "", false);
    if (has("update")) writeFile(within + "665824.A", "10000222", false);
    if (has("report")) writeFile(within + "errStack.txt", kReport, false);
  }
  if (has("wait")) Sleep(INFINITE);
  // The whole 32-bit code, whatever int would make of it.
  const size_t exit = actions.find(" exit=");
  ExitProcess(exit == std::string::npos ? 0 : static_cast<UINT>(std::strtoul(actions.c_str() + exit + 6, nullptr, 0)));
}
