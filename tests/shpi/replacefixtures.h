// Helpers of the replace and create tests: pictures written by Pillow, a
// reader of written SHPI files that follows the byte tables, and the
// brute-force nearest-colour search that the remap must agree with.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records.h"
#include "support.h"

namespace torvex::test {

using Rgb = std::array<int, 3>;

// Runs a Python script with Pillow in `dir`; fails the test on error.
inline void python(const TempDir& dir, const std::string& script) {
  const RunResult r = runpython(script, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
}

inline std::string pylist(const std::vector<int>& v) {
  std::string s = "[";
  for (int x : v) s += std::to_string(x) + ",";
  return s + "]";
}

// A palette PNG written by Pillow: 256 palette entries, the given indices.
inline void writepalettepng(const TempDir& dir, const std::string& name, int width, int height,
                            const std::vector<Rgb>& palette, const std::vector<uint8_t>& indices) {
  std::vector<int> flat, idx(indices.begin(), indices.end());
  for (const Rgb& c : palette) flat.insert(flat.end(), c.begin(), c.end());
  flat.resize(768, 0);
  python(dir, "from PIL import Image\nim=Image.new('P',(" + std::to_string(width) + "," + std::to_string(height) +
                  "))\nim.putpalette(" + pylist(flat) + ")\nim.putdata(" + pylist(idx) + ")\nim.save('" + name +
                  "')\n");
}

// One record of a written SHPI file: bytes from its offset to the next
// record's offset (or the file's end).
struct ShpiRecord {
  std::string name;
  uint32_t offset = 0;
  ByteVec bytes;
};

inline uint32_t get32(const ByteVec& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline unsigned get16(const ByteVec& b, size_t at) { return b[at] | b[at + 1] << 8; }
inline uint32_t get24(const ByteVec& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16; }

inline std::vector<ShpiRecord> readshpi(const ByteVec& f) {
  std::vector<ShpiRecord> out;
  EXPECT_GE(f.size(), 16u);
  if (f.size() < 16 || std::string(f.begin(), f.begin() + 4) != "SHPI") {
    ADD_FAILURE() << "not an SHPI file";
    return out;
  }
  EXPECT_EQ(get32(f, 4), f.size());
  const uint32_t n = get32(f, 8);
  std::vector<uint32_t> offsets;
  for (uint32_t i = 0; i < n; ++i) {
    ShpiRecord r;
    const size_t at = 16 + 8 * i;
    for (size_t k = 0; k < 4 && f[at + k]; ++k) r.name += static_cast<char>(f[at + k]);
    r.offset = get32(f, at + 4);
    offsets.push_back(r.offset);
    out.push_back(r);
  }
  for (ShpiRecord& r : out) {
    uint32_t end = static_cast<uint32_t>(f.size());
    for (uint32_t o : offsets)
      if (o > r.offset && o < end) end = o;
    r.bytes.assign(f.begin() + r.offset, f.begin() + end);
  }
  return out;
}

inline const ShpiRecord* findrecord(const std::vector<ShpiRecord>& records, const std::string& name) {
  for (const ShpiRecord& r : records)
    if (r.name == name) return &r;
  return nullptr;
}

// The entry the remap must pick for a colour: the colour's cell (red and
// blue in steps of 8, green in steps of 4) is represented by its middle
// value, and the nearest entry under (2dr)^2 + (3dg)^2 + db^2 wins, the
// lowest index on ties; `excluded` is never chosen.
inline int nearestentry(const std::vector<Rgb>& palette, int excluded, const Rgb& colour) {
  const int r = colour[0] / 8 * 8 + 4, g = colour[1] / 4 * 4 + 2, b = colour[2] / 8 * 8 + 4;
  int best = INT_MAX, chosen = 0;
  for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
    if (i == excluded) continue;
    const int dr = 2 * (r - palette[i][0]), dg = 3 * (g - palette[i][1]), db = b - palette[i][2];
    const int d = dr * dr + dg * dg + db * db;
    if (d < best) best = d, chosen = i;
  }
  return chosen;
}

// The border index as the games define it, counted independently.
inline int bordercount(const std::vector<uint8_t>& idx, int w, int h) {
  std::map<int, int> count;
  for (int x = 0; x < w; ++x) ++count[idx[x]], ++count[idx[(h - 1) * w + x]];
  for (int y = 0; y < h; ++y) ++count[idx[y * w]], ++count[idx[y * w + w - 1]];
  for (auto [index, n] : count)
    if (n > (w + h) * 2 / 3) return index;
  return 0;
}

// Record bytes of a 0x24 palette (three bytes per entry).
inline ByteVec palette24(const std::vector<Rgb>& palette) {
  ByteVec body;
  for (const Rgb& c : palette)
    for (int v : c) body.push_back(static_cast<uint8_t>(v));
  return record(0x24, 0, static_cast<unsigned>(palette.size()), 1, body);
}

// A deterministic spread of colours (a small linear congruential walk).
inline std::vector<Rgb> spreadpalette(uint32_t salt, size_t n = 256) {
  std::vector<Rgb> p;
  for (size_t i = 0; i < n; ++i) {
    salt = salt * 1103515245u + 12345u;
    p.push_back({static_cast<int>(salt >> 24), static_cast<int>((salt >> 16) & 0xFF), static_cast<int>((salt >> 8) & 0xFF)});
  }
  return p;
}

// A w x h picture whose border is index `border` and whose inside walks
// through the indices.
inline std::vector<uint8_t> framedindices(int w, int h, uint8_t border, int step = 7) {
  std::vector<uint8_t> idx(static_cast<size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      idx[static_cast<size_t>(y * w + x)] =
          (x == 0 || y == 0 || x == w - 1 || y == h - 1) ? border : static_cast<uint8_t>((x * step + y * 13) & 0xFF);
  return idx;
}

}  // namespace torvex::test
