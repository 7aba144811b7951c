#include "quorvanta/core/cmdline.h"

#include <gtest/gtest.h>

namespace quorvanta::test {
namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> words;
};

TEST(CommandLine, SplitsTheWindowsWay) {
  const SplitCase cases[] = {
      {"java.exe a b", {"java.exe", "a", "b"}},
      {"  p\ta \t b  ", {"p", "a", "b"}},
      {"", {}},
      // The program name: quotes group, backslashes are plain.
      {R"("C:\Program Files\Java\bin\java.exe" x)", {R"(C:\Program Files\Java\bin\java.exe)", "x"}},
      {R"(p "a b" c)", {"p", "a b", "c"}},
      {R"(p a"b c"d)", {"p", "ab cd"}},
      {R"(p "")", {"p", ""}},
      {R"(p a\\b)", {"p", R"(a\\b)"}},        // backslashes not before a quote stay
      {R"(p a\"b)", {"p", R"(a"b)"}},          // 2n+1: n backslashes and a quote
      {R"(p a\\"b c")", {"p", R"(a\b c)"}},    // 2n: n backslashes, the quote groups
      {R"(p "a""b")", {"p", R"(a"b)"}},        // "" inside a group: a quote
      {R"(p "unterminated group)", {"p", "unterminated group"}},
      // Why java.exe gets the folder without its trailing backslash: the
      // backslash escapes the closing quote and the words run together.
      {R"(java.exe "C:\Temp\KLO1234.TMP\" app)", {"java.exe", R"(C:\Temp\KLO1234.TMP" app)"}},
  };
  for (const SplitCase& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.words) << c.line;
}

TEST(CommandLine, QuotedArgumentsSplitBackUnchanged) {
  const std::vector<std::string> arguments = {
      "plain", "", "two words", R"(say "hi")", R"(ends\)", R"(ends with space\ )", R"(\\server\share\)",
      R"(a\\"b)", "tab\there", "new\nline", R"(")", R"(\")", "-Dkey=value", "ünïcode",
  };
  const std::string line = "program.exe " + joinArguments(arguments);
  std::vector<std::string> expected{"program.exe"};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(splitCommandLine(line), expected) << line;
}

TEST(CommandLine, PlainArgumentsAreNotQuoted) {
  for (const char* a : {"plain", "-Xmx64m", R"(C:\dir\)", "a;b;c"}) EXPECT_EQ(quoteArgument(a), a);
  EXPECT_EQ(quoteArgument(""), R"("")");
  EXPECT_EQ(quoteArgument(R"(C:\Program Files\)"), R"("C:\Program Files\\")");
  EXPECT_EQ(joinArguments(std::vector<std::string>{}), "");
}

}  // namespace
}  // namespace quorvanta::test
