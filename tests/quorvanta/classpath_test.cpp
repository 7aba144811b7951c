// The pure parts of the run: class-path elements, the list, the runtime
// commands and the temporary name.
#include <gtest/gtest.h>

#include "quorvanta/core/cmdline.h"
#include "quorvanta/core/launcher.h"

namespace quorvanta::test {
namespace {

struct ExpandCase {
  PathStyle style;
  const char* launcherDirectory;
  const char* element;
  const char* expanded;
};

TEST(ClassPath, ExpandsEachKindOfElement) {
  const ExpandCase cases[] = {
      {PathStyle::windows, R"(C:\Apps\Demo)", "lib", R"(C:\Apps\Demo\lib)"},
      {PathStyle::windows, R"(C:\Apps\Demo)", R"(lib\a.jar)", R"(C:\Apps\Demo\lib\a.jar)"},
      {PathStyle::windows, R"(C:\Apps\Demo)", R"(\lib)", R"(C:\lib)"},
      {PathStyle::windows, R"(C:\Apps\Demo)", R"(D:\lib)", R"(D:\lib)"},
      {PathStyle::windows, R"(C:\Apps\Demo)", "", R"(C:\Apps\Demo\)"},
      {PathStyle::windows, "C:", R"(\lib)", R"(C:\lib)"},
      // A network folder has no drive: its share takes the drive's place.
      {PathStyle::windows, R"(\\server\share\Demo)", R"(\lib)", R"(\\server\share\lib)"},
      {PathStyle::windows, ".", R"(\lib)", R"(\lib)"},
      {PathStyle::posix, "/opt/demo", "lib", "/opt/demo/lib"},
      {PathStyle::posix, "/opt/demo", R"(lib\a.jar)", "/opt/demo/lib/a.jar"},
      {PathStyle::posix, "/opt/demo", "/usr/share/java/a.jar", "/usr/share/java/a.jar"},
      {PathStyle::posix, "/opt/demo", R"(\usr\lib)", "/usr/lib"},
      {PathStyle::posix, "/opt/demo", R"(D:\usr\lib\a.jar)", "/usr/lib/a.jar"},
      {PathStyle::posix, "/opt/demo", "", "/opt/demo/"},
  };
  for (const ExpandCase& c : cases)
    EXPECT_EQ(expandClassPathEntry(c.element, c.launcherDirectory, c.style), c.expanded)
        << c.element << " from " << c.launcherDirectory;
}

TEST(ClassPath, RecordClassPathKeepsOrderAndEmptyElements) {
  EXPECT_EQ(expandRecordClassPath(R"(lib;;D:\x;\y)", R"(C:\A)", PathStyle::windows), R"(C:\A\lib;C:\A\;D:\x;C:\y;)");
  EXPECT_EQ(expandRecordClassPath("", R"(C:\A)", PathStyle::windows), R"(C:\A\;)");
  EXPECT_EQ(expandRecordClassPath(R"(b;a\c.jar)", "/o", PathStyle::posix), "/o/b:/o/a/c.jar:");
}

TEST(ClassPath, AppendPutsOneSeparatorBetween) {
  struct Case {
    PathStyle style;
    const char* list;
    const char* element;
    const char* result;
  };
  const Case cases[] = {
      {PathStyle::windows, "", "x", "x"},
      {PathStyle::windows, "A", "x", "A;x"},
      {PathStyle::windows, "A;", "x", "A;x"},
      {PathStyle::windows, "A:", "x", "A:;x"},
      {PathStyle::posix, "A", "x", "A:x"},
      {PathStyle::posix, "A:", "x", "A:x"},
  };
  for (const Case& c : cases) {
    std::string list = c.list;
    appendPathElement(list, c.element, c.style);
    EXPECT_EQ(list, c.result);
  }
}

TEST(ClassPath, LauncherDirectoryIsThePathUpToItsLastSeparator) {
  EXPECT_EQ(launcherDirectoryOf(R"(C:\Apps\Demo\demo.exe)", PathStyle::windows), R"(C:\Apps\Demo)");
  EXPECT_EQ(launcherDirectoryOf("/opt/demo/demo", PathStyle::posix), "/opt/demo");
  EXPECT_EQ(launcherDirectoryOf(std::nullopt, PathStyle::posix), ".");
}

const CommandParts kParts{"-Xmx64m", "1.3", "demo.Main", R"(C:\Temp\KLO1234.TMP\)",
                          R"(C:\A\lib;C:\A;C:\Temp\KLO1234.TMP\KLOVCreator.jar)"};

TEST(RuntimeCommand, ThreeTemplatesAndNothingForOtherKinds) {
  EXPECT_EQ(buildRuntimeCommand(kParts, "one two", 1),
            R"(java.exe -Xmx64m com.velmar.KLOVClassLoader "1.3" "demo.Main" "C:\Temp\KLO1234.TMP" one two)");
  EXPECT_EQ(buildRuntimeCommand(kParts, "one two", 2),
            R"(jre.exe -cp C:\A\lib;C:\A;C:\Temp\KLO1234.TMP\KLOVCreator.jar -Xmx64m com.velmar.KLOVClassLoader "1.3" "demo.Main" "C:\Temp\KLO1234.TMP\\" one two)");
  EXPECT_EQ(buildRuntimeCommand(kParts, "one two", 3),
            R"(jview.exe -Xmx64m com.velmar.KLOVClassLoader "1.3" "demo.Main" "C:\Temp\KLO1234.TMP\\" one two)");
  for (uint8_t kind : {0, 4, 9, 255}) EXPECT_EQ(buildRuntimeCommand(kParts, "one two", kind), "") << int{kind};
}

TEST(RuntimeCommand, EmptyOptionsAndArgumentsKeepTheirSpaces) {
  CommandParts parts = kParts;
  parts.vmOptions.clear();
  EXPECT_EQ(buildRuntimeCommand(parts, "", 1),
            R"(java.exe  com.velmar.KLOVClassLoader "1.3" "demo.Main" "C:\Temp\KLO1234.TMP" )");
}

TEST(RuntimeCommand, JreClassPathWithASpaceStaysOneArgument) {
  CommandParts parts = kParts;
  parts.classPath = R"(C:\Program Files\Demo\lib;C:\Temp\KLO1234.TMP\KLOVCreator.jar)";
  const std::vector<std::string> words = splitCommandLine(buildRuntimeCommand(parts, "", 2));
  ASSERT_GE(words.size(), 4u);
  EXPECT_EQ(words[1], "-cp");
  EXPECT_EQ(words[2], parts.classPath);
  EXPECT_EQ(words[3], "-Xmx64m");
}

TEST(RuntimeCommand, FolderWithItsTrailingBackslashStaysOneArgument) {
  // Split as a Windows program splits its command line: "...TMP\" one"
  // would give the folder a quote and swallow the launcher's arguments.
  for (uint8_t kind : {2, 3}) {
    const std::vector<std::string> words = splitCommandLine(buildRuntimeCommand(kParts, R"(one "two three")", kind));
    ASSERT_GE(words.size(), 6u) << int{kind};
    const std::vector<std::string> tail(words.end() - 6, words.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"com.velmar.KLOVClassLoader", "1.3", "demo.Main", R"(C:\Temp\KLO1234.TMP\)",
                                              "one", "two three"}))
        << int{kind};
  }
}

TEST(TempName, FourUpperCaseDigitsOfTheLow16Bits) {
  EXPECT_EQ(makeTempName(0), "KLO0000.TMP");
  EXPECT_EQ(makeTempName(0x1abcd), "KLOABCD.TMP");
  EXPECT_EQ(makeTempName(0xFFFFFFFF), "KLOFFFF.TMP");
  EXPECT_EQ(makeTempName(0x2a), "KLO002A.TMP");
}

}  // namespace
}  // namespace quorvanta::test
