// Speed of the real 10 FB encoder against its predecessor (kept here as
// oldfbencode, and as the command fbold), and of the 10 FB decoder, in one
// run over a set of files:
//
//   fbbench [--runs N] [--write DIR] [FILE | FOLDER]...
//
// With no files it generates its own corpus (text, binary records, an 8-bit
// and a 16-bit picture, random bytes); a folder stands for the files in it
// (for instance the one ../shared/bench/fb-corpus.py writes). For each file:
//  - in process: encode MB/s of the old and the new encoder (input bytes per
//    second of processor time, the best of three runs each, taken in turn),
//    decode MB/s (output bytes, the best of five), and the peak of what the
//    new encoder takes from allocmem for its own tables;
//  - whole commands: `torvex -real -compress FILE OUT` against
//    `fbold FILE OUT`, which reads, encodes with the old encoder, self-tests
//    and writes the same way; N pairs (default 5) taken in turn after one
//    pair to warm up, the median processor time (user + system) and wall
//    time of each. MB/s is input bytes per second.
// Then, per file, what a whole command costs besides starting and the
// search for copies, in process:
//  - fixed: reading the file, the self-test of the encoding, writing it
//    (the median of five);
//  - entering: what entering every position costs in the cheapest index of
//    these rules we know, one table and one chain on four bytes and the
//    count per two-byte key, timed on a loop that does nothing else (every
//    position must enter: each is a candidate of later searches; the best
//    of five);
//  - bound: the whole command's MB/s if starting and searching cost
//    nothing at all, against the whole command's now.
// It stops when the two encoders' outputs differ in a single byte.
// --write DIR keeps each generated file and its encoding (NAME, NAME.fb).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "oldencode.h"
#include "torvex/fbcomp/encode.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/platform.h"

extern char** environ;

namespace {

using Bytesvec = std::vector<uint8_t>;

// Prose: the common English words and a few thousand made-up longer ones,
// drawn with a Zipf-like frequency, in sentences and lines of up to 72
// characters, with some numbers.
Bytesvec maketext(size_t size, std::mt19937& rng) {
  static const char* const kCommon[] = {
      "the", "of", "and", "to", "a", "in", "is", "that", "for", "it", "as", "was", "with", "be", "by", "on",
      "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had", "they",
      "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if", "more", "when",
      "will", "would", "who", "so", "no", "player", "team", "season", "goal", "league", "game", "ice",
      "hockey", "period", "score", "penalty", "shot", "save", "coach", "arena", "puck", "stick", "skates"};
  static const char* const kSyllables[] = {"ka", "ren", "to", "mi", "sal", "ver", "on", "dra", "bel", "ist",
                                           "ga", "lor", "pe", "que", "tin", "us", "ar", "mon", "el", "di",
                                           "stra", "fo", "nik", "ham", "ber", "cor", "ly", "tes", "an", "ge"};
  std::vector<std::string> words(std::begin(kCommon), std::end(kCommon));
  std::uniform_int_distribution<size_t> syllable(0, std::size(kSyllables) - 1);
  std::uniform_int_distribution<int> syllables(2, 4);
  while (words.size() < 4000) {
    std::string w;
    for (int i = syllables(rng); i > 0; --i) w += kSyllables[syllable(rng)];
    words.push_back(w);
  }
  std::vector<double> weights(words.size());
  for (size_t i = 0; i < words.size(); ++i) weights[i] = 1.0 / static_cast<double>(i + 1);
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
  std::uniform_int_distribution<int> sentence(4, 18);
  std::uniform_int_distribution<int> number(0, 9999);
  std::string out;
  size_t column = 0;
  while (out.size() < size) {
    const int count = sentence(rng);
    for (int w = 0; w < count; ++w) {
      std::string word = words[pick(rng)];
      if (w == 0) word[0] = static_cast<char>(word[0] - 32);
      if (number(rng) < 150) word = std::to_string(number(rng));
      if (column + word.size() > 72) {
        out += '\n';
        column = 0;
      } else if (w > 0 || column > 0) {
        out += ' ';
        ++column;
      }
      out += word;
      column += word.size();
    }
    out += '.';
    ++column;
  }
  out.resize(size);
  return {out.begin(), out.end()};
}

// Records of small numbers, growing offsets, flags and names, with zero
// padding, as in the games' data files.
Bytesvec makebinary(size_t size, std::mt19937& rng) {
  Bytesvec out;
  out.reserve(size);
  std::uniform_int_distribution<int> small(0, 40);
  std::uniform_int_distribution<int> byte(0, 255);
  uint32_t offset = 0x1000;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  static const char* const kNames[] = {"skater", "goalie", "jersey", "helmet", "boards", "glass", "crowd", "bench"};
  while (out.size() < size) {
    offset += static_cast<uint32_t>(small(rng) * 16);
    put32(offset);
    put32(static_cast<uint32_t>(small(rng)));
    put32(small(rng) < 30 ? 0u : static_cast<uint32_t>(byte(rng)));
    const char* name = kNames[small(rng) % 8];
    for (size_t i = 0; i < 12; ++i) out.push_back(i < std::strlen(name) ? static_cast<uint8_t>(name[i]) : 0);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(small(rng) < 35 ? 0 : byte(rng)));
    if (small(rng) == 0)
      for (int i = 0; i < 64; ++i) out.push_back(0);
  }
  out.resize(size);
  return out;
}

