// Nearest palette colour under a weighted distance, through an inverse
// colour map filled one cell (32 x 32 x 32 colour values) at a time.
#include <algorithm>
#include <climits>
#include <cstring>

#include "image.h"

namespace torvex {

namespace {

constexpr int kPlanes = 32, kRows = 64, kColumns = 32;  // red/8, green/4, blue/8
constexpr int kCellRed = 4, kCellGreen = 8, kCellBlue = 4;

int entryat(int r, int g, int b) { return (r * kRows + g) * kColumns + b; }

// Weighted squared distance of one axis difference: red counts 2x, green 3x.
int redcost(int d) { return 4 * d * d; }
int greencost(int d) { return 9 * d * d; }
int bluecost(int d) { return d * d; }

// Smallest and largest weighted distance along one axis from c to [lo, hi].
void axisrange(int c, int lo, int hi, int (*cost)(int), int& nearest, int& farthest) {
  nearest = c < lo ? cost(lo - c) : c > hi ? cost(c - hi) : 0;
  const int tolo = cost(c - lo), tohi = cost(hi - c);
  farthest = tolo > tohi ? tolo : tohi;
}

int clampchannel(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

}  // namespace

ColourRemap::ColourRemap(const uint8_t* palette, int entries, int stride, int excluded)
    : map_(static_cast<uint16_t*>(allocmem(kPlanes * kRows * kColumns * sizeof(uint16_t)))), excluded_(excluded) {
  if (entries < 0) entries = 0;
  if (entries > 256) entries = 256;
  entries_ = entries;
  for (int i = 0; i < entries; ++i) std::memcpy(colours_[i], palette + static_cast<size_t>(i) * stride, 3);
  // Green value in the high byte, index in the low one: sorted, the
  // entries in order of green, lower indices first among equal greens.
  for (int i = 0; i < entries; ++i)
    if (i != excluded_) bygreen_[candidates_++] = static_cast<uint16_t>(colours_[i][1] << 8 | i);
  std::sort(bygreen_, bygreen_ + candidates_);
}

int ColourRemap::nearest(int red, int green, int blue) {
  const int r = clampchannel(red) / 8, g = clampchannel(green) / 4, b = clampchannel(blue) / 8;
  uint16_t* entry = map_.get() + entryat(r, g, b);
  if (*entry == 0) {
    // Scattered questions (a palette of 256 colours fitted to another) ask
    // one entry per cell, where filling the whole cell would cost a hundred
    // times more; a cell asked often enough is filled at once.
    uint8_t& misses = misses_[((r / kCellRed) * (kRows / kCellGreen) + g / kCellGreen) * (kColumns / kCellBlue) + b / kCellBlue];
    if (misses < kSingleFills) {
      ++misses;
      fillentry(r, g, b);
    } else {
      fillcell(r, g, b);
    }
  }
  // A palette with no usable entry leaves the cell empty: index 0 is the
  // only answer left.
  return *entry == 0 ? 0 : *entry - 1;
}

void ColourRemap::fillentry(int redentry, int greenentry, int blueentry) {
  // Out from the green nearest to the entry's, both ways, until green alone
  // (the heaviest weight) costs more than the best found: the rest of the
  // palette cannot come closer. Equal distances go to the lower index.
  const int r = 8 * redentry + 4, g = 4 * greenentry + 2, b = 8 * blueentry + 4;
  const auto* begin = bygreen_, *end = bygreen_ + candidates_;
  const auto* split = std::lower_bound(begin, end, g, [](const uint16_t& e, int v) { return (e >> 8) < v; });
  int best = INT_MAX;
  int chosen = -1;
  auto consider = [&](uint16_t e) {
    const uint8_t* c = colours_[e & 0xFF];
    const int d = redcost(r - c[0]) + greencost(g - c[1]) + bluecost(b - c[2]);
    const int i = e & 0xFF;
    if (d < best || (d == best && i < chosen)) {
      best = d;
      chosen = i;
    }
  };
  const auto* up = split;
  const auto* down = split;
  while (up != end || down != begin) {
    const int upcost = up != end ? greencost((*up >> 8) - g) : INT_MAX;
    const int downcost = down != begin ? greencost(g - (down[-1] >> 8)) : INT_MAX;
    if (upcost <= downcost) {
      if (upcost > best) break;
      consider(*up++);
    } else {
      if (downcost > best) break;
      consider(*--down);
    }
  }
  map_[static_cast<size_t>(entryat(redentry, greenentry, blueentry))] = static_cast<uint16_t>(chosen + 1);
}

void ColourRemap::fillcell(int redentry, int greenentry, int blueentry) {
  const int rbase = redentry & ~(kCellRed - 1), gbase = greenentry & ~(kCellGreen - 1),
            bbase = blueentry & ~(kCellBlue - 1);
  const int r0 = 8 * rbase + 4, g0 = 4 * gbase + 2, b0 = 8 * bbase + 4;

  // Box distances prune the palette: a colour whose nearest point of the box
  // is farther than some other colour's farthest point never wins there.
  int boxnearest[256];
  int limit = INT_MAX;
  for (int i = 0; i < entries_; ++i) {
    if (i == excluded_) continue;
    const uint8_t* c = colours_[i];
    int nr, fr, ng, fg, nb, fb;
    axisrange(c[0], r0, r0 + 24, redcost, nr, fr);
    axisrange(c[1], g0, g0 + 28, greencost, ng, fg);
    axisrange(c[2], b0, b0 + 24, bluecost, nb, fb);
    boxnearest[i] = nr + ng + nb;
    if (fr + fg + fb < limit) limit = fr + fg + fb;
  }

  int best[kCellRed][kCellGreen][kCellBlue];
  uint16_t chosen[kCellRed][kCellGreen][kCellBlue] = {};
  for (auto& plane : best)
    for (auto& row : plane)
      for (int& v : row) v = INT_MAX;

  for (int i = 0; i < entries_; ++i) {
    if (i == excluded_ || boxnearest[i] > limit) continue;
    const uint8_t* c = colours_[i];
    int dr[kCellRed], dg[kCellGreen], db[kCellBlue];
    for (int k = 0; k < kCellRed; ++k) dr[k] = redcost(r0 + 8 * k - c[0]);
    for (int k = 0; k < kCellGreen; ++k) dg[k] = greencost(g0 + 4 * k - c[1]);
    for (int k = 0; k < kCellBlue; ++k) db[k] = bluecost(b0 + 8 * k - c[2]);
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

  uint16_t* map = map_.get();
  for (int x = 0; x < kCellRed; ++x)
    for (int y = 0; y < kCellGreen; ++y)
      for (int z = 0; z < kCellBlue; ++z) map[entryat(rbase + x, gbase + y, bbase + z)] = chosen[x][y][z];
}

}  // namespace torvex
