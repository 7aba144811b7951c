// The store encoder and the real encoder. The real encoder's output is fixed
// to the byte by its rules, so it is checked against encodings derived by
// hand and against a plain, slow transcription of the rules below (no
// shortcuts, the chains walked entry by entry).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fbreference.h"
#include "support.h"
#include "torvex/fbcomp/encode.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/settings.h"

namespace torvex {
namespace {

using fbreference::Bytes8;
using fbreference::header10;
using fbreference::literalsonly;
using fbreference::putend;
using fbreference::putliterals;
using fbreference::referenceencode;

Bytes8 store(const Bytes8& data) {
  Block out = allocblock(fbcapacity(static_cast<int32_t>(data.size())));
  const int32_t n = fbstore(data, out.get());
  return {out.get(), out.get() + n};
}

Bytes8 encode(const Bytes8& data) {
  Block out = allocblock(fbcapacity(static_cast<int32_t>(data.size())));
  const int32_t n = fbencode(data, out.get());
  return {out.get(), out.get() + n};
}

Bytes8 decode(const Bytes8& stream) {
  FbStatus status;
  const Block b = fbdecompress(stream, status);
  EXPECT_EQ(status, FbStatus::kOk);
  if (!b) return {};
  return {b.get(), b.get() + b.size};
}

// Bytes in which no three consecutive bytes occur twice: tokens i of three
// bytes from the disjoint ranges 0x00-0x3F, 0x40-0x7F and 0x80-0xBF, holding
// the digits of i in base 64. Nothing in them is worth a copy.
Bytes8 uniquebytes(size_t n) {
  Bytes8 out;
  for (uint32_t i = 0; out.size() < n; ++i) {
    out.push_back(static_cast<uint8_t>((i >> 12) & 63));
    out.push_back(static_cast<uint8_t>(0x40 | ((i >> 6) & 63)));
    out.push_back(static_cast<uint8_t>(0x80 | (i & 63)));
  }
  out.resize(n);
  return out;
}

// A picture-like mix: flat areas, noise, shading and repeats at all distances.
Bytes8 mixedbytes(size_t n, uint32_t salt) {
  std::mt19937 rng(salt);
  Bytes8 out;
  while (out.size() < n) {
    switch (rng() % 6) {
      case 0: out.insert(out.end(), 1 + rng() % 3000, static_cast<uint8_t>(rng())); break;
      case 1:
        for (uint32_t i = rng() % 500; i > 0; --i) out.push_back(static_cast<uint8_t>(rng()));
        break;
      case 2:
        for (uint32_t i = 0, k = rng() % 2000, b = rng(); i < k; ++i) out.push_back(static_cast<uint8_t>(b + i / 7));
        break;
      case 3:
      case 4:
        if (out.size() > 10) {
          const size_t back = 1 + rng() % std::min<size_t>(out.size(), 200000);
          const size_t len = 1 + rng() % 1500;
          for (size_t i = 0; i < len; ++i) out.push_back(out[out.size() - back]);
        }
        break;
      default:
        for (uint32_t i = rng() % 400, a = rng(), b = rng(); i > 0; --i) {
          out.push_back(static_cast<uint8_t>(a));
          out.push_back(static_cast<uint8_t>(b));
        }
    }
  }
  out.resize(n);
  return out;
}

// Captures the encoder's console lines for the length of a test.
class Quiet {
 public:
  std::string text() const { return capture_.text(); }

