// The launcher's run over the scripted backend: the failure table, the
// temporary folder, the outcome rules, the dialogs and the watch.
#include "quorvanta/core/launcher.h"

#include <gtest/gtest.h>

#include "fake_backend.h"
#include "record_image.h"

namespace quorvanta::test {
namespace {

constexpr const char* kFolder = R"(C:\Temp\KLO1234.TMP)";
constexpr const char* kNoRuntime =
    "There is no reqired Java run-time on your computer or it not work properly.\r\n\r\n"
    "You can download Java run-time from http://java.example/get.";

class Run : public testing::Test {
 protected:
  Run() {
    backend.resources[kRecordResourceId] = recordImage();
    backend.resources[kJarResourceId] = {'P', 'K', 3, 4, 'j', 'a', 'r'};
  }

  uint32_t run(std::string_view arguments = "") { return launcher.run(arguments); }

  void setOrder(std::vector<uint8_t> kinds) {
    std::vector<uint8_t>& image = backend.resources[kRecordResourceId];
    std::fill_n(image.begin() + offsets::runtimeOrder, 10, 0);
    std::copy(kinds.begin(), kinds.end(), image.begin() + offsets::runtimeOrder);
  }

  // Nothing of the run is left behind.
  void expectCleanedUp() {
    EXPECT_TRUE(backend.files.empty());
    EXPECT_TRUE(backend.folders.empty());
  }

  FakeBackend backend;
  Launcher launcher{backend};
};

// ---- Failures before any runtime -----------------------------------------------

TEST_F(Run, MissingRecordEndsWithTheSystemsCode) {
  backend.resources.erase(kRecordResourceId);
  EXPECT_EQ(run(), 1814u);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].what, "message");
  EXPECT_EQ(backend.shown[0].text, "Unable to read startup information.");
  EXPECT_TRUE(backend.createAttempts.empty());
}

TEST_F(Run, OversizedRecordIsRefusedWithANonZeroCode) {
  backend.resources[kRecordResourceId] = recordImage(1449);
  EXPECT_EQ(run(), FakeBackend::kTooLarge);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].text, "Unable to read startup information.");
  EXPECT_TRUE(backend.createAttempts.empty());
}

TEST_F(Run, UndefinedRecordEndsWithOne) {
  backend.resources[kRecordResourceId][offsets::defined] = 0;
  EXPECT_EQ(run(), 1u);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].caption, "Demo");
  EXPECT_EQ(backend.shown[0].text, "Startup information not defined.");
  EXPECT_TRUE(backend.createAttempts.empty());
}

TEST_F(Run, TemporaryLocationFailures) {
  struct Case {
    const char* name;
    bool noTempRoot;
    bool directoryFails;
    const char* line;
    uint32_t code;
  };
  const Case cases[] = {
      {"no temp root", true, false, "Unable to get temporary directory name!\n", 3},
      {"folder not made", false, true, "Unable to create temporary directory!\n", FakeBackend::kAccessDenied},
  };
  for (const Case& c : cases) {
    FakeBackend fake;
    fake.resources = backend.resources;
    if (c.noTempRoot) fake.tempRoot.reset();
    fake.directoryFails = c.directoryFails;
    Launcher l(fake);
    EXPECT_EQ(l.run(""), c.code) << c.name;
    EXPECT_EQ(fake.out, c.line) << c.name;
    ASSERT_EQ(fake.shown.size(), 1u) << c.name;
    EXPECT_EQ(fake.shown[0].text, "Unable to create temporary data location information.") << c.name;
    EXPECT_TRUE(fake.commands.empty()) << c.name;
  }
}

TEST_F(Run, LoaderJarFailuresRemoveTheFolder) {
  for (bool noResource : {true, false}) {
    FakeBackend fake;
    fake.resources = backend.resources;
    if (noResource)
      fake.resources.erase(kJarResourceId);
    else
      fake.writeFails = true;
    Launcher l(fake);
    EXPECT_EQ(l.run(""), noResource ? 1814u : FakeBackend::kAccessDenied);
    ASSERT_EQ(fake.shown.size(), 1u);
    EXPECT_EQ(fake.shown[0].text, "Unable to create JavaLoader class in the temporary directory.");
    EXPECT_TRUE(fake.folders.empty());
    EXPECT_TRUE(fake.commands.empty());
  }
}

// ---- The temporary folder ----------------------------------------------------------

TEST_F(Run, TakenFolderNamesAreSkippedNeverUsed) {
  backend.tick = 0x1234;
  backend.taken = {R"(C:\Temp\KLO1234.TMP)", R"(C:\Temp\KLO1235.TMP)"};
  backend.runtimes["java.exe"] = {};
  std::string jarFolder;
  backend.duringWait = [&] { jarFolder = launcher.location().jarPath; };
  EXPECT_EQ(run(), 0u);
  EXPECT_EQ(backend.createAttempts,
            (std::vector<std::string>{R"(C:\Temp\KLO1234.TMP)", R"(C:\Temp\KLO1235.TMP)", R"(C:\Temp\KLO1236.TMP)"}));
  EXPECT_EQ(jarFolder, R"(C:\Temp\KLO1236.TMP\KLOVCreator.jar)");
  expectCleanedUp();
}

