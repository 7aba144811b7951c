// The built launcher end to end, with the machine's Java runtime and small
// test applications: each test copies the launcher into a folder of its
// own, gives it a record with quorvanta-record, and runs it with PATH,
// TMPDIR and CLASSPATH of its choosing.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "support.h"

namespace quorvanta::test {
namespace {

const std::string kLink = "http://java.example/get";
const std::string kNoRuntime =
    "[Test App]\nThere is no reqired Java run-time on your computer or it not work properly.\n\n"
    "You can download Java run-time from " + kLink + ".\nLink: " + kLink + "\n";

std::vector<std::string> linesWith(const std::string& text, std::string_view prefix) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    if (line.starts_with(prefix)) lines.push_back(line.substr(prefix.size()));
    start = end + 1;
  }
  return lines;
}

// `text` with each temporary folder name "KLO" + four hexadecimal digits +
// ".TMP" written "KLO####.TMP", for comparing with what a test expects.
std::string masked(std::string text) {
  for (size_t at = text.find("KLO"); at != std::string::npos; at = text.find("KLO", at + 1)) {
    if (text.size() - at < 11 || text.compare(at + 7, 4, ".TMP") != 0) continue;
    if (std::all_of(text.begin() + static_cast<ptrdiff_t>(at + 3), text.begin() + static_cast<ptrdiff_t>(at + 7),
                    [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }))
      text.replace(at + 3, 4, "####");
  }
  return text;
}

std::optional<size_t> signatureOffset(const std::vector<uint8_t>& bytes) {
  const std::string_view signature = "KLOV_DATA_SIGN";
  const auto it = std::search(bytes.begin(), bytes.end(), signature.begin(), signature.end());
  if (it == bytes.end()) return std::nullopt;
  return static_cast<size_t>(it - bytes.begin());
}

class Launch : public testing::Test {
 protected:
  Launch() {
    fs::create_directories(app / "classes");
    fs::create_directories(tmp);
    fs::create_directories(bin);
    for (const auto& entry : fs::directory_iterator(QV_APP_CLASSES))
      if (entry.path().extension() == ".class") fs::copy_file(entry.path(), app / "classes" / entry.path().filename());
  }

  // A runtime named `name` on PATH: the machine's java.
  void addRuntime(const std::string& name) { fs::create_symlink(fs::canonical(QV_JAVA), bin / name); }

  // Copies the launcher into the application folder and writes the test's
  // record into it: these options over the defaults.
  fs::path makeLauncher(const std::vector<std::string>& options = {}) {
    fs::copy_file(QV_LAUNCHER, launcher, fs::copy_options::overwrite_existing);
    std::vector<std::string> argv = {QV_RECORD_TOOL, launcher.string(),
                                     "--defined", "1",
                                     "--runtime-order", "java",
                                     "--main-class", "Report",
                                     "--class-path", "classes",
                                     "--vm-options", "-XX:-UsePerfData -XX:TieredStopAtLevel=1",
                                     "--app-name", "Test App",
                                     "--download-url", kLink};
    argv.insert(argv.end(), options.begin(), options.end());
    const RunResult result = run(argv);
    EXPECT_EQ(result.status, 0) << result.err;
    return launcher;
  }

  Environment environment(std::optional<std::string> classPath = std::nullopt) const {
    return {{"PATH", bin.string()}, {"TMPDIR", tmp.string()}, {"CLASSPATH", classPath}};
  }

