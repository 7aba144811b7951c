// Speed of the 10 FB decoder and of the real encoder on a generated corpus.
//
//   fbbench                 prints one line per corpus file
//   fbbench FILE...         the same for the given files
//   fbbench --write DIR     also writes each file and its real encoding
//                           (NAME and NAME.fb) into DIR, for timing the
//                           whole program
//
// Decoder MB/s counts output bytes, encoder MB/s input bytes, both per second
// of processor time; each figure is the best of a few runs.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "oldencode.h"
#include "torvex/fbcomp/encode.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/platform.h"

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
double now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void writefile(const std::string& name, std::span<const uint8_t> bytes) {
  torvex::File f(name.c_str(), 1);
  if (!f || !f.writeall(bytes)) std::fprintf(stderr, "cannot write %s\n", name.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  torvex::installservices();
  const char* writedir = argc >= 3 && std::string_view(argv[1]) == "--write" ? argv[2] : nullptr;
  std::mt19937 rng(20011116);
  struct Item {
    const char* name;
    Bytesvec bytes;
  };
  std::vector<Item> corpus;
  if (argc >= 2 && !writedir) {
    // Given files instead of the generated corpus.
    for (int i = 1; i < argc; ++i) {
      torvex::Block b = torvex::loadfile(argv[i]);
      if (b) corpus.push_back({argv[i], Bytesvec(b.get(), b.get() + b.size)});
    }
  }
  if (corpus.empty()) corpus.push_back({"text", maketext(8u << 20, rng)});
  if (corpus.size() == 1 && std::string_view(corpus[0].name) == "text") {
  corpus.push_back({"binary", makebinary(4u << 20, rng)});
  corpus.push_back({"picture8", makepicture8(2048, 2048, rng)});
  corpus.push_back({"picture16", makepicture16(1024, 2048)});
  corpus.push_back({"random", makerandom(4u << 20, rng)});
  }

  auto& console = torvex::services().consolewrite;
  auto* const saved = console;
  std::printf("%-10s %10s %10s %12s %12s %12s %7s\n", "file", "bytes", "encoded", "decode MB/s", "old MB/s", "new MB/s", "ratio");
  for (const Item& item : corpus) {
    const std::span<const uint8_t> data(item.bytes);
    torvex::Block encoded = torvex::allocblock(torvex::fbcapacity(static_cast<int32_t>(data.size())));
    torvex::Block old = torvex::allocblock(torvex::fbcapacity(static_cast<int32_t>(data.size())));
    double encodebest = 1e9, oldbest = 1e9;
    for (int run = 0; run < 3; ++run) {
      console = quiet;
      const double a = now();
      encoded.size = torvex::fbencode(data, encoded.get());
      const double b = now();
      old.size = torvex::benchold::oldfbencode(data, old.get());
      const double c = now();
      console = saved;
      encodebest = std::min(encodebest, b - a);
      oldbest = std::min(oldbest, c - b);
    }
    if (old.size != encoded.size || std::memcmp(old.get(), encoded.get(), static_cast<size_t>(old.size)) != 0) {
      int32_t at = 0;
      while (at < std::min(old.size, encoded.size) && old.get()[at] == encoded.get()[at]) ++at;
      std::printf("%s: the encodings DIFFER at byte %d (sizes %d and %d)\n", item.name, at, old.size, encoded.size);
      return 1;
    }
    double decodebest = 1e9;
    for (int run = 0; run < 5; ++run) {
      torvex::FbStatus status;
      const double a = now();
      const torvex::Block plain = torvex::fbdecompress(encoded.span(), status);
      const double b = now();
      if (!plain || plain.size != static_cast<int32_t>(data.size()) ||
          std::memcmp(plain.get(), data.data(), data.size()) != 0) {
        std::printf("%s: round trip FAILED\n", item.name);
        return 1;
      }
      decodebest = std::min(decodebest, b - a);
    }
    const double mb = static_cast<double>(data.size()) / 1e6;
    std::printf("%-10s %10zu %10d %12.0f %12.1f %12.1f %6.1f%%\n", item.name, data.size(), encoded.size, mb / decodebest,
                mb / oldbest, mb / encodebest, 100.0 * encoded.size / static_cast<double>(data.size()));
    std::fflush(stdout);
    if (writedir) {
      writefile(std::string(writedir) + "/" + item.name, data);
      writefile(std::string(writedir) + "/" + item.name + ".fb", encoded.span());
    }
  }
  return 0;
}
