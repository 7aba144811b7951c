// Nearest palette colour under a weighted distance, through an inverse
// colour map filled one cell (32 x 32 x 32 colour values) at a time.
#include <climits>
#include <cstring>

#include "image.h"
#include "quantize.h"

namespace torvex {

namespace {

constexpr int kPlanes = 32, kRows = 64, kColumns = 32;  // red/8, green/4, blue/8
constexpr int kCellRed = 4, kCellGreen = 8, kCellBlue = 4;

RemapState state;

int entryat(int r, int g, int b) { return (r * kRows + g) * kColumns + b; }

// Weighted squared distance of one axis difference: red counts 2x, green 3x.
int wr(int d) { return 4 * d * d; }
int wg(int d) { return 9 * d * d; }
int wb(int d) { return d * d; }

// Smallest and largest weighted distance along one axis from c to [lo, hi].
void axisrange(int c, int lo, int hi, int (*w)(int), int& nearest, int& farthest) {
  nearest = c < lo ? w(lo - c) : c > hi ? w(c - hi) : 0;
  const int tolo = w(c - lo), tohi = w(hi - c);
  farthest = tolo > tohi ? tolo : tohi;
}

void fillcell(int r, int g, int b) {
  const int rbase = r & ~(kCellRed - 1), gbase = g & ~(kCellGreen - 1), bbase = b & ~(kCellBlue - 1);
  const int r0 = 8 * rbase + 4, g0 = 4 * gbase + 2, b0 = 8 * bbase + 4;

  // Box distances prune the palette: a colour whose nearest point of the box
  // is farther than some other colour's farthest point never wins there.
  int nearest[256];
  int limit = INT_MAX;
  for (int i = 0; i < state.entries; ++i) {
    if (i == state.excluded) continue;
    const uint8_t* c = state.colours[i];
    int nr, fr, ng, fg, nb, fb;
    axisrange(c[0], r0, r0 + 24, wr, nr, fr);
    axisrange(c[1], g0, g0 + 28, wg, ng, fg);
    axisrange(c[2], b0, b0 + 24, wb, nb, fb);
    nearest[i] = nr + ng + nb;
    if (fr + fg + fb < limit) limit = fr + fg + fb;
  }

  int best[kCellRed][kCellGreen][kCellBlue];
  uint16_t chosen[kCellRed][kCellGreen][kCellBlue] = {};
  for (auto& plane : best)
    for (auto& row : plane)
      for (int& v : row) v = INT_MAX;

  for (int i = 0; i < state.entries; ++i) {
    if (i == state.excluded || nearest[i] > limit) continue;
    const uint8_t* c = state.colours[i];
    int dr[kCellRed], dg[kCellGreen], db[kCellBlue];
    for (int k = 0; k < kCellRed; ++k) dr[k] = wr(r0 + 8 * k - c[0]);
    for (int k = 0; k < kCellGreen; ++k) dg[k] = wg(g0 + 4 * k - c[1]);
    for (int k = 0; k < kCellBlue; ++k) db[k] = wb(b0 + 8 * k - c[2]);
    for (int x = 0; x < kCellRed; ++x)
      for (int y = 0; y < kCellGreen; ++y)
        for (int z = 0; z < kCellBlue; ++z) {
          const int d = dr[x] + dg[y] + db[z];
          if (d < best[x][y][z]) {
            best[x][y][z] = d;
            chosen[x][y][z] = static_cast<uint16_t>(i + 1);
          }
        }
  }

  uint16_t* map = state.map.get();
  for (int x = 0; x < kCellRed; ++x)
    for (int y = 0; y < kCellGreen; ++y)
      for (int z = 0; z < kCellBlue; ++z) map[entryat(rbase + x, gbase + y, bbase + z)] = chosen[x][y][z];
}

int clampchannel(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

}  // namespace

RemapState& remapstate() { return state; }
void resetremapstate() { state = RemapState{}; }

void remapbegin(const uint8_t* palette, int entries, int stride, int excluded) {
  state.map.reset(static_cast<uint16_t*>(allocmem(kPlanes * kRows * kColumns * sizeof(uint16_t))));
  if (entries < 0) entries = 0;
  if (entries > 256) entries = 256;
  state.entries = entries;
  state.excluded = excluded;
  for (int i = 0; i < entries; ++i) std::memcpy(state.colours[i], palette + static_cast<size_t>(i) * stride, 3);
}

int remapcolour(int red, int green, int blue) {
  if (!state.map) return 0;
  const int r = clampchannel(red) / 8, g = clampchannel(green) / 4, b = clampchannel(blue) / 8;
  uint16_t* entry = state.map.get() + entryat(r, g, b);
  if (*entry == 0) fillcell(r, g, b);
  // A palette with no usable entry leaves the cell empty: index 0 is the
  // only answer left.
  return *entry == 0 ? 0 : *entry - 1;
}

void remapend() { state.map.reset(); }

}  // namespace torvex