// An 8-bit picture: flat rectangles, some noisy areas and smooth shading.
Bytesvec makepicture8(int width, int height, std::mt19937& rng) {
  Bytesvec out(static_cast<size_t>(width) * static_cast<size_t>(height));
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> xs(0, width - 1);
  std::uniform_int_distribution<int> ys(0, height - 1);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(16 + (x + y) / 64 % 16);
  for (int r = 0; r < 300; ++r) {
    const int x0 = xs(rng), y0 = ys(rng);
    const int w = std::min(width - x0, 16 + xs(rng) / 4), h = std::min(height - y0, 16 + ys(rng) / 4);
    const bool noisy = byte(rng) < 40;
    const int colour = byte(rng);
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x)
        out[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(noisy ? colour + byte(rng) % 8 : colour);
  }
  return out;
}

// A 16-bit picture with a smooth gradient, little-endian pixels.
Bytesvec makepicture16(int width, int height) {
  Bytesvec out;
  out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int r = x * 31 / width, g = y * 63 / height, b = (x + y) * 31 / (width + height);
      const uint16_t v = static_cast<uint16_t>((r << 11) | (g << 5) | b);
      out.push_back(static_cast<uint8_t>(v));
      out.push_back(static_cast<uint8_t>(v >> 8));
    }
  return out;
}

Bytesvec makerandom(size_t size, std::mt19937& rng) {
  Bytesvec out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

void quiet(std::string_view) {}

// Processor time of this process: on a shared machine it varies less than
// the wall clock.
double cputime() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void writefile(const std::string& name, std::span<const uint8_t> bytes) {
  torvex::File f(name.c_str(), 1);
  if (!f || !f.writeall(bytes)) std::fprintf(stderr, "cannot write %s\n", name.c_str());
}

// allocmem, adding up what is taken while `counting` is set.
int64_t taken = 0;
void* (*hostalloc)(int32_t) = nullptr;
void* countingalloc(int32_t size) {
  taken += size;
  return hostalloc(size);
}

struct Times {
  double cpu;   // user + system of the child
  double wall;
};

Times runcommand(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror(argv[0]);
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed on %s\n", argv[0], argv[argv.size() - 3]);
    std::exit(1);
  }
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), wall};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The floor of entering every position of `data` in order, as the rules
// require: a position whose two-byte key is one byte twice enters only where
// a run starts; the others enter one chain on their four bytes unless their
// key's count says they never can be a candidate. Best of five, seconds.
uint32_t floorsink = 0;  // what the loop made, so that none of it is left out
double enteringfloor(std::span<const uint8_t> data) {
  const auto size = static_cast<int32_t>(data.size());
  Bytesvec d(data.begin(), data.end());
  d.resize(d.size() + 8);
  constexpr int kBits = 16;
  constexpr uint32_t kMask = (1u << 17) - 1;
  std::vector<uint32_t> head(1u << kBits);
  std::vector<uint32_t> link(kMask + 1);
  std::vector<uint8_t> counts(65536);
  const uint32_t v0 = size > 0 ? data[0] : 0;
  double best = 1e9;
  for (int run = 0; run < 5; ++run) {
    std::fill(head.begin(), head.end(), 0);
    std::fill(counts.begin(), counts.end(), 0);
    const double a = cputime();
    for (int32_t p = 0; p + 1 < size; ++p) {
      uint32_t v;
      std::memcpy(&v, d.data() + p, 4);
      const uint32_t key = v & 0xFFFF;
      if ((key >> 8) == (key & 0xFF)) {
        if (p > 0 && d[static_cast<size_t>(p) - 1] == d[static_cast<size_t>(p)]) continue;
        ++counts[key];
        continue;
      }
      if ((counts[key]++ & 31) == 31) continue;
      const uint32_t slot = (v * 2654435761u) >> (32 - kBits);
      link[static_cast<uint32_t>(p) & kMask] = head[slot];
      head[slot] = static_cast<uint32_t>(p) + 1;
    }
    best = std::min(best, cputime() - a);
    floorsink += head[v0 % head.size()] + link[v0 % link.size()] + counts[v0 % counts.size()];
  }
  return best;
}