 private:
  test::ConsoleCapture capture_;
};

// ---- The store encoder ------------------------------------------------------

TEST(FbStore, WrapsTheDataInLiteralRuns) {
  EXPECT_EQ(store({}), (Bytes8{0x10, 0xFB, 0, 0, 0, 0xFC}));
  Bytes8 d64(64);
  for (size_t i = 0; i < d64.size(); ++i) d64[i] = static_cast<uint8_t>(i * 3);
  Bytes8 want = header10(64);
  want.push_back(0xEF);
  want.insert(want.end(), d64.begin(), d64.end());
  want.push_back(0xFC);
  EXPECT_EQ(store(d64), want);
  EXPECT_EQ(want.size(), 71u);

  Bytes8 d68 = d64;
  d68.insert(d68.end(), {1, 2, 3, 4});
  want = header10(68);
  want.push_back(0xEF);
  want.insert(want.end(), d64.begin(), d64.end());
  want.insert(want.end(), {0xE0, 1, 2, 3, 4, 0xFC});
  EXPECT_EQ(store(d68), want);
}

TEST(FbStore, SizesOffAWordBoundaryEndInTheEndCommand) {
  // The last one to three bytes travel with the end command, as the real
  // encoder's do.
  EXPECT_EQ(store({1, 2, 3, 4, 5}), (Bytes8{0x10, 0xFB, 0, 0, 5, 0xE0, 1, 2, 3, 4, 0xFD, 5}));
  EXPECT_EQ(store({7, 8, 9}), (Bytes8{0x10, 0xFB, 0, 0, 3, 0xFF, 7, 8, 9}));
}

// ---- The real encoder, derived by hand --------------------------------------------

struct FormCase {
  size_t length;    // of the repeat
  size_t distance;  // back to its first occurrence
  Bytes8 command;   // the copy command expected, empty when no copy pays off
};

TEST(FbEncode, ChoosesTheCommandFormByDistanceAndLength) {
  // The data: unrepeatable bytes, a fence byte, the first `length` bytes
  // again at `distance`, and four more fence bytes. Everything is literals
  // but the one repeat.
  const std::vector<FormCase> cases = {
      {3, 1024, {0x60, 0xFF}},             // two-byte form at its farthest
      {10, 1024, {0x7C, 0xFF}},            // ... and its longest
      {11, 1024, {0x87, 0x03, 0xFF}},      // too long for it: three-byte form
      {3, 1025, {}},                       // three bytes never go farther than 1024
      {4, 16384, {0x80, 0x3F, 0xFF}},      // three-byte form at its farthest
      {67, 16384, {0xBF, 0x3F, 0xFF}},     // ... and its longest
      {68, 16384, {0xC0, 0x3F, 0xFF, 0x3F}},
      {4, 16385, {}},                      // four bytes never go farther than 16384
      {5, 16385, {0xC1, 0x40, 0x00, 0x00}},  // one literal left for the command
      {3, 113, {0x01, 0x70}},              // 113 pending: a run of 112, one rides along
      {1028, 131072, {0xDC, 0xFF, 0xFF, 0xFF}},
      {5, 131073, {}},                     // outside the window
  };
  const Bytes8 unique = uniquebytes(131072);
  for (const FormCase& c : cases) {
    Bytes8 data(unique.begin(), unique.begin() + static_cast<std::ptrdiff_t>(c.distance - 1));
    data.push_back(0xF0);
    data.insert(data.end(), unique.begin(), unique.begin() + static_cast<std::ptrdiff_t>(c.length));
    data.insert(data.end(), {0xF1, 0xF2, 0xF3, 0xF4});

    Bytes8 want = header10(data.size());
    if (c.command.empty()) {
      want = literalsonly(data);
    } else {
      const size_t n = putliterals(want, data, 0, c.distance);
      want.insert(want.end(), c.command.begin(), c.command.end());
      want.insert(want.end(), data.begin() + static_cast<std::ptrdiff_t>(c.distance - n),
                  data.begin() + static_cast<std::ptrdiff_t>(c.distance));
      putend(want, data, c.distance + c.length);
    }
    Quiet quiet;
    const Bytes8 got = encode(data);
    EXPECT_EQ(got, want) << "length " << c.length << " distance " << c.distance;
    EXPECT_EQ(decode(got), data);
  }
}

TEST(FbEncode, ARunIsNeverItsOwnCandidate) {
  // One long run with no earlier occurrence of its key: all literals.
  const Bytes8 run(1000, 'A');
  Bytes8 want = header10(1000);
  for (int i = 0; i < 8; ++i) {
    want.push_back(0xFB);
    want.insert(want.end(), 112, 'A');
  }
  want.push_back(0xF9);  // the last 104 bytes
  want.insert(want.end(), 104, 'A');
  want.push_back(0xFC);
  Quiet quiet;
  EXPECT_EQ(encode(run), want);
}

TEST(FbEncode, TinyInputsAreLiterals) {
  EXPECT_EQ(encode({}), (Bytes8{0x10, 0xFB, 0, 0, 0, 0xFC}));
  EXPECT_EQ(encode({'a', 'a', 'a'}), (Bytes8{0x10, 0xFB, 0, 0, 3, 0xFF, 'a', 'a', 'a'}));
  EXPECT_EQ(encode({'a', 'b', 'a', 'b'}), (Bytes8{0x10, 0xFB, 0, 0, 4, 0xE0, 'a', 'b', 'a', 'b', 0xFC}));
}

TEST(FbEncode, TheLastByteIsAlwaysALiteral) {
  // A repeat that runs to the end of the data stops short of the last byte.
  Bytes8 data = uniquebytes(200);
  data.insert(data.end(), data.begin(), data.begin() + 100);
  Quiet quiet;
  const Bytes8 got = encode(data);
  EXPECT_EQ(got, referenceencode(data));
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], 0xFD);  // the end command carries one literal
  EXPECT_EQ(got.back(), data.back());
}

