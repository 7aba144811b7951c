// The small photo made from a large one: the face is cut out of the dark
// background of the photo and shrunk by a box filter to the small photo's
// area.
#include <algorithm>
#include <cmath>

#include "faces.h"

namespace torvex {

namespace {

// Two different thresholds: a pixel with a channel of 15 is neither.
bool dark(const uint8_t* p) { return p[0] < 15 && p[1] < 15 && p[2] < 15; }
bool bright(const uint8_t* p) { return p[0] >= 16 || p[1] >= 16 || p[2] >= 16; }

}  // namespace

bool facecropbox(const RgbPicture& image, FaceSize target, CropBox& box) {
  const int w = image.width, h = image.height;
  if (w < 1 || h < 1 || target.width < 1 || target.height < 1) return false;
  if (image.rgb.size() < static_cast<size_t>(w) * static_cast<size_t>(h) * 3) return false;
  auto pixel = [&](int x, int y) { return &image.rgb[(static_cast<size_t>(y) * static_cast<size_t>(w) + x) * 3]; };

  // The sides: the first dark pixel left and right of the middle, over the
  // upper two thirds; the top: the first row with a bright pixel.
  const int twothirds = 2 * h / 3;
  int left = w / 2, right = w / 2, top = 0;
  bool topfound = false;
  for (int y = 0; y < twothirds; ++y) {
    for (int x = w / 2; x >= 0; --x)
      if (dark(pixel(x, y))) {
        left = std::min(left, x);
        break;
      }
    for (int x = w / 2; x < w; ++x)
      if (dark(pixel(x, y))) {
        right = std::max(right, x);
        break;
      }
    for (int x = 0; x < w && !topfound; ++x)
      if (bright(pixel(x, y))) {
        top = y;
        topfound = true;
      }
  }
  left = std::max(0, left - 10);
  right = std::min(w - 1, right + 10);
  top = std::max(0, top - 5);

  // The bottom: the lowest row whose first or last pixel is dark, searched
  // up to the lower third's top.
  int bottom = twothirds + 4;
  for (int y = h - 1; y >= twothirds; --y)
    if (dark(pixel(0, y)) || dark(pixel(w - 1, y))) {
      bottom = y + 5;
      break;
    }
  bottom = std::min(bottom, h - 1);

  // Wider than the small photo: widen the crop, and once it spans the whole
  // width take rows off, one at the top for two at the bottom.
  const double aspect = static_cast<double>(target.width) / target.height;
  for (;;) {
    const int cropw = right - left + 1, croph = bottom - top + 1;
    if (croph < 1) return false;
    if (static_cast<double>(cropw) / croph > aspect) break;
    if (left != 0 || right != w - 1) {
      left = std::max(0, left - 1);
      right = std::min(w - 1, right + 1);
    } else if (top >= h || bottom < 1) {
      return false;
    } else {
      top += 1;
      bottom -= 2;
    }
  }
  box = {left, top, right, bottom};
  return true;
}

bool cropface(const RgbPicture& image, RgbPicture& result, FaceSize target) {
  CropBox box;
  if (!facecropbox(image, target, box)) return false;
  const int w = image.width;
  auto pixel = [&](int x, int y) { return &image.rgb[(static_cast<size_t>(y) * static_cast<size_t>(w) + x) * 3]; };
  const int cropw = box.right - box.left + 1, croph = box.bottom - box.top + 1;
  std::vector<uint8_t> crop(static_cast<size_t>(cropw) * static_cast<size_t>(croph) * 3);
  for (int y = 0; y < croph; ++y)
    std::copy_n(pixel(box.left, box.top + y), static_cast<size_t>(cropw) * 3, &crop[static_cast<size_t>(y) * cropw * 3]);

  const double step = std::sqrt(static_cast<double>(cropw) * croph) /
                      std::sqrt(static_cast<double>(target.width) * target.height);
  int outw = cropw, outh = croph;
  std::vector<uint8_t> shrunk;
  shrinkbox(crop, shrunk, outw, outh, step);
  if (outw < 1 || outh < 1) return false;

  // Black rows on top up to the small photo's height.
  const int rows = std::max(outh, target.height);
  result.width = outw;
  result.height = rows;
  result.rgb.assign(static_cast<size_t>(outw) * static_cast<size_t>(rows) * 3, 0);
  std::copy(shrunk.begin(), shrunk.end(), result.rgb.end() - static_cast<std::ptrdiff_t>(shrunk.size()));
  return true;
}

void shrinkbox(std::span<const uint8_t> source, std::vector<uint8_t>& destination, int& width, int& height,
               double step) {
  destination.clear();
  int rows = 0, columns = 0;
  const bool usable = step > 0 && source.size() >= static_cast<size_t>(std::max(width, 0)) *
                                                       static_cast<size_t>(std::max(height, 0)) * 3;
  // Positions advance by repeated addition rather than multiplication: the
  // counts of rows and columns depend on it.
  for (double y = 0; usable && y < height - step; y += step) {
    columns = 0;
    for (double x = 0; x < width - step; x += step) {
      uint64_t sum[3] = {};
      uint64_t samples = 0;
      for (double dy = 0; dy < step; dy += 0.2) {
        // Rounding in the sums may land on the edge itself: stay inside.
        const int sy = std::min(height - 1, static_cast<int>(y + dy));
        for (double dx = 0; dx < step; dx += 0.2) {
          const int sx = std::min(width - 1, static_cast<int>(x + dx));
          const uint8_t* p = &source[(static_cast<size_t>(sy) * static_cast<size_t>(width) + sx) * 3];
          sum[0] += p[0], sum[1] += p[1], sum[2] += p[2];
          ++samples;
        }
      }
      for (uint64_t s : sum) destination.push_back(static_cast<uint8_t>(std::min<uint64_t>(255, s / samples)));
      ++columns;
    }
    ++rows;
  }
  width = columns;
  height = rows;
}

}  // namespace torvex
