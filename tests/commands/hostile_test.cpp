// Hostile files, end to end: the real sample files and packs laid out by
// hand are damaged in set ways (bits flipped, cut short, a size grown, an
// offset pointed past the end), each with a fixed seed, and the built
// program lists, extracts, replaces, adds and deletes on every copy. No run
// may crash, hang or trip a sanitizer; a refusal says why; nothing is written
// outside the folder the program runs in; and a pack handed to -r, -p or -d
// is either left byte for byte or rewritten so that it lists the members it
// should.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../pack/fixtures.h"
#include "support.h"

namespace torvex::test {
namespace {

// A field of a directory, at a byte position: a size or an offset.
struct Field {
  size_t at;
  int bytes;        // 3 or 4
  bool bigendian;
};

struct Source {
  std::string what;
  std::string file;     // the name the damaged copy gets
  ByteVec bytes;
  std::string picture;  // the SHPI file (inside the pack, or the file itself) and one of its pictures
  std::string name;
  std::string member;   // a member (or record) for -d
  std::vector<Field> sizes;
  std::vector<Field> offsets;
};

uint64_t getfield(const ByteVec& b, const Field& f) {
  uint64_t v = 0;
  for (int i = 0; i < f.bytes; ++i) {
    const uint64_t byte = b[f.at + static_cast<size_t>(i)];
    v |= f.bigendian ? byte << (8 * (f.bytes - 1 - i)) : byte << (8 * i);
  }
  return v;
}

void setfield(ByteVec& b, const Field& f, uint64_t v) {
  const uint64_t most = (uint64_t{1} << (8 * f.bytes)) - 1;
  v = std::min(v, most);
  for (int i = 0; i < f.bytes; ++i) {
    const int shift = f.bigendian ? 8 * (f.bytes - 1 - i) : 8 * i;
    b[f.at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> shift);
  }
}

// The fields of a BIGF directory, read by the table: count at 8, then from
// 16 a 4-byte offset, a 4-byte size and a zero-terminated name per member.
void bigffields(Source& s) {
  const ByteVec& b = s.bytes;
  const uint32_t count = static_cast<uint32_t>(getfield(b, {8, 4, true}));
  size_t at = 16;
  for (uint32_t i = 0; i < count && at + 8 < b.size(); ++i) {
    s.offsets.push_back({at, 4, true});
    s.sizes.push_back({at + 4, 4, true});
    at += 8;
    while (at < b.size() && b[at] != 0) ++at;
    ++at;
  }
  s.sizes.push_back({4, 4, true});  // the pack's own size
  s.sizes.push_back({8, 4, true});  // the count
}

// SHPI: total size at 4 and count at 8, then from 16 a 4-character name and
// a 4-byte offset per record, all little-endian.
void shpifields(Source& s) {
  const uint32_t count = static_cast<uint32_t>(getfield(s.bytes, {8, 4, false}));
  for (uint32_t i = 0; i < count && 16 + 8 * i + 8 <= s.bytes.size(); ++i) s.offsets.push_back({16 + 8 * i + 4, 4, false});
  s.sizes.push_back({4, 4, false});
  s.sizes.push_back({8, 4, false});
}

std::vector<Source> samplesources() {
  std::vector<Source> out;
  const fs::path samples = samplesdir();
  {
    Source s{"car.viv", "x.viv", readbytes(samples / "packs" / "car.viv"), "x.viv\\fedata.fsh", "logo", "carp.txt", {}, {}};
    bigffields(s);
    out.push_back(std::move(s));
  }
  {
    Source s{"attached_palette.fsh", "x.fsh", readbytes(samples / "shpi" / "attached_palette.fsh"), "x.fsh", "0000", "0000", {}, {}};
    shpifields(s);
    out.push_back(std::move(s));
  }
  {
    // A whole SHPI file in 10 FB: its size stands in the FB header.
    Source s{"AL3.QFS", "x.qfs", readbytes(samples / "shpi" / "AL3.QFS"), "x.qfs", "0000", "!pal", {{2, 3, true}}, {}};
    out.push_back(std::move(s));
  }
  return out;
}

// Three members, one of them a real SHPI file, in the three layouts the
// writer writes.
std::vector<Source> handbuiltsources() {
  const ByteVec shpi = readbytes(samplesdir() / "shpi" / "attached_palette.fsh");
  const std::vector<Member> members = {
      {"a.txt", bytesof("hello, hostile world\n")}, {"pic.fsh", shpi}, {"b.dat", pattern(300, 7)}};
  std::vector<Source> out;
  {
    Source s{"hand-built BIGF", "x.viv", bigf(members), "x.viv\\pic.fsh", "0000", "a.txt", {}, {}};
    bigffields(s);
    out.push_back(std::move(s));
  }
  {
    // C0FB: header length - 4 and count (16 bits) from 2, then a 24-bit
    // offset, a 24-bit size and a name per member, big-endian.
    Source s{"hand-built C0FB", "x.viv", c0fb(members), "x.viv\\pic.fsh", "0000", "b.dat", {{4, 2, true}}, {}};
    size_t at = 6;
    for (const Member& m : members) {
      s.offsets.push_back({at, 3, true});
      s.sizes.push_back({at + 3, 3, true});
      at += 6 + m.name.size() + 1;
    }
    out.push_back(std::move(s));
  }
  {
    // FST: record count, then a 4-byte offset and a 64-byte name per record
    // (the last one the end), little-endian; a member ends where the next begins.
    Source s{"hand-built FST", "x.fst", fst(members), "x.fst\\pic.fsh", "0000", "a.txt", {{0, 4, false}}, {}};
    for (size_t i = 0; i <= members.size(); ++i) s.offsets.push_back({4 + 68 * i, 4, false});
    out.push_back(std::move(s));
  }
  {
    // Two members: "-d" leaves an FST pack of one, which must still open.
    const std::vector<Member> two(members.begin(), members.begin() + 2);
    Source s{"hand-built FST of two", "x.fst", fst(two), "x.fst\\pic.fsh", "0000", "a.txt", {{0, 4, false}}, {}};
    for (size_t i = 0; i <= two.size(); ++i) s.offsets.push_back({4 + 68 * i, 4, false});
    out.push_back(std::move(s));
  }
  return out;
}

// ---- Damage ----------------------------------------------------------------------

using Damage = std::function<ByteVec(const Source&, std::mt19937&)>;

size_t pick(std::mt19937& random, size_t below) {
  return below == 0 ? 0 : std::uniform_int_distribution<size_t>(0, below - 1)(random);
}

ByteVec flipbits(const Source& s, std::mt19937& random, size_t within) {
  ByteVec b = s.bytes;
  for (int i = 0; i < 6; ++i) b[pick(random, std::min(within, b.size()))] ^= static_cast<uint8_t>(1u << pick(random, 8));
  return b;
}

const struct {
  const char* what;
  Damage damage;
} kDamage[] = {
    {"bits flipped in the header", [](const Source& s, std::mt19937& r) { return flipbits(s, r, 256); }},
    {"bits flipped anywhere", [](const Source& s, std::mt19937& r) { return flipbits(s, r, s.bytes.size()); }},
    {"cut in the header",
     [](const Source& s, std::mt19937& r) { return ByteVec(s.bytes.begin(), s.bytes.begin() + 1 + static_cast<long>(pick(r, 40))); }},
    {"cut in the data",
     [](const Source& s, std::mt19937& r) {
       const size_t from = s.bytes.size() / 4;
       return ByteVec(s.bytes.begin(), s.bytes.begin() + static_cast<long>(from + pick(r, s.bytes.size() - from)));
     }},
    {"a size grown",
     [](const Source& s, std::mt19937& r) {
       ByteVec b = s.bytes;
       const Field& f = s.sizes[pick(r, s.sizes.size())];
       const uint64_t v = getfield(b, f);
       const uint64_t grown[] = {v + 1, v * 16 + 1000, ~uint64_t{0}};
       setfield(b, f, grown[pick(r, 3)]);
       return b;
     }},
    {"an offset past the end",
     [](const Source& s, std::mt19937& r) {
       ByteVec b = s.bytes;
       // Without known offsets, a 4-byte field in the header either way round.
       const Field f = s.offsets.empty() ? Field{4 * pick(r, 8), 4, pick(r, 2) == 0} : s.offsets[pick(r, s.offsets.size())];
       const uint64_t past[] = {b.size(), b.size() + 1 + pick(r, 4096), ~uint64_t{0}};
       setfield(b, f, past[pick(r, 3)]);
       return b;
     }},
};

// ---- Running the program -----------------------------------------------------------

std::string quoted(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

constexpr int kSecondsPerRun = 60;

// The program with a time limit: a run that does not end is killed (and
// its status is then 128 + 9).
RunResult run(const std::vector<std::string>& args, const fs::path& cwd) {
  std::string line = "exec timeout -s KILL " + std::to_string(kSecondsPerRun);
  std::vector<std::string> words = torvexcommand();
  words.insert(words.end(), args.begin(), args.end());
  for (const std::string& w : words) {
    line += ' ';
    line += quoted(w);
  }
  RunResult r = runshell(line, cwd);
  std::erase(r.out, '\r');
  std::erase(r.err, '\r');
  return r;
}

// The member (or record) names of a listing: the word after each size.
std::set<std::string> names(const std::string& listing) {
  std::set<std::string> out;
  std::istringstream lines(listing);
  std::string line;
  bool directory = false;
  while (std::getline(lines, line)) {
    if (line.rfind("Directory '", 0) == 0) {
      directory = true;
      continue;
    }
    std::istringstream words(line);
    long long size;
    std::string name;
    if (directory && line.rfind("  ", 0) == 0 && words >> size >> name) out.insert(name);
  }
  return out;
}

// A listing that got as far as the directory.
bool opens(const RunResult& listing) { return listing.out.find("\nDirectory '") != std::string::npos; }

std::string described(const RunResult& r) {
  return "status " + std::to_string(r.status) + "\n" + r.out + r.err;
}

// What a run must never do, whatever it was given.
void expectsound(const RunResult& r, const std::string& context) {
  EXPECT_LT(r.status, 128) << context << ": ended by a signal or killed after " << kSecondsPerRun << " s\n" << described(r);
  EXPECT_TRUE(r.status == 0 || r.status == 1) << context << "\n" << described(r);
  for (const char* report : {"Sanitizer", "runtime error:", "LeakSanitizer"})
    EXPECT_EQ((r.out + r.err).find(report), std::string::npos) << context << "\n" << described(r);
  if (r.status != 0) {
    EXPECT_TRUE(std::any_of(r.out.begin(), r.out.end(), [](char c) { return c > ' '; }) ||
                std::any_of(r.err.begin(), r.err.end(), [](char c) { return c > ' '; }))
        << context << ": refused without a word";
  }
}

enum class Change { kNone, kAdds, kDeletes, kKeepsNames };

struct Command {
  const char* what;
  std::function<std::vector<std::string>(const Source&)> args;
  Change change;
};

const Command kCommands[] = {
    {"-u", [](const Source& s) { return std::vector<std::string>{"-u", s.file}; }, Change::kNone},
    {"-epng", [](const Source& s) { return std::vector<std::string>{"-epng", s.picture}; }, Change::kNone},
    {"-r", [](const Source& s) { return std::vector<std::string>{"-r", s.picture, "new.png", s.name}; }, Change::kKeepsNames},
    {"-p", [](const Source& s) { return std::vector<std::string>{"-p", s.file, "new.txt"}; }, Change::kAdds},
    {"-d", [](const Source& s) { return std::vector<std::string>{"-d", s.file, s.member}; }, Change::kDeletes},
};

// Every command on one damaged copy, each in a fresh folder inside a fresh
// parent that must stay as it was.
void exercise(const Source& source, const ByteVec& damaged, const std::string& context) {
  const ByteVec picture = readbytes(fixturesdir().parent_path().parent_path() / "fuzz" / "image" / "corpus" / "pal.png");
  auto prepare = [&](const TempDir& parent) {
    const fs::path work = parent / "work";
    fs::create_directory(work);
    writebytes(work / source.file, damaged);
    writebytes(work / "new.png", picture);
    writetext(work / "new.txt", "a new member\n");
    return work;
  };
  auto parentkept = [](const TempDir& parent, const std::string& where) {
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(parent.path())) entries.push_back(e.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{"work"}) << where << ": written outside the working folder";
  };

  TempDir listparent;
  const fs::path listwork = prepare(listparent);
  const RunResult before = run({"-l", source.file}, listwork);
  expectsound(before, context + ", -l");
  parentkept(listparent, context + ", -l");
  const bool listed = before.status == 0;
  const std::set<std::string> had = names(before.out);

  for (const Command& c : kCommands) {
    const std::string where = context + ", " + c.what;
    TempDir parent;
    const fs::path work = prepare(parent);
    const RunResult r = run(c.args(source), work);
    expectsound(r, where);
    parentkept(parent, where);
    if (c.change == Change::kNone) continue;
    const ByteVec after = readbytes(work / source.file);
    if (r.status != 0) {
      EXPECT_TRUE(after == damaged) << where << ": refused, but the pack changed\n" << described(r);
      continue;
    }
    if (after == damaged) continue;
    // Rewritten: it must open and list what it should, and list as well as
    // it did (a member that was corrupt before stays corrupt).
    const RunResult again = run({"-l", source.file}, work);
    const std::string both = described(r) + "\n-l before it: " + described(before) + "\n-l after it: " + described(again);
    ASSERT_TRUE(opens(again)) << where << ": rewritten into a pack that does not open\n" << both;
    if (listed) {
      EXPECT_EQ(again.status, 0) << where << ": listed before, not after\n" << both;
    }
    std::set<std::string> expected = had;
    if (c.change == Change::kAdds) expected.insert("new.txt");
    if (c.change == Change::kDeletes) expected.erase(source.member);
    if (opens(before)) {
      EXPECT_EQ(names(again.out), expected) << where << "\n" << both;
    } else if (c.change == Change::kAdds) {
      EXPECT_TRUE(names(again.out).count("new.txt")) << where << "\n" << both;
    }
  }
}

void damageall(const std::vector<Source>& sources, int seeds) {
  for (size_t s = 0; s < sources.size(); ++s) {
    for (size_t k = 0; k < std::size(kDamage); ++k) {
      for (int seed = 0; seed < seeds; ++seed) {
        std::mt19937 random(static_cast<unsigned>(1000 * s + 10 * k + static_cast<size_t>(seed) + 1));
        const ByteVec damaged = kDamage[k].damage(sources[s], random);
        exercise(sources[s], damaged,
                 sources[s].what + ", " + kDamage[k].what + " (seed " + std::to_string(seed) + ")");
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

TEST(HostileFiles, SampleFiles) {
  if (samplesdir().empty()) GTEST_SKIP() << "no sample files (../shared/samples)";
  damageall(samplesources(), 2);
}

TEST(HostileFiles, HandBuiltPacks) {
  if (samplesdir().empty()) GTEST_SKIP() << "no sample files (../shared/samples): the packs hold one";
  damageall(handbuiltsources(), 3);
}

}  // namespace
}  // namespace torvex::test