// Filler between the cases below: bytes from 0x80 up, in pairs of which no
// three bytes in a row come twice (for up to 8 KiB), no runs, none of the
// cases' letters.
class Filler {
 public:
  Bytes8 next(size_t n) {
    Bytes8 out;
    for (; out.size() < n; ++i_) {
      out.push_back(static_cast<uint8_t>(0x80 | ((i_ >> 6) & 63)));
      out.push_back(static_cast<uint8_t>(0xC0 | (i_ & 63)));
    }
    out.resize(n);
    return out;
  }

 private:
  uint32_t i_ = 0;
};

// Runs of byte c of the given lengths, each followed by `after`.
void putruns(Bytes8& d, uint8_t c, const std::vector<size_t>& lengths, uint8_t after) {
  for (const size_t l : lengths) {
    d.insert(d.end(), l, c);
    d.push_back(after);
  }
}

struct Input {
  std::string name;
  Bytes8 bytes;
};

std::vector<Input> awkwardinputs() {
  std::vector<Input> inputs;
  inputs.push_back({"mixed", mixedbytes(400000, 1)});
  inputs.push_back({"mixed small", mixedbytes(5000, 2)});
  // A run longer than a run entry can count, then the same again.
  Bytes8 runs(70000, 'R');
  runs.push_back('x');
  runs.insert(runs.end(), 70000, 'R');
  runs.insert(runs.end(), {'y', 'R', 'R', 'R', 'z'});
  inputs.push_back({"long runs", runs});
  // Runs of exactly and just past the positions one entry holds, and a run
  // to the end of the data.
  Bytes8 edges;
  for (const size_t l : {size_t{0xFFFF}, size_t{0x10000}, size_t{0x1FFFE}, size_t{0x1FFFF}, size_t{0xFFFF}}) {
    edges.insert(edges.end(), l, 'E');
    edges.insert(edges.end(), {'!', 'E', 'E', '?'});
  }
  edges.insert(edges.end(), 3000, 'E');
  inputs.push_back({"runs at the entry limit", edges});
  // Two-byte patterns, which a run entry does not cover.
  Bytes8 pattern;
  for (int i = 0; i < 30000; ++i) pattern.insert(pattern.end(), {0x12, static_cast<uint8_t>(0x34 + i / 5000)});
  inputs.push_back({"16-bit pattern", pattern});
  // Key "ab" 70 times, each time with its own next three bytes, then the
  // next three bytes of its 32nd and 64th entries (never candidates) and of
  // its 63rd: the longest match is one the rules skip.
  {
    auto tag = [](int k) { return Bytes8{'a', 'b', static_cast<uint8_t>(0x40 + k / 8), static_cast<uint8_t>(0x50 + k % 8), 0x60}; };
    Bytes8 d;
    Filler filler;
    for (int k = 0; k < 70; ++k) {
      const Bytes8 t = tag(k);
      d.insert(d.end(), t.begin(), t.end());
      const Bytes8 f = filler.next(10);
      d.insert(d.end(), f.begin(), f.end());
    }
    for (const int k : {31, 63, 62, 31}) {
      const Bytes8 t = tag(k);
      d.insert(d.end(), t.begin(), t.end());
      d.insert(d.end(), {0x20, 0x21});
    }
    inputs.push_back({"32nd and 64th entries of a key", d});
  }
  // The same for runs: 40 runs of 'c', the 32nd longer than the others
  // and followed by its own bytes, then that run again.
  {
    Bytes8 d;
    for (int k = 0; k < 40; ++k) {
      d.insert(d.end(), k == 31 ? 9 : 4, 'c');
      d.insert(d.end(), {static_cast<uint8_t>(k == 31 ? 'X' : 'x'), static_cast<uint8_t>(0x80 + k)});
    }
    d.insert(d.end(), 9, 'c');
    d.insert(d.end(), {'X', 0x80 + 31, 'q', 'r', 's'});
    inputs.push_back({"32nd run of a byte", d});
  }
  // A run that continues while older runs of its byte are longer, shorter
  // or as long: the newest entry (the run itself) is never a candidate.
  {
    Bytes8 d;
    putruns(d, 'A', {50, 20, 100, 50, 7, 200, 20, 20}, '|');
    putruns(d, 'A', {200, 3, 1500, 1029, 1030, 1028}, '/');
    inputs.push_back({"continued runs", d});
  }
  // Runs of one byte of many lengths (up to past the longest match), each
  // followed by one of a few bytes: equal runs agree beyond the run.
  {
    std::mt19937 rng(11);
    Bytes8 d;
    for (int k = 0; k < 300; ++k) {
      const size_t l = rng() % 4 == 0 ? 2 + rng() % 1200 : 2 + rng() % 12;
      d.insert(d.end(), l, 0x33);
      const uint8_t after[] = {'x', 'y', 'x', 'z'};
      d.push_back(after[rng() % 4]);
      if (rng() % 2) d.push_back(static_cast<uint8_t>('0' + rng() % 3));
    }
    inputs.push_back({"runs of many lengths", d});
  }
  // A byte and then a run, as a speck in a flat picture area.
  {
    std::mt19937 rng(12);
    Bytes8 d;
    for (int k = 0; k < 2000; ++k) {
      d.push_back(static_cast<uint8_t>(rng() % 6));
      d.insert(d.end(), 1 + rng() % 40, 0x14);
    }
    inputs.push_back({"specks in a flat area", d});
  }
  // Repeats that reach the last bytes, where the longest match shrinks.
  for (size_t tail = 4; tail <= 12; ++tail) {
    Bytes8 d = mixedbytes(3000, 13);
    d.insert(d.end(), d.begin() + 100, d.begin() + 100 + static_cast<std::ptrdiff_t>(tail));
    inputs.push_back({"repeat at the end, " + std::to_string(tail), d});
  }
  for (int size = 5; size <= 12; ++size) inputs.push_back({"short", mixedbytes(static_cast<size_t>(size), 3)});
  // Real game data.
  if (!test::samplesdir().empty()) {
    inputs.push_back({"text", test::readbytes(test::samplesdir() / "fb/text")});
    inputs.push_back({"LDIABL.PBS.expected", test::readbytes(test::samplesdir() / "fb/LDIABL.PBS.expected")});
    const Bytes8 packed = test::readbytes(test::samplesdir() / "shpi/AL1.FSH");
    FbStatus status;
    const Block pictures = fbdecompress(packed, status);
    inputs.push_back({"AL1.FSH", pictures ? Bytes8(pictures.get(), pictures.get() + pictures.size) : packed});
  }
  return inputs;
}

