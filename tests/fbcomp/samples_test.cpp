// Real streams made by the games and by EA's own encoder: each decodes to its
// expected file, and no cut or damaged copy of one is read past its end or
// written past its buffer (the sanitized build checks the second part).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support.h"
#include "torvex/fbcomp/fb.h"

namespace torvex {
namespace {

using Bytes8 = std::vector<uint8_t>;

struct Sample {
  const char* stream;
  const char* expected;
};

const Sample kSamples[] = {
    {"fb/AL1.QFS", "shpi/AL1.FSH"},       {"fb/LDIABL.PBS", "fb/LDIABL.PBS.expected"},
    {"fb/text.10.fb", "fb/text"},         {"fb/text.30.fb", "fb/text"},
    {"fb/pairs.46.fb", "fb/pairs"},
};

class FbSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::samplesdir().empty()) GTEST_SKIP() << "no sample files";
  }
  static Bytes8 read(const char* name) { return test::readbytes(test::samplesdir() / name); }
};

TEST_F(FbSamples, DecodeToTheirExpectedFiles) {
  for (const Sample& s : kSamples) {
    FbStatus status;
    const Block b = fbdecompress(read(s.stream), status);
    ASSERT_TRUE(b) << s.stream;
    EXPECT_EQ(status, FbStatus::kOk);
    EXPECT_EQ(Bytes8(b.get(), b.get() + b.size), read(s.expected)) << s.stream;
  }
}

TEST_F(FbSamples, CutStreamsAreRefused) {
  for (const Sample& s : kSamples) {
    const Bytes8 whole = read(s.stream);
    const Bytes8 expected = read(s.expected);
    std::vector<size_t> cuts;
    for (size_t n = 0; n < whole.size(); n += 1 + whole.size() / 300) cuts.push_back(n);
    for (size_t n = whole.size() > 16 ? whole.size() - 16 : 0; n < whole.size(); ++n) cuts.push_back(n);
    for (size_t n : cuts) {
      const Bytes8 part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
      FbStatus status;
      const Block b = fbdecompress(part, status);
      if (!b) {
        EXPECT_EQ(status, n < 5 ? FbStatus::kNotCompressed : FbStatus::kCorrupt) << s.stream << " cut at " << n;
        continue;
      }
      // Only padding after the end mark may go without changing the result.
      EXPECT_GE(n, whole.size() - 1) << s.stream << " cut at " << n;
      EXPECT_EQ(Bytes8(b.get(), b.get() + b.size), expected) << s.stream << " cut at " << n;
    }
  }
}

TEST_F(FbSamples, DamagedStreamsStayInsideTheirBuffers) {
  std::mt19937 rng(4711);
  for (const Sample& s : kSamples) {
    const Bytes8 whole = read(s.stream);
    for (int round = 0; round < 150; ++round) {
      Bytes8 damaged = whole;
      const int hits = 1 + static_cast<int>(rng() % 4);
      for (int h = 0; h < hits; ++h) {
        // Mostly near the start, where the tables and the first commands are.
        const size_t span = rng() % 2 ? std::min<size_t>(whole.size(), 64) : whole.size();
        const size_t at = 5 + rng() % (span - 5);
        damaged[at] = static_cast<uint8_t>(rng());
      }
      FbStatus status;
      const Block b = fbdecompress(damaged, status);
      int32_t size = 0;
      ASSERT_TRUE(fbinfo(damaged, size));
      if (b) EXPECT_EQ(b.size, size);
      else EXPECT_EQ(status, FbStatus::kCorrupt);
    }
  }
}

}  // namespace
}  // namespace torvex