struct Item {
  std::string name;
  std::string path;  // the file on disk, for the whole commands
  Bytesvec bytes;
};

}  // namespace

int main(int argc, char** argv) {
  torvex::installservices();
  namespace fs = std::filesystem;
  int runs = 5;
  const char* writedir = nullptr;
  std::vector<std::string> given;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--write" && i + 1 < argc) {
      writedir = argv[++i];
    } else if (fs::is_directory(argv[i])) {
      std::vector<std::string> files;
      for (const auto& e : fs::directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path().string());
      std::sort(files.begin(), files.end());
      given.insert(given.end(), files.begin(), files.end());
    } else {
      given.push_back(argv[i]);
    }
  }
  char pattern[] = "/tmp/fbbench_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path work = pattern;

  std::vector<Item> corpus;
  for (const std::string& file : given) {
    torvex::Block b = torvex::loadfile(file.c_str());
    if (b) corpus.push_back({fs::path(file).filename().string(), file, Bytesvec(b.get(), b.get() + b.size)});
  }
  if (given.empty()) {
    std::mt19937 rng(20011116);
    corpus.push_back({"text", "", maketext(8u << 20, rng)});
    corpus.push_back({"binary", "", makebinary(4u << 20, rng)});
    corpus.push_back({"picture8", "", makepicture8(2048, 2048, rng)});
    corpus.push_back({"picture16", "", makepicture16(1024, 2048)});
    corpus.push_back({"random", "", makerandom(4u << 20, rng)});
    for (Item& item : corpus) {
      item.path = (work / item.name).string();
      writefile(item.path, item.bytes);
    }
  }

  struct Floor {
    std::string name;
    double mb, fixed, entering, command;
  };
  std::vector<Floor> floors;
  auto& services = torvex::services();
  auto* const console = services.consolewrite;
  std::printf("%-12s %9s %9s %8s | %-26s | %-35s | %s\n", "", "", "", "decode", "in process: encode MB/s",
              "whole command: MB/s (cpu), wall", "encoder");
  std::printf("%-12s %9s %9s %8s | %8s %8s %8s | %8s %8s %8s %8s | %s\n", "file", "bytes", "encoded", "MB/s", "old",
              "new", "new/old", "old", "new", "new/old", "new/old", "KiB");
  for (const Item& item : corpus) {
    const std::span<const uint8_t> data(item.bytes);
    const auto size = static_cast<int32_t>(data.size());
    torvex::Block encoded = torvex::allocblock(torvex::fbcapacity(size));
    torvex::Block old = torvex::allocblock(torvex::fbcapacity(size));
    double newbest = 1e9;
    double oldbest = 1e9;
    services.consolewrite = quiet;
    for (int run = 0; run < 3; ++run) {
      const double a = cputime();
      encoded.size = torvex::fbencode(data, encoded.get());
      const double b = cputime();
      old.size = torvex::benchold::oldfbencode(data, old.get());
      const double c = cputime();
      newbest = std::min(newbest, b - a);
      oldbest = std::min(oldbest, c - b);
    }
    services.consolewrite = console;
    if (old.size != encoded.size || std::memcmp(old.get(), encoded.get(), static_cast<size_t>(old.size)) != 0) {
      int32_t at = 0;
      while (at < std::min(old.size, encoded.size) && old.get()[at] == encoded.get()[at]) ++at;
      std::printf("%s: the encodings DIFFER at byte %d (sizes %d and %d)\n", item.name.c_str(), at, old.size,
                  encoded.size);
      return 1;
    }
    hostalloc = services.allocmem;
    taken = 0;
    services.allocmem = countingalloc;
    torvex::fbencode(data, old.get());
    services.allocmem = hostalloc;

    double decodebest = 1e9;
    for (int run = 0; run < 5; ++run) {
      torvex::FbStatus status;
      const double a = cputime();
      const torvex::Block plain = torvex::fbdecompress(encoded.span(), status);
      const double b = cputime();
      if (!plain || plain.size != size || std::memcmp(plain.get(), data.data(), data.size()) != 0) {
        std::printf("%s: round trip FAILED\n", item.name.c_str());
        return 1;
      }
      decodebest = std::min(decodebest, b - a);
    }

    const std::string newout = (work / "new.fb").string();
    const std::string oldout = (work / "old.fb").string();
    std::vector<double> newcpu, oldcpu, newwall, oldwall;
    for (int run = 0; run <= runs; ++run) {
      const Times o = runcommand({FBOLD_EXE, item.path, oldout});
      const Times n = runcommand({TORVEX_EXE, "-real", "-compress", item.path, newout});
      if (run == 0) continue;  // warming up
      oldcpu.push_back(o.cpu);
      newcpu.push_back(n.cpu);
      oldwall.push_back(o.wall);
      newwall.push_back(n.wall);
    }
    const torvex::Block a = torvex::loadfile(newout.c_str());
    const torvex::Block b = torvex::loadfile(oldout.c_str());
    if (!a || !b || a.size != b.size || std::memcmp(a.get(), b.get(), static_cast<size_t>(a.size)) != 0) {
      std::printf("%s: the commands' files DIFFER\n", item.name.c_str());
      return 1;
    }
    const double mb = static_cast<double>(size) / 1e6;
    const double oldcmd = median(oldcpu);
    const double newcmd = median(newcpu);
    std::printf("%-12s %9d %9d %8.0f | %8.1f %8.1f %7.2fx | %8.1f %8.1f %7.2fx %7.2fx | %lld\n", item.name.c_str(),
                size, encoded.size, mb / decodebest, mb / oldbest, mb / newbest, oldbest / newbest, mb / oldcmd,
                mb / newcmd, oldcmd / newcmd, median(oldwall) / median(newwall), static_cast<long long>(taken / 1024));
    std::fflush(stdout);
    std::vector<double> fixed;
    for (int run = 0; run < 5; ++run) {
      const double a = cputime();
      const torvex::Block read = torvex::loadfile(item.path.c_str());
      const torvex::FbSelfTest test = torvex::fbverify(read.span(), encoded.span());
      writefile(newout, encoded.span());
      fixed.push_back(cputime() - a);
      if (test.outcome != torvex::FbSelfTest::kPassed) {
        std::printf("%s: self-test FAILED\n", item.name.c_str());
        return 1;
      }
    }
    floors.push_back({item.name, mb, median(fixed), enteringfloor(data), newcmd});
    if (writedir) {
      writefile(std::string(writedir) + "/" + item.name, data);
      writefile(std::string(writedir) + "/" + item.name + ".fb", encoded.span());
    }
  }
  std::printf("\n%-12s | %-38s | %s\n", "", "besides starting and searching, ms", "MB/s");
  std::printf("%-12s | %8s %8s %8s %10s | %8s %8s\n", "file", "fixed", "entering", "sum", "command", "bound", "now");
  for (const Floor& f : floors)
    std::printf("%-12s | %8.1f %8.1f %8.1f %10.1f | %8.1f %8.1f\n", f.name.c_str(), f.fixed * 1e3, f.entering * 1e3,
                (f.fixed + f.entering) * 1e3, f.command * 1e3, f.mb / (f.fixed + f.entering), f.mb / f.command);
  fs::remove_all(work);
  return 0;
}