TEST(FbEncode, MatchesThePlainRulesOnVariedData) {
  for (const Input& in : awkwardinputs()) {
    const Bytes8 got = encode(in.bytes);
    EXPECT_EQ(got, referenceencode(in.bytes)) << in.name << " " << in.bytes.size();
    EXPECT_EQ(decode(got), in.bytes) << in.name;
  }
}

TEST(FbEncode, ReportsProgressToItsCallerAndPrintsNothing) {
  // Nothing worth a copy in the first 12,000 bytes, then those again: the
  // callback hears of position 1 and then of the first position visited
  // from 10,000 and from 20,000 on, with what has been written by then (the
  // copies of 1028 bytes jump from 19196 to 20224).
  Bytes8 data = uniquebytes(12000);
  data.insert(data.end(), data.begin(), data.end());
  std::vector<FbProgress> heard;
  test::ConsoleCapture console;
  Block out = allocblock(fbcapacity(static_cast<int32_t>(data.size())));
  out.size = fbencode(data, out.get(), [&](const FbProgress& p) { heard.push_back(p); });
  EXPECT_EQ(console.text(), "");
  ASSERT_EQ(heard.size(), 3u);
  const int32_t done[] = {1, 10000, 20224};
  // The header; then the 12,000 literals in 107 runs of 112 and one of 16,
  // and eight copy commands of four bytes.
  const int32_t written[] = {5, 5, 5 + 107 * 113 + 17 + 8 * 4};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(heard[i].done, done[i]);
    EXPECT_EQ(heard[i].total, 24000);
    EXPECT_EQ(heard[i].written, written[i]);
  }
  EXPECT_EQ(Bytes8(out.get(), out.get() + out.size), referenceencode(data));
}

