// Helpers of the picture tests: running the independent tools in a
// temporary folder and comparing their decoding with ours.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "torvex/image/image.h"

namespace torvex::test {

// Runs a Python script (Pillow available) in `dir`; fails the test on error.
inline void python(const TempDir& dir, const std::string& script) {
  const RunResult r = runpython(script, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
}

inline void shell(const TempDir& dir, const std::string& command) {
  const RunResult r = runshell(command, dir.path());
  ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
}

// Pillow's decoding of `file` as RGB bytes, rows top first.
inline std::vector<uint8_t> pillowrgb(const TempDir& dir, const std::string& file) {
  python(dir, "from PIL import Image\nopen('pillow.rgb','wb').write(Image.open('" + file +
                  "').convert('RGB').tobytes())\n");
  return readbytes(dir / "pillow.rgb");
}

// Pillow's palette indices of a palette picture.
inline std::vector<uint8_t> pillowindices(const TempDir& dir, const std::string& file) {
  python(dir, "from PIL import Image\nim=Image.open('" + file +
                  "')\nassert im.mode=='P', im.mode\nopen('pillow.idx','wb').write(im.tobytes())\n");
  return readbytes(dir / "pillow.idx");
}

struct Loaded {
  int16_t result = 0;
  Image image;
};

inline Loaded loadpath(const fs::path& file, Image start = Image{}) {
  Loaded out;
  out.image = std::move(start);
  const auto bytes = readbytes(file);
  out.result = loadimage(out.image, bytes).status;
  return out;
}

inline std::vector<uint8_t> rgbof(const Image& image) {
  const uint8_t* p = image.rgb.get();
  return {p, p + static_cast<size_t>(image.width) * image.height * 3};
}

inline std::vector<uint8_t> indicesof(const Image& image) {
  const uint8_t* p = image.indexed.get();
  return {p, p + static_cast<size_t>(image.width) * image.height};
}

// Byte-table builders for hand-made fixtures.
inline void put16le(std::vector<uint8_t>& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32le(std::vector<uint8_t>& b, uint32_t v) {
  put16le(b, v & 0xFFFF);
  put16le(b, v >> 16);
}

// A file that loadimage could not read: status 0 and no pixels at all (no
// blank picture stands in for it).
inline bool refused(const Loaded& l) { return l.result == 0 && !l.image.rgb && !l.image.indexed && !l.image.alpha; }

}  // namespace torvex::test