TEST_F(Run, EveryNameTakenFailsWithoutUsingAny) {
  for (uint32_t n = 0; n < 0x10000; ++n) backend.taken.insert(R"(C:\Temp\)" + makeTempName(n));
  EXPECT_EQ(run(), FakeBackend::kAlreadyExists);
  EXPECT_EQ(backend.createAttempts.size(), 0x10000u);
  EXPECT_EQ(backend.out, "Unable to generate temporary file name!\n");
  EXPECT_TRUE(backend.files.empty());
}

// ---- Outcomes ------------------------------------------------------------------------

TEST_F(Run, SuccessShowsNothingAndCleansUp) {
  backend.tick = 0x1234;
  backend.runtimes["java.exe"] = {};
  EXPECT_EQ(run("a \"b c\""), 0u);
  EXPECT_TRUE(backend.shown.empty());
  ASSERT_EQ(backend.commands.size(), 1u);
  EXPECT_EQ(backend.commands[0],
            std::string(R"(java.exe  com.velmar.KLOVClassLoader "1.3" "demo.Main" ")") + kFolder + "\" a \"b c\"");
  expectCleanedUp();
}

TEST_F(Run, RuntimeWithoutMarkerCountsAsNotWorking) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(0).withoutMarker();
  backend.runtimes["jview.exe"] = {};
  EXPECT_EQ(run(), 0u);
  EXPECT_EQ(backend.commands.size(), 2u);
  EXPECT_TRUE(backend.commands[1].starts_with("jview.exe "));
  EXPECT_TRUE(backend.shown.empty());
  expectCleanedUp();
}

TEST_F(Run, TooOldRuntimeTriesTheNextAndNamesTheVersion) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(kUpdateNeeded);
  EXPECT_EQ(run(), FakeBackend::kNotFound);  // the last attempt: jre.exe not found
  EXPECT_EQ(backend.commands.size(), 3u);
  EXPECT_TRUE(launcher.runtimeTooOld());
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].what, "dialog 1");
  EXPECT_EQ(backend.shown[0].caption, "Demo");
  EXPECT_EQ(backend.shown[0].link, "http://java.example/get");
  EXPECT_EQ(backend.shown[0].text,
            "The Java run-time on your computer needs to be updated to version 1.3, before this application can be "
            "run.\r\n\r\nYou can download reqired Java run-time from http://java.example/get.");
  expectCleanedUp();
}

TEST_F(Run, TooOldThenAWorkingRuntimeSucceeds) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(kUpdateNeeded);
  backend.runtimes["jview.exe"] = {};
  EXPECT_EQ(run(), 0u);
  EXPECT_TRUE(backend.shown.empty());
}

TEST_F(Run, TooOldSignalledThroughTheMarkerWhereExitStatusesHaveEightBits) {
  // 0x10000222 arrives as 34 on POSIX; the loader's mark in the marker
  // tells it apart from an application that ends with 34.
  backend.runtimes["java.exe"] = FakeRuntime().exits(0x22).marks("10000222");
  setOrder({1});
  EXPECT_EQ(run(), kUpdateNeeded);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_TRUE(backend.shown[0].text.starts_with("The Java run-time on your computer needs to be updated"));

  FakeBackend fake;
  fake.resources = backend.resources;
  fake.runtimes["java.exe"] = FakeRuntime().exits(0x22);
  Launcher l(fake);
  EXPECT_EQ(l.run(""), 0x22u);
  EXPECT_TRUE(fake.shown.empty());
}

TEST_F(Run, FailedApplicationStopsTheAttempts) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(3);
  backend.runtimes["jview.exe"] = {};
  EXPECT_EQ(run(), 3u);
  EXPECT_EQ(backend.commands.size(), 1u);
  EXPECT_TRUE(backend.shown.empty());
  expectCleanedUp();
}

TEST_F(Run, ErrorReportIsShownWithTheExitCodeInHex) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(0xC0000005).reports("java.lang.Error: x\r\n\tat A.main\r\n");
  EXPECT_EQ(run(), 0xC0000005u);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].what, "dialog 3");
  EXPECT_EQ(backend.shown[0].caption, "Demo");
  EXPECT_EQ(backend.shown[0].text,
            "* The error occurs while running application. The exit code is c0000005.\r\n"
            "* Contact the vendor of the application for troubleshooting.\r\n"
            "java.lang.Error: x\r\n\tat A.main\r\n");
  expectCleanedUp();
}

TEST_F(Run, ReportWithoutAWorkingRuntimeIsShownInsteadOfTheRuntimeDialog) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(1).withoutMarker().reports("trace");
  setOrder({1});
  EXPECT_EQ(run(), 1u);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].what, "dialog 3");
  expectCleanedUp();
}

