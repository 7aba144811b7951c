#include "torvex/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support.h"

namespace torvex {
namespace {

using test::ConsoleCapture;

TEST(Allocmem, GivesZeroFilledGuardedBlocks) {
  auto* p = static_cast<uint8_t*>(allocmem(1000));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0) << i;
  uint32_t header[2];
  std::memcpy(header, p - 8, 8);
  EXPECT_EQ(header[0], 1000u);
  EXPECT_EQ(header[1], 0x44891701u);
  freemem(p);
}

TEST(Allocmem, ZeroBytesIsAValidDistinctBlock) {
  void* a = allocmem(0);
  void* b = allocmem(0);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(a, b);
  freemem(a);
  freemem(b);
}

TEST(Allocmem, NegativeSizeIsFatal) {
  ConsoleCapture out;
  EXPECT_THROW(allocmem(-5), FatalError);
  EXPECT_NE(out.text().find("-- couldn't allocate -5 bytes\n"), std::string::npos);
}

TEST(Freemem, NullIsHarmless) { EXPECT_NO_THROW(freemem(nullptr)); }

TEST(Freemem, PointerIntoABlockIsFatal) {
  auto* p = static_cast<uint8_t*>(allocmem(64));
  ConsoleCapture out;
  EXPECT_THROW(freemem(p + 16), FatalError);
  EXPECT_NE(out.text().find("-- freemem (memory not allocated or corrupted) "), std::string::npos);
  freemem(p);
}

TEST(Fatal, PrintsTheFramedMessage) {
  ConsoleCapture out;
  try {
    fatal("file '%s' is not compressed", "a.bin");
    FAIL();
  } catch (const FatalError& e) {
    EXPECT_EQ(e.text, "file 'a.bin' is not compressed");
  }
  EXPECT_EQ(out.text(), "***********\nFatal Error\n***********\n-- file 'a.bin' is not compressed\n");
}

TEST(Message, SecondPassTurnsDoublePercentIntoOne) {
  struct Case {
    const char* format;
    const char* arg;
    const char* expected;
  };
  const Case cases[] = {
      {"done (%d%%%%)\n", nullptr, "done (50%)\n"},     // the compressor's progress form
      {"%s\n", "a%sb%d", "a%sb%d\n"},                     // a name is never a format
      {"%s\n", "100%%", "100%\n"},                        // "%%" that survives pass one
      {"plain %%\n", nullptr, "plain %\n"},
  };
  for (const Case& c : cases) {
    ConsoleCapture out;
    if (c.arg)
      message(c.format, c.arg);
    else
      message(c.format, 50);
    EXPECT_EQ(out.text(), c.expected) << c.format;
  }
}

TEST(Report, NeverFormatsItsTextAgain) {
  ConsoleCapture out;
  report("pack file '%s' opened\n", "odd%s%n%%name.viv");
  EXPECT_EQ(out.text(), "pack file 'odd%s%n%name.viv' opened\n");
}

TEST(Message, LongTextsAreNotCut) {
  const std::string longname(5000, 'x');
  ConsoleCapture out;
  message("'%s'\n", longname.c_str());
  EXPECT_EQ(out.text().size(), 5003u);
}

TEST(Version, TextAndBuildDate) {
  EXPECT_STREQ(versiontext(), "0.56");
  EXPECT_STREQ(builddate(nullptr, nullptr, nullptr), "16.11.2001");
  int d = 0, m = 0, y = 0;
  EXPECT_STREQ(builddate(&d, &m, &y), "16.11.2001");
  EXPECT_EQ(d, 16);
  EXPECT_EQ(m, 11);
  EXPECT_EQ(y, 2001);
  int only = 0;
  builddate(nullptr, &only, nullptr);
  EXPECT_EQ(only, 11);
}

}  // namespace
}  // namespace torvex