  RunResult launch(const std::vector<std::string>& arguments = {}, const Environment& extra = {}) {
    std::vector<std::string> argv{launcher.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Environment env = environment();
    for (const auto& [name, value] : extra) env[name] = value;
    return run(argv, env, dir.path());
  }

  bool tmpIsEmpty() const { return fs::is_empty(tmp); }

  TempDir dir;
  const fs::path app = dir / "app";
  const fs::path tmp = dir / "tmp";
  const fs::path bin = dir / "bin";
  const fs::path launcher = app / "demo";
};

TEST_F(Launch, SuccessPassesTheArgumentsAndLeavesNothing) {
  addRuntime("java");
  makeLauncher();
  const std::vector<std::string> arguments = {"plain", "two words", "say \"hi\"", R"(back\slash\)", "", "-x"};
  const RunResult r = launch(arguments);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // nothing shown
  EXPECT_EQ(linesWith(r.out, "arg:"), arguments);
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(Launch, RuntimeIsFoundWithOrWithoutItsExe) {
  for (const char* name : {"java", "java.exe"}) {
    fs::remove_all(bin);
    fs::create_directories(bin);
    addRuntime(name);
    makeLauncher();
    const RunResult r = launch();
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(linesWith(r.out, "jvm:").at(0), (bin / name).string());
  }
}

TEST_F(Launch, FailingApplicationShowsItsReport) {
  struct Case {
    const char* mainClass;
    const char* exception;
    const char* frame;
  };
  const Case cases[] = {
      {"Thrower", "java.lang.IllegalStateException: thrown by the test application", "\tat Thrower.main("},
      {"NoSuchClass", "java.lang.ClassNotFoundException: NoSuchClass", "\tat com.velmar.KLOVClassLoader.main("},
  };
  addRuntime("java");
  for (const Case& c : cases) {
    makeLauncher({"--main-class", c.mainClass});
    const RunResult r = launch();
    EXPECT_EQ(r.status, 1) << c.mainClass;
    EXPECT_TRUE(r.err.starts_with("[Test App]\n"
                                  "* The error occurs while running application. The exit code is 1.\n"
                                  "* Contact the vendor of the application for troubleshooting.\n" +
                                  std::string(c.exception) + "\n"))
        << r.err;
    EXPECT_NE(r.err.find(c.frame), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("\nLink: " + kLink + "\n")) << r.err;
    EXPECT_TRUE(tmpIsEmpty()) << c.mainClass;
  }
}

TEST_F(Launch, ExitCodeWithoutReportShowsNothing) {
  // 34 is also what 0x10000222 becomes in an 8-bit exit status: only the
  // loader's mark in the marker means "runtime too old".
  addRuntime("java");
  for (int code : {3, 34}) {
    makeLauncher({"--main-class", "ExitWith"});
    const RunResult r = launch({std::to_string(code)});
    EXPECT_EQ(r.status, code);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(Launch, MinimumVersionAgainstTheRunningRuntime) {
  struct Case {
    const char* minimum;
    bool tooOld;
  };
  // The machine's runtime is a modern one (9 or later, below 99).
  const Case cases[] = {{"1.3", false}, {"1.8.0_20", false}, {"99", true}, {"1.99", true}};
  addRuntime("java");
  for (const Case& c : cases) {
    makeLauncher({"--min-java-version", c.minimum});
    const RunResult r = launch();
    if (!c.tooOld) {
      EXPECT_EQ(r.status, 0) << c.minimum << ": " << r.err;
      continue;
    }
    EXPECT_EQ(r.status, 0x22) << c.minimum;  // 0x10000222 in 8 bits
    EXPECT_EQ(r.err, "[Test App]\nThe Java run-time on your computer needs to be updated to version " +
                         std::string(c.minimum) +
                         ", before this application can be run.\n\nYou can download reqired Java run-time from " +
                         kLink + ".\nLink: " + kLink + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(Launch, NoRuntimeToRun) {
  struct Case {
    const char* order;
    int status;
  };
  // No runtime on PATH: the failed start's error (ENOENT); no attempt at all: 0xFFFFFFFF.
  const Case cases[] = {{"java,jview,jre", 2}, {"", 255}};
  for (const Case& c : cases) {
    makeLauncher({"--runtime-order", c.order});
    const RunResult r = launch();
    EXPECT_EQ(r.status, c.status) << c.order;
    EXPECT_EQ(r.err, kNoRuntime) << c.order;
    EXPECT_TRUE(tmpIsEmpty());
  }
}

TEST_F(Launch, UnknownKindIsSkipped) {
  addRuntime("java");
  makeLauncher({"--runtime-order", "9,java"});
  const RunResult r = launch();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(Launch, ClassPathStartsWithTheInheritedOne) {
  addRuntime("java");
  makeLauncher();
  const std::string own = (app / "classes").string() + ":" + app.string() + ":" + tmp.string() +
                          "/KLO####.TMP/KLOVCreator.jar";
  const RunResult unset = launch();
  ASSERT_EQ(unset.status, 0) << unset.err;
  EXPECT_EQ(masked(linesWith(unset.out, "classpath:").at(0)), own);

  const RunResult set = launch({}, {{"CLASSPATH", "/elsewhere/a.jar"}});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(masked(linesWith(set.out, "classpath:").at(0)), "/elsewhere/a.jar:" + own);
}

TEST_F(Launch, ClassPathElementsOfEveryKind) {
  // CpMain runs only if it finds CpRooted and CpDrive, each in a folder
  // named the Windows way in the record: "\"-rooted and drive-absolute.
  addRuntime("java");
  fs::create_directories(app / "rel");
  fs::create_directories(dir / "rooted");
  fs::create_directories(dir / "drive");
  fs::copy_file(app / "classes" / "CpMain.class", app / "rel" / "CpMain.class");
  fs::copy_file(app / "classes" / "CpRooted.class", dir / "rooted" / "CpRooted.class");
  fs::copy_file(app / "classes" / "CpDrive.class", dir / "drive" / "CpDrive.class");
  const auto windowsWay = [](const fs::path& p) {
    std::string s = p.string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
  };
  makeLauncher({"--main-class", "CpMain", "--class-path",
                "rel;" + windowsWay(dir / "rooted") + ";D:" + windowsWay(dir / "drive")});
  const RunResult r = launch();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("rooted drive\n")) << r.out;
  EXPECT_TRUE(linesWith(r.out, "classpath:")
                  .at(0)
                  .starts_with((app / "rel").string() + ":" + (dir / "rooted").string() + ":" +
                               (dir / "drive").string() + ":"))
      << r.out;
}

TEST_F(Launch, EachRuntimeKindGetsItsCommand) {
  struct Case {
    const char* kind;
    bool trailingSeparator;
    bool classPathOption;
  };
  // The real runtime under each kind's name: java gets the folder without
  // its trailing separator, jre and jview with it; only jre gets "-cp".
  const Case cases[] = {{"java", false, false}, {"jre", true, true}, {"jview", true, false}};
  for (const Case& c : cases) addRuntime(c.kind);
  for (const Case& c : cases) {
    makeLauncher({"--runtime-order", c.kind});
    const RunResult r = launch({"last"});
    ASSERT_EQ(r.status, 0) << c.kind << ": " << r.err;
    const std::vector<std::string> words = linesWith(r.out, "jvm:");
    const auto loader = std::find(words.begin(), words.end(), "com.velmar.KLOVClassLoader");
    ASSERT_EQ(words.end() - loader, 5) << c.kind << ": " << r.out;
    EXPECT_EQ(loader[1], "1.3");
    EXPECT_EQ(loader[2], "Report");
    EXPECT_EQ(masked(loader[3]), tmp.string() + "/KLO####.TMP" + (c.trailingSeparator ? "/" : "")) << c.kind;
    EXPECT_EQ(loader[4], "last");
    EXPECT_EQ(words[1] == "-cp", c.classPathOption) << c.kind;
    if (c.classPathOption) {
      EXPECT_EQ(words[2], linesWith(r.out, "classpath:").at(0));
    }
  }
}

TEST_F(Launch, RecordStates) {
  addRuntime("java");
  // As built: the record is not defined yet.
  fs::copy_file(QV_LAUNCHER, launcher);
  RunResult r = launch();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[Quorvanta]\nStartup information not defined.\n");
  EXPECT_TRUE(tmpIsEmpty());

  // A record resource of 1449 bytes does not fit its 1448-byte room.
  fs::copy_file(QV_OVERSIZE_LAUNCHER, launcher, fs::copy_options::overwrite_existing);
  r = launch();
  EXPECT_EQ(r.status, EFBIG);
  EXPECT_EQ(r.err, "Unable to read startup information.\n");
  EXPECT_TRUE(tmpIsEmpty());

  // The signature is skipped, not compared.
  makeLauncher();
  std::vector<uint8_t> bytes = readBytes(launcher);
  const std::optional<size_t> at = signatureOffset(bytes);
  ASSERT_TRUE(at);
  std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(*at), 14, 'X');
  writeBytes(launcher, bytes);
  r = launch();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(Launch, TemporaryFolderNotMade) {
  struct Case {
    std::string tmpdir;
    const char* line;
    int status;
  };
  // A quote in the folder's name would end the quoted argument that names it
  // on the runtime's command line.
  const Case cases[] = {
      {(dir / "missing").string(), "Unable to create temporary directory!\n", ENOENT},
      {(dir / "say\"what").string(), "Unable to get temporary directory name!\n", EINVAL},
  };
  addRuntime("java");
  makeLauncher();
  fs::create_directories(dir / "say\"what");
  for (const Case& c : cases) {
    const RunResult r = launch({}, {{"TMPDIR", c.tmpdir}});
    EXPECT_EQ(r.status, c.status) << c.tmpdir;
    EXPECT_EQ(r.out, c.line);
    EXPECT_EQ(r.err, "[Test App]\nUnable to create temporary data location information.\n");
  }
  EXPECT_TRUE(fs::is_empty(dir / "say\"what"));
}

TEST_F(Launch, StopSignalEndsTheChild) {
  addRuntime("java");
  makeLauncher({"--main-class", "Sleeper"});
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    const fs::path pidFile = dir / "pid";
    fs::remove(pidFile);
    std::vector<std::string> argv{launcher.string(), pidFile.string()};
    Child child(argv, environment(), dir.path());
    for (int i = 0; i < 3000 && !fs::exists(pidFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(pidFile)) << "the application did not start";
    const pid_t java = static_cast<pid_t>(std::stol(readText(pidFile)));
    EXPECT_TRUE(processAlive(java));
    // Should the launcher fail to end it, the test does, rather than leave it running.
    const std::unique_ptr<const pid_t, void (*)(const pid_t*)> reaper(&java, [](const pid_t* pid) {
      if (processAlive(*pid)) ::kill(*pid, SIGKILL);
    });

    // Meanwhile: one folder of ours, private, with the jar and the marker.
    std::vector<fs::path> folders(fs::directory_iterator(tmp), fs::directory_iterator{});
    ASSERT_EQ(folders.size(), 1u);
    struct stat st;
    ASSERT_EQ(::stat(folders[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::exists(folders[0] / "KLOVCreator.jar"));
    EXPECT_TRUE(fs::exists(folders[0] / "665824.A"));

    ::kill(child.pid(), signal);
    const RunResult r = child.wait(std::chrono::seconds(30));
    EXPECT_EQ(r.status, 0) << strsignal(signal) << ": " << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(processAlive(java)) << strsignal(signal);
    EXPECT_TRUE(tmpIsEmpty()) << strsignal(signal);
  }
}

TEST(Built, SignatureOccursOnceInTheLauncher) {
  const std::vector<uint8_t> bytes = readBytes(QV_LAUNCHER);
  const std::string_view signature = "KLOV_DATA_SIGN";
  size_t count = 0;
  for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), signature.begin(), signature.end())) != bytes.end();
       ++it)
    ++count;
  EXPECT_EQ(count, 1u);
}

TEST(Built, LoaderJarHoldsExactlyItsThreeEntries) {
  // Read back with Python's zip reader, which shares nothing with our writer.
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "print([(i.filename, i.compress_type, i.extra.hex()) for i in z.infolist()])\n"
      "print(len(z.read('com/velmar/KLOVClassLoader.class')) > 0)\n";
  const RunResult r = run({QV_PYTHON, "-c", script, QV_LOADER_JAR});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[('com/', 0, 'feca0000'), ('com/velmar/', 0, ''), ('com/velmar/KLOVClassLoader.class', 8, '')]\n"
            "True\n");
}

}  // namespace
}  // namespace quorvanta::test
