// quorvanta-record on a built launcher. The record's bytes are checked at
// the offsets of the record's byte table, found by the test's own search.
#include <gtest/gtest.h>

#include <algorithm>

#include "record_image.h"
#include "support.h"

namespace quorvanta::test {
namespace {

class RecordTool : public testing::Test {
 protected:
  RecordTool() { fs::copy_file(QV_LAUNCHER, launcher); }

  RunResult tool(const std::vector<std::string>& options) {
    std::vector<std::string> argv{QV_RECORD_TOOL, launcher.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return run(argv);
  }

  // Where the record resource starts in the launcher file.
  size_t resourceStart(const std::vector<uint8_t>& bytes) {
    const std::string_view signature = "KLOV_DATA_SIGN";
    const auto it = std::search(bytes.begin(), bytes.end(), signature.begin(), signature.end());
    EXPECT_NE(it, bytes.end());
    return static_cast<size_t>(it - bytes.begin());
  }

  std::string textAt(const std::vector<uint8_t>& bytes, size_t offset, size_t width) {
    const auto begin = bytes.begin() + static_cast<ptrdiff_t>(offset);
    return std::string(begin, std::find(begin, begin + static_cast<ptrdiff_t>(width), 0));
  }

  TempDir dir;
  const fs::path launcher = dir / "demo";
};

TEST_F(RecordTool, PrintsTheRecordOfAFreshLauncher) {
  const RunResult r = tool({});
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t at = resourceStart(readBytes(launcher));
  EXPECT_EQ(r.out, "record at offset " + std::to_string(at) +
                       "\n"
                       "defined         0\n"
                       "runtimeOrder    1 (java.exe), 3 (jview.exe), 2 (jre.exe)\n"
                       "minJavaVersion  1.3\n"
                       "mainClass\n"
                       "classPath\n"
                       "vmOptions\n"
                       "reserved1       2\n"
                       "reserved2       0\n"
                       "downloadUrl     https://www.java.com/download/\n"
                       "appName         Quorvanta\n");
}

TEST_F(RecordTool, WritesEachFieldAtItsOffsetAndNothingElse) {
  const std::vector<uint8_t> before = readBytes(launcher);
  // A long value first, so the shorter one must clear the rest of the field.
  ASSERT_EQ(tool({"--main-class", std::string(200, 'z')}).status, 0);
  const RunResult r = tool({"--defined", "1", "--runtime-order", "jre,9,java.exe,jview", "--min-java-version", "1.8",
                            "--main-class", "org.example.Main", "--class-path", R"(lib\a.jar;\shared;D:\x)",
                            "--vm-options", "-Xmx64m", "--reserved1", "7", "--reserved2", "255", "--download-url",
                            "http://java.example/get", "--app-name", "Example"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> after = readBytes(launcher);
  ASSERT_EQ(after.size(), before.size());
  const size_t at = resourceStart(after);

  EXPECT_EQ(after[at + offsets::defined], 1);
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + static_cast<ptrdiff_t>(at + offsets::runtimeOrder),
                                 after.begin() + static_cast<ptrdiff_t>(at + offsets::runtimeOrder + 10)),
            (std::vector<uint8_t>{2, 9, 1, 3, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(textAt(after, at + offsets::minJavaVersion, 16), "1.8");
  EXPECT_EQ(textAt(after, at + offsets::mainClass, 255), "org.example.Main");
  EXPECT_TRUE(std::all_of(after.begin() + static_cast<ptrdiff_t>(at + offsets::mainClass + 16),
                          after.begin() + static_cast<ptrdiff_t>(at + offsets::mainClass + 255),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(textAt(after, at + offsets::classPath, 512), R"(lib\a.jar;\shared;D:\x)");
  EXPECT_EQ(textAt(after, at + offsets::vmOptions, 128), "-Xmx64m");
  EXPECT_EQ(after[at + offsets::reserved1], 7);
  EXPECT_EQ(after[at + offsets::reserved2], 255);
  EXPECT_EQ(textAt(after, at + offsets::downloadUrl, 255), "http://java.example/get");
  EXPECT_EQ(textAt(after, at + offsets::appName, 255), "Example");

  // Outside the record's 1434 bytes, the file is as it was.
  const size_t begin = at + 14, end = at + 1448;
  for (size_t i = 0; i < after.size(); ++i) {
    if (i < begin || i >= end) {
      ASSERT_EQ(after[i], before[i]) << "byte " << i;
    }
  }
}

TEST_F(RecordTool, RefusesValuesThatDoNotFitAndWritesNothing) {
  struct Case {
    std::vector<std::string> options;
    const char* why;
  };
  const Case cases[] = {
      {{"--main-class", std::string(255, 'm')}, "--main-class holds at most 254 bytes"},
      {{"--min-java-version", "1.2.3.4.5.6.7.8.9"}, "--min-java-version holds at most 15 bytes"},
      {{"--class-path", std::string(512, 'c')}, "--class-path holds at most 511 bytes"},
      {{"--vm-options", std::string(128, 'v')}, "--vm-options holds at most 127 bytes"},
      {{"--runtime-order", "1,1,1,1,1,1,1,1,1,1"}, "--runtime-order holds at most 9 runtimes"},
      {{"--runtime-order", "java,kaffe"}, "\"kaffe\" is not a runtime"},
      {{"--runtime-order", "java,0"}, "\"0\" is not a runtime"},
      {{"--defined", "256"}, "--defined expects a number from 0 to 255"},
      {{"--reserved1", "-1"}, "--reserved1 expects a number"},
      {{"--main-class", "a\"b"}, "--main-class cannot hold a double quote"},
      // Nothing is written when any value is refused, the good ones included.
      {{"--app-name", "Fine", "--download-url", std::string(300, 'u')}, "--download-url holds at most 254 bytes"},
  };
  const std::vector<uint8_t> before = readBytes(launcher);
  for (const Case& c : cases) {
    const RunResult r = tool(c.options);
    EXPECT_EQ(r.status, 1) << c.why;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(launcher), before) << c.why;
  }
  EXPECT_EQ(tool({"--main-class", std::string(254, 'm'), "--runtime-order", "1,2,3,1,2,3,1,2,3"}).status, 0);
}

TEST_F(RecordTool, UsageErrorsAndFilesWithoutOneRecord) {
  EXPECT_EQ(run({QV_RECORD_TOOL}).status, 2);
  EXPECT_EQ(tool({"--main-class"}).status, 2);
  EXPECT_EQ(tool({"--colour", "blue"}).status, 2);

  const RunResult jar = run({QV_RECORD_TOOL, QV_LOADER_JAR});
  EXPECT_EQ(jar.status, 1);
  EXPECT_NE(jar.err.find("no startup record found"), std::string::npos) << jar.err;

  // Two records: which one the launcher reads cannot be told, so neither is touched.
  std::vector<uint8_t> twice = readBytes(launcher);
  const size_t at = resourceStart(twice);
  const std::vector<uint8_t> image(twice.begin() + static_cast<ptrdiff_t>(at),
                                   twice.begin() + static_cast<ptrdiff_t>(at + 1448));
  twice.insert(twice.end(), image.begin(), image.end());
  writeBytes(launcher, twice);
  const RunResult two = tool({"--defined", "1"});
  EXPECT_EQ(two.status, 1);
  EXPECT_NE(two.err.find("occurs 2 times"), std::string::npos) << two.err;
  EXPECT_EQ(readBytes(launcher), twice);

  EXPECT_EQ(run({QV_RECORD_TOOL, (dir / "absent").string()}).status, 1);
}

}  // namespace
}  // namespace quorvanta::test