TEST(FbEncode, RefusesDataLargerThanABlockHolds) {
  const Bytes8 data(0x1000000, 'x');
  Block out = allocblock(16);
  EXPECT_EQ(fbencode(data, out.get()), -1);
  EXPECT_EQ(out.get()[0], 0);  // nothing written
}

// allocmem, counting what the encoder takes.
int64_t allocated = 0;
void* (*hostalloc)(int32_t) = nullptr;
void* countingalloc(int32_t size) {
  allocated += size;
  return hostalloc(size);
}

TEST(FbEncode, ItsOwnMemoryIsWindowSized) {
  // The largest block: runs of every byte value first (each value that
  // starts runs has a table), then long copies. The encoder's own tables
  // stay under 8 MiB whatever the size of the data.
  Bytes8 data;
  for (int c = 0; c < 256; ++c) data.insert(data.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c), 0x55, 0xAA});
  const Bytes8 pattern = mixedbytes(70000, 14);
  while (data.size() < 0xFFFFFF) data.insert(data.end(), pattern.begin(), pattern.end());
  data.resize(0xFFFFFF);
  Block out = allocblock(fbcapacity(static_cast<int32_t>(data.size())));
  auto& allocmem = services().allocmem;
  hostalloc = allocmem;
  allocated = 0;
  allocmem = countingalloc;
  out.size = fbencode(data, out.get());
  allocmem = hostalloc;
  EXPECT_GT(allocated, 0);
  EXPECT_LT(allocated, 8 << 20);
  EXPECT_EQ(decode(Bytes8(out.get(), out.get() + out.size)), data);
}

TEST(FbEncode, RoundTripsLargeInputs) {
  Bytes8 data = mixedbytes(3 << 20, 7);
  Quiet quiet;
  const Bytes8 got = encode(data);
  EXPECT_LT(got.size(), data.size() / 2);
  EXPECT_EQ(decode(got), data);
}

// ---- fbcompress and the self-test ------------------------------------------------

