// The launcher's Win32 backend in a Windows program of its own (under Wine
// here), where a test can choose what the system clock says: the
// temporary folder is made atomically and private, and a name someone else
// holds is walked past and left alone.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "quorvanta/core/backend.h"
#include "quorvanta/core/launcher.h"

namespace quorvanta {
namespace {

// The host's backend with a clock and a temporary folder of the test's.
class PinnedBackend final : public Backend {
 public:
  PinnedBackend(std::string tempRoot, uint32_t tick) : tempRoot_(std::move(tempRoot)), tick_(tick) {}

  PathStyle pathStyle() const override { return host_->pathStyle(); }
  uint32_t lastError() const override { return host_->lastError(); }
  void setFailure(Failure failure) override { host_->setFailure(failure); }
  std::optional<std::span<const uint8_t>> findResource(uint16_t id) override { return host_->findResource(id); }
  std::optional<std::string> tempDirectory() override { return tempRoot_; }
  uint32_t tickCount() override { return tick_; }
  DirectoryResult createPrivateDirectory(const std::string& path) override {
    return host_->createPrivateDirectory(path);
  }
  bool fileExists(const std::string& path) override { return host_->fileExists(path); }
  bool deleteFile(const std::string& path) override { return host_->deleteFile(path); }
  bool removeDirectory(const std::string& path) override { return host_->removeDirectory(path); }
  bool writeNewFile(const std::string& path, std::span<const uint8_t> bytes) override {
    return host_->writeNewFile(path, bytes);
  }
  FileRead readFile(const std::string& path) override { return host_->readFile(path); }
  std::optional<std::string> getEnvironment(const std::string& name) override { return host_->getEnvironment(name); }
  bool setEnvironment(const std::string& name, const std::string& value) override {
    return host_->setEnvironment(name, value);
  }
  std::optional<std::string> modulePath() override { return host_->modulePath(); }
  std::optional<ProcessHandle> startProcess(const std::string& commandLine) override {
    return host_->startProcess(commandLine);
  }
  bool waitProcess(const ProcessHandle& process) override { return host_->waitProcess(process); }
  std::optional<uint32_t> processExitCode(const ProcessHandle& process) override {
    return host_->processExitCode(process);
  }
  void closeProcess(ProcessHandle& process) override { host_->closeProcess(process); }
  void terminateProcess(ProcessHandle& process) override { host_->terminateProcess(process); }
  bool showDialog(DialogId id, const std::string& caption, const std::string& message,
                  const std::string& link) override {
    return host_->showDialog(id, caption, message, link);
  }
  void showMessageBox(const std::string& caption, const std::string& text) override {
    host_->showMessageBox(caption, text);
  }
  void writeStdout(std::string_view text) override { stdout_ += text; }
  void startWatch(const std::string& appName, std::function<void()> onSessionEnd) override {
    host_->startWatch(appName, std::move(onSessionEnd));
  }

  std::string stdout_;

 private:
  std::unique_ptr<Backend> host_ = makeHostBackend(0, nullptr);
  std::string tempRoot_;
  uint32_t tick_;
};

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void put(const std::string& path, const std::string& text) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string contents(const std::string& path) {
  std::string out;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(none)";
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  CloseHandle(file);
  return out;
}

// The test's own user, as Windows names it.
std::string userSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "(no token)";
  char buffer[256];
  DWORD size = 0;
  std::string sid = "(no user)";
  char* text = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

class Win32TempFolder : public testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH + 1];
    GetTempPathA(sizeof path, path);
    root_ = std::string(path) + "qvbackend-" + std::to_string(GetCurrentProcessId()) + "\\";
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr)) << root_;
  }
  void TearDown() override {
    for (const char* name : {"KLO1234.TMP\\theirs", "KLO1235.TMP", "KLOFFFF.TMP\\theirs"}) DeleteFileA((root_ + name).c_str());
    for (const char* name : {"KLO1234.TMP", "KLOFFFF.TMP"}) RemoveDirectoryA((root_ + name).c_str());
    EXPECT_TRUE(RemoveDirectoryA(root_.c_str())) << "left in " << root_;
  }
  std::string root_;
};

TEST_F(Win32TempFolder, TakenNamesAreWalkedPastAndLeftAlone) {
  // The clock gives 0x1234: that name is someone's folder, the next one
  // someone's file.
  ASSERT_TRUE(CreateDirectoryA((root_ + "KLO1234.TMP").c_str(), nullptr));
  put(root_ + "KLO1234.TMP\\theirs", "planted");
  put(root_ + "KLO1235.TMP", "planted");
  PinnedBackend backend(root_, 0x51234);
  Launcher launcher(backend);
  TempLocation location;
  ASSERT_TRUE(launcher.createTempLocation(location, "KLOVCreator.jar"));
  EXPECT_EQ(location.uniqueName, "KLO1236.TMP");
  EXPECT_EQ(location.directory, root_ + "KLO1236.TMP\\");
  EXPECT_EQ(location.jarPath, root_ + "KLO1236.TMP\\KLOVCreator.jar");
  EXPECT_TRUE(GetFileAttributesA(location.directory.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(contents(root_ + "KLO1234.TMP\\theirs"), "planted");
  EXPECT_EQ(contents(root_ + "KLO1235.TMP"), "planted");
  EXPECT_TRUE(RemoveDirectoryA(location.directory.c_str()));
}

TEST_F(Win32TempFolder, NamesWrapAtSixteenBits) {
  ASSERT_TRUE(CreateDirectoryA((root_ + "KLOFFFF.TMP").c_str(), nullptr));
  put(root_ + "KLOFFFF.TMP\\theirs", "planted");
  PinnedBackend backend(root_, 0xFFFF);
  Launcher launcher(backend);
  TempLocation location;
  ASSERT_TRUE(launcher.createTempLocation(location, "KLOVCreator.jar"));
  EXPECT_EQ(location.uniqueName, "KLO0000.TMP");
  EXPECT_TRUE(RemoveDirectoryA(location.directory.c_str()));
}

TEST_F(Win32TempFolder, FolderIsPrivateToItsOwner) {
  PinnedBackend backend(root_, 0x77);
  Launcher launcher(backend);
  TempLocation location;
  ASSERT_TRUE(launcher.createTempLocation(location, "KLOVCreator.jar"));
  // Its access list: full access for the user and the system, passed on
  // to the files inside, and nobody else. (Wine keeps the entries, not
  // their order or the mark that shields them from the parent's.)
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(location.directory.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &acl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(acl, nullptr);
  std::set<std::string> allowed;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* entry = nullptr;
    ASSERT_TRUE(GetAce(acl, i, &entry));
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
    char* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(const_cast<DWORD*>(&ace->SidStart), &sid));
    allowed.insert(sid);
    LocalFree(sid);
  }
  EXPECT_EQ(allowed, (std::set<std::string>{userSid(), "S-1-5-18"}));  // S-1-5-18: the system
  LocalFree(descriptor);
  EXPECT_TRUE(RemoveDirectoryA(location.directory.c_str()));
}

TEST_F(Win32TempFolder, TemporaryFolderThatCannotBeMade) {
  PinnedBackend backend(root_ + "missing\\", 0x77);
  Launcher launcher(backend);
  TempLocation location;
  EXPECT_FALSE(launcher.createTempLocation(location, "KLOVCreator.jar"));
  EXPECT_EQ(backend.lastError(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(backend.stdout_, "Unable to create temporary directory!\n");
  EXPECT_FALSE(exists(root_ + "missing"));
}

}  // namespace
}  // namespace quorvanta