TEST_F(Run, NoRuntimeAtAll) {
  EXPECT_EQ(run(), FakeBackend::kNotFound);
  EXPECT_EQ(backend.commands.size(), 3u);
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].what, "dialog 1");
  EXPECT_EQ(backend.shown[0].text, kNoRuntime);
  expectCleanedUp();
}

TEST_F(Run, EmptyRuntimeOrderMakesNoAttempt) {
  setOrder({});
  backend.runtimes["java.exe"] = {};
  EXPECT_EQ(run(), 0xFFFFFFFFu);
  EXPECT_TRUE(backend.commands.empty());
  ASSERT_EQ(backend.shown.size(), 1u);
  EXPECT_EQ(backend.shown[0].text, kNoRuntime);
  expectCleanedUp();
}

TEST_F(Run, UnknownKindIsAFailedAttempt) {
  setOrder({9, 1});
  backend.runtimes["java.exe"] = {};
  EXPECT_EQ(run(), 0u);
  EXPECT_EQ(backend.commands.size(), 2u);
  EXPECT_EQ(backend.commands[0], "");
}

TEST_F(Run, UnreadableExitCode) {
  backend.runtimes["java.exe"] = FakeRuntime().reports("trace").unreadable();
  backend.runtimes["jview.exe"] = {};
  EXPECT_EQ(run(), 6u);
  EXPECT_EQ(backend.commands.size(), 1u);
  ASSERT_EQ(backend.shown.size(), 2u);
  EXPECT_EQ(backend.shown[0].what, "message");
  EXPECT_EQ(backend.shown[0].text, "Unable to get process exit code.");
  EXPECT_EQ(backend.shown[1].what, "dialog 3");
  expectCleanedUp();
}

TEST_F(Run, ReadWholeFileReportsEachFailureOnStandardOutput) {
  struct Case {
    FileRead::Status status;
    std::optional<std::string> text;
    const char* line;
  };
  const Case cases[] = {
      {FileRead::ok, "a", ""},  // the text ends at its first NUL
      {FileRead::openFailed, std::nullopt, "Unable to open source file!\n"},
      {FileRead::noMemory, std::nullopt, "Not enough memory to allocate buffer\n"},
      {FileRead::shortRead, "a", "Not all data read. What happend?\n"},
  };
  backend.files["report"] = {'a', 0, 'b'};
  for (const Case& c : cases) {
    backend.readStatus = c.status;
    backend.out.clear();
    EXPECT_EQ(launcher.readWholeFile("report"), c.text) << c.line;
    EXPECT_EQ(backend.out, c.line);
  }
}

// ---- Class path ------------------------------------------------------------------------

TEST_F(Run, ClassPathGoesToEveryRuntimeThroughTheEnvironment) {
  backend.tick = 0x1234;
  backend.runtimes["jre.exe"] = {};
  setOrder({2});
  const std::string own = R"(C:\Apps\Demo\lib;C:\Apps\Demo;C:\Temp\KLO1234.TMP\KLOVCreator.jar)";
  EXPECT_EQ(run(), 0u);
  EXPECT_EQ(backend.environment["CLASSPATH"], own);
  EXPECT_EQ(backend.commands[0].substr(0, 12 + own.size()), "jre.exe -cp " + own);

  FakeBackend fake;
  fake.resources = backend.resources;
  fake.tick = 0x1234;
  fake.environment["CLASSPATH"] = R"(X:\inherited.jar)";
  fake.runtimes["jre.exe"] = {};
  Launcher l(fake);
  EXPECT_EQ(l.run(""), 0u);
  EXPECT_EQ(fake.environment["CLASSPATH"], R"(X:\inherited.jar;)" + own);
}

// ---- The watch ---------------------------------------------------------------------------

TEST_F(Run, SessionEndEndsTheChildAndStartsNoOther) {
  backend.runtimes["java.exe"] = FakeRuntime().exits(5);
  backend.runtimes["jview.exe"] = {};
  backend.duringWait = [&] { backend.sessionEnd(); };
  EXPECT_EQ(run(), 0u);  // the ended child's exit code
  EXPECT_EQ(backend.terminateCalls, 1);
  EXPECT_EQ(backend.commands.size(), 1u);
  EXPECT_TRUE(backend.shown.empty());
  expectCleanedUp();

  // Once the child is closed, the watch has nothing to end.
  backend.sessionEnd();
  EXPECT_EQ(backend.terminateCalls, 1);
  EXPECT_EQ(backend.terminatedAfterClose, 0);
}

TEST_F(Run, SessionEndBeforeTheLoaderRanShowsNoDialog) {
  backend.runtimes["java.exe"] = FakeRuntime().withoutMarker();
  backend.runtimes["jview.exe"] = {};
  backend.duringWait = [&] { backend.sessionEnd(); };
  run();
  EXPECT_EQ(backend.commands.size(), 1u);
  EXPECT_TRUE(backend.shown.empty());
  expectCleanedUp();
}

}  // namespace
}  // namespace quorvanta::test