TEST(FbCompress, UsesTheEncoderTheSettingsAsk) {
  const Bytes8 data = mixedbytes(20000, 9);
  resetsettings();
  Block stored = fbcompress(copyblock(data)).data;
  EXPECT_EQ(Bytes8(stored.get(), stored.get() + stored.size), store(data));

  mutablesettings().real_compression = true;
  test::ConsoleCapture console;
  Block real = fbcompress(copyblock(data)).data;
  resetsettings();
  EXPECT_EQ(Bytes8(real.get(), real.get() + real.size), referenceencode(data));
  EXPECT_EQ(console.text(), "");  // the caller speaks, through the progress callback
}

TEST(FbCompress, ReportsProgressAndTheFinalSizes) {
  struct Case {
    Bytes8 data;
    std::vector<int32_t> marks;  // the positions progress is reported at
  };
  const std::vector<Case> cases = {
      {{}, {}},
      {{'a', 'a', 'a'}, {1}},
      {uniquebytes(25000), {1, 10000, 20000}},
  };
  mutablesettings().real_compression = true;
  for (const Case& c : cases) {
    std::vector<FbProgress> heard;
    const Block real = fbcompress(copyblock(c.data), [&heard](const FbProgress& p) { heard.push_back(p); }).data;
    ASSERT_EQ(heard.size(), c.marks.size() + 1);
    for (size_t i = 0; i < c.marks.size(); ++i) {
      EXPECT_EQ(heard[i].done, c.marks[i]);
      EXPECT_FALSE(heard[i].finished);
    }
    const FbProgress& last = heard.back();
    EXPECT_TRUE(last.finished);
    EXPECT_EQ(last.total, static_cast<int32_t>(c.data.size()));
    EXPECT_EQ(last.written, real.size);
    EXPECT_EQ(last.written, static_cast<int32_t>(literalsonly(c.data).size()));
  }
  resetsettings();
}

TEST(FbCompress, RefusesWhatTheSizeFieldCannotHold) {
  test::ConsoleCapture console;
  for (const bool real : {false, true}) {
    mutablesettings().real_compression = real;
    const FbCompressed refused = fbcompress(allocblock(0x1000000));
    EXPECT_EQ(refused.status, FbCompressed::kTooLarge);
    EXPECT_EQ(refused.inputsize, 0x1000000);
    EXPECT_FALSE(refused.data);
  }
  resetsettings();
}

TEST(FbCompress, TheSelfTestFindsABrokenEncoding) {
  const Bytes8 original = {'a', 'b', 'c', 'd'};
  // Decodes to "abce": the same size, one byte different.
  const Bytes8 wrong = {0x10, 0xFB, 0, 0, 4, 0xE0, 'a', 'b', 'c', 'e', 0xFC};
  const FbSelfTest differs = fbverify(original, wrong);
  EXPECT_EQ(differs.outcome, FbSelfTest::kBytesDiffer);
  ASSERT_TRUE(differs.decoded);
  EXPECT_EQ(Bytes8(differs.decoded.get(), differs.decoded.get() + differs.decoded.size), (Bytes8{'a', 'b', 'c', 'e'}));

  const Bytes8 shorter = {0x10, 0xFB, 0, 0, 3, 0xFF, 'a', 'b', 'c'};
  const FbSelfTest short3 = fbverify(original, shorter);
  EXPECT_EQ(short3.outcome, FbSelfTest::kSizeDiffers);
  EXPECT_EQ(short3.originalsize, 4);
  EXPECT_EQ(short3.decodedsize, 3);
  EXPECT_EQ(fbverify(original, Bytes8{0x10, 0xFB, 0x00}).outcome, FbSelfTest::kUndecodable);
  EXPECT_EQ(fbverify(original, Bytes8{0x10, 0xFB, 0, 0, 4, 0xE0, 'a', 'b', 'c', 'd', 0xFC}).outcome, FbSelfTest::kPassed);
}

}  // namespace
}  // namespace torvex
