// Helpers of the GIF and ILBM tests: writing and reading netpbm files and
// asking Pillow about a picture, so that our decoders are checked against
// independent ones.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace torvex::test {

struct Picture {
  int width = 0;
  int height = 0;
  int maxval = 255;
  std::vector<uint8_t> rgb;      // red, green, blue per pixel
  std::vector<uint8_t> indexed;  // palette indices (Pillow, when the picture has them)
  int transparency = -1;         // Pillow's transparent index
};

inline void writeppm(const fs::path& file, int width, int height, const std::vector<uint8_t>& rgb) {
  std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> bytes(head.begin(), head.end());
  bytes.insert(bytes.end(), rgb.begin(), rgb.end());
  writebytes(file, bytes);
}

// Reads a binary PPM (P6) with a maxval below 256.
inline Picture readppm(const fs::path& file) {
  const std::vector<uint8_t> bytes = readbytes(file);
  Picture p;
  size_t pos = 0;
  auto token = [&]() {
    while (pos < bytes.size()) {
      if (bytes[pos] == '#')
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      else if (std::isspace(bytes[pos]))
        ++pos;
      else
        break;
    }
    std::string t;
    while (pos < bytes.size() && !std::isspace(bytes[pos])) t += static_cast<char>(bytes[pos++]);
    return t;
  };
  if (token() != "P6") return p;
  p.width = std::stoi(token());
  p.height = std::stoi(token());
  p.maxval = std::stoi(token());
  ++pos;
  const size_t n = static_cast<size_t>(p.width) * p.height * 3;
  if (bytes.size() - pos < n) return Picture{};
  p.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.begin() + static_cast<std::ptrdiff_t>(pos + n));
  return p;
}

// A netpbm command line that ends in a PNM on standard output, normalised to P6.
inline Picture netpbm(const std::string& command, const fs::path& dir) {
  const RunResult r = runshell(command + " 2>/dev/null | ppmtoppm > oracle.ppm", dir);
  if (r.status != 0) return Picture{};
  return readppm(dir / "oracle.ppm");
}

constexpr const char* kPython = "/usr/bin/python3";

inline RunResult python(const std::string& script, const fs::path& dir) { return runpython(script, dir); }

// Pillow's reading of a picture file: size, indices (for palette pictures),
// truecolour pixels and the transparent index.
inline Picture pillowread(const fs::path& file, const fs::path& dir) {
  const std::string script =
      "import struct, sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "t = im.info.get('transparency', -1)\n"
      "t = t if isinstance(t, int) else -1\n"
      "idx = im.tobytes() if im.mode == 'P' else b''\n"
      "rgb = im.convert('RGB').tobytes()\n"
      "open('pillow.raw', 'wb').write(struct.pack('<iiii', im.width, im.height, t, len(idx)) + idx + rgb)\n";
  writetext(dir / "pillowread.py", script);
  const RunResult r = runshell(std::string(kPython) + " pillowread.py '" + file.string() + "'", dir);
  Picture p;
  if (r.status != 0) return p;
  const std::vector<uint8_t> raw = readbytes(dir / "pillow.raw");
  int32_t head[4];
  std::memcpy(head, raw.data(), sizeof head);
  p.width = head[0];
  p.height = head[1];
  p.transparency = head[2];
  p.indexed.assign(raw.begin() + 16, raw.begin() + 16 + head[3]);
  p.rgb.assign(raw.begin() + 16 + head[3], raw.end());
  return p;
}

// A small deterministic generator for test pictures.
struct Noise {
  uint32_t state;
  explicit Noise(uint32_t salt) : state(salt) {}
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

}  // namespace torvex::test
