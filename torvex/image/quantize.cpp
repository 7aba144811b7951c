// The colour quantizer: a six-level colour tree over 15-bit colour bins,
// reduced by merging the least populated nodes into their parents, then a
// row-wise error-diffused mapping onto the resulting palette. It keeps no
// state between calls: the lookup tables are constants, and the tree, heap
// and palette belong to one call (the tree's memory is reused, cleared).
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "image.h"

namespace torvex {

namespace {

constexpr int kLevels = 6;
constexpr int kBins = 32768;
constexpr int kLevelSize[kLevels] = {1, 8, 64, 512, 4096, 32768};

// The sums are 64-bit: a 32767 x 32767 picture of light colours would
// overflow 32 bits, and the palette would come out wrong.
struct Node {
  uint64_t red = 0, green = 0, blue = 0;
  uint32_t pixelCount = 0;    // pixels this node stands for as a colour; 0: not a colour
  uint32_t pixelsInCube = 0;  // all pixels in this node's subtree: the heap key
  uint8_t children = 0;       // bit n set while child n exists
};

struct HeapEntry {
  uint8_t level;
  uint32_t node;
};

// The shares of one channel value in the 15-bit bin number: its five high
// bits, interleaved with the other channels' (red highest).
struct BinShares {
  std::array<uint32_t, 256> red{}, green{}, blue{};
};

constexpr BinShares makebinshares() {
  BinShares shares;
  for (int v = 0; v < 256; ++v) {
    uint32_t r = 0, g = 0, b = 0;
    for (int bit = 7; bit >= 3; --bit) {
      const int at = 3 * (bit - 3);
      if (v >> bit & 1) {
        r |= 1u << (at + 2);
        g |= 1u << (at + 1);
        b |= 1u << at;
      }
    }
    shares.red[static_cast<size_t>(v)] = r;
    shares.green[static_cast<size_t>(v)] = g;
    shares.blue[static_cast<size_t>(v)] = b;
  }
  return shares;
}
constexpr BinShares kBinShares = makebinshares();

// i*i for i from -255 to 255.
constexpr std::array<int, 511> makesquares() {
  std::array<int, 511> squares{};
  for (int i = -255; i <= 255; ++i) squares[static_cast<size_t>(i + 255)] = i * i;
  return squares;
}
constexpr std::array<int, 511> kSquares = makesquares();

// The palette of one call, planar: reds, greens, blues.
struct QuantPalette {
  uint8_t planes[3][256] = {};
  int count = 0;
};

// The centre colour of a bin: its five bits of each channel with bit 2 set.
void bincentre(uint32_t bin, uint32_t& r, uint32_t& g, uint32_t& b) {
  r = g = b = 0;
  for (int bit = 7; bit >= 3; --bit) {
    const int at = 3 * (bit - 3);
    r |= (bin >> (at + 2) & 1) << bit;
    g |= (bin >> (at + 1) & 1) << bit;
    b |= (bin >> at & 1) << bit;
  }
  r += 4;
  g += 4;
  b += 4;
}

class Reducer {
 public:
  Reducer(std::vector<Node>* levels, QuantPalette& palette) : levels_(levels), palette_(palette) {}

  Node& node(const HeapEntry& e) { return levels_[e.level][e.node]; }
  uint32_t key(size_t i) { return node(heap[i]).pixelsInCube; }

  // The smaller child is the right one only when strictly smaller; the
  // moving entry stops above a child whose key is not smaller than its own.
  void siftdown(size_t i) {
    const HeapEntry moving = heap[i];
    const uint32_t k = node(moving).pixelsInCube;
    for (;;) {
      size_t child = 2 * i;
      if (child > size) break;
      if (child < size && key(child + 1) < key(child)) ++child;
      if (key(child) >= k) break;
      heap[i] = heap[child];
      i = child;
    }
    heap[i] = moving;
  }

  void reduce(size_t wanted) {
    while (size > wanted) {
      const HeapEntry top = heap[1];
      if (top.level == 0) break;  // the root has no parent to merge into
      const HeapEntry up{static_cast<uint8_t>(top.level - 1), top.node >> 3};
      Node& child = node(top);
      Node& parent = node(up);
      if (parent.pixelCount != 0) {
        heap[1] = heap[size];
        --size;
      } else {
        heap[1] = up;
      }
      parent.pixelCount += child.pixelCount;
      parent.red += child.red;
      parent.green += child.green;
      parent.blue += child.blue;
      parent.children &= static_cast<uint8_t>(~(1u << (top.node & 7)));
      siftdown(1);
    }
  }

  // Children 7 down to 0 first, then the node itself when it is a colour.
  void walk(int level, uint32_t n) {
    const Node& nd = levels_[level][n];
    if (level < kLevels - 1) {
      for (int c = 7; c >= 0; --c)
        if (nd.children >> c & 1) walk(level + 1, n * 8 + static_cast<uint32_t>(c));
    }
    const uint64_t p = nd.pixelCount;
    int& count = palette_.count;
    if (p != 0 && count < 256) {
      palette_.planes[0][count] = static_cast<uint8_t>((nd.red + p / 2) / p);
      palette_.planes[1][count] = static_cast<uint8_t>((nd.green + p / 2) / p);
      palette_.planes[2][count] = static_cast<uint8_t>((nd.blue + p / 2) / p);
      ++count;
    }
  }

  std::vector<HeapEntry> heap;  // 1-based
  size_t size = 0;

 private:
  std::vector<Node>* levels_;
  QuantPalette& palette_;
};

// Error-diffused mapping: one cached nearest-colour search per 8x8x8 slot.
void mappixels(const uint8_t* rgb, uint8_t* out, int width, int height, const QuantPalette& palette) {
  const int count = palette.count;
  constexpr uint16_t kEmpty = 0xFFFF;
  std::vector<uint16_t> cache(kBins, kEmpty);
  uint8_t clampstore[768];
  for (int i = -256; i < 512; ++i) clampstore[i + 256] = static_cast<uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
  const uint8_t* clamp = clampstore + 256;
  const int* sq = kSquares.data() + 255;
  const uint8_t* pr = palette.planes[0];
  const uint8_t* pg = palette.planes[1];
  const uint8_t* pb = palette.planes[2];

  for (int y = 0; y < height; ++y) {
    int er = 0, eg = 0, eb = 0;
    const uint8_t* src = rgb + static_cast<size_t>(y) * width * 3;
    uint8_t* dst = out + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x, src += 3) {
      const int r = clamp[src[0] + (er >> 1)];
      const int g = clamp[src[1] + (eg >> 1)];
      const int b = clamp[src[2] + (eb >> 1)];
      const int slot = (r >> 3) * 1024 + (g >> 3) * 32 + (b >> 3);
      uint16_t index = cache[slot];
      if (index == kEmpty) {
        const int cr = (r & 0xF8) + 4, cg = (g & 0xF8) + 4, cb = (b & 0xF8) + 4;
        int best = 200000;
        index = 0;
        for (int i = 0; i < count; ++i) {
          const int d = sq[cr - pr[i]] + sq[cg - pg[i]] + sq[cb - pb[i]];
          if (d < best) {
            best = d;
            index = static_cast<uint16_t>(i);
          }
        }
        cache[slot] = index;
      }
      dst[x] = static_cast<uint8_t>(index);
      er = r - pr[index];
      eg = g - pg[index];
      eb = b - pb[index];
    }
  }
}

}  // namespace

int dl1quant(const uint8_t* rgb, uint8_t* out, int width, int height, int colours, uint8_t palette[3][256],
             int* colourcount) {
  if (colours < 1) colours = 1;
  if (colours > 256) colours = 256;
  if (width < 0 || height < 0) return 0;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  QuantPalette chosen;

  try {
    // The tree's 1.5 MB are kept from call to call (per thread) and cleared
    // at each start: allocating them anew made every call, even for one
    // pixel, pay for fresh pages.
    static thread_local std::vector<Node> levels[kLevels];
    for (int l = 0; l < kLevels; ++l) {
      levels[l].resize(kLevelSize[l]);
      std::fill(levels[l].begin(), levels[l].end(), Node{});
    }
    std::vector<Node>& bins = levels[kLevels - 1];

    for (size_t i = 0; i < pixels; ++i) {
      const uint8_t* p = rgb + i * 3;
      ++bins[kBinShares.red[p[0]] + kBinShares.green[p[1]] + kBinShares.blue[p[2]]].pixelCount;
    }

    Reducer reducer(levels, chosen);
    reducer.heap.resize(1);  // 1-based: one entry per colour bin in use follows
    for (uint32_t bin = 0; bin < kBins; ++bin) {
      Node& nd = bins[bin];
      const uint32_t c = nd.pixelCount;
      if (c == 0) continue;
      reducer.heap.push_back(HeapEntry{kLevels - 1, bin});
      ++reducer.size;
      nd.pixelsInCube = c;
      uint32_t r, g, b;
      bincentre(bin, r, g, b);
      nd.red = static_cast<uint64_t>(c) * r;
      nd.green = static_cast<uint64_t>(c) * g;
      nd.blue = static_cast<uint64_t>(c) * b;
      uint32_t n = bin;
      for (int level = kLevels - 2; level >= 0; --level) {
        const uint32_t child = n & 7;
        n >>= 3;
        levels[level][n].pixelsInCube += c;
        levels[level][n].children |= static_cast<uint8_t>(1u << child);
      }
    }
    for (size_t i = reducer.size; i >= 1; --i) reducer.siftdown(i);
    reducer.reduce(static_cast<size_t>(colours));

    reducer.walk(0, 0);
    mappixels(rgb, out, width, height, chosen);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::memcpy(palette, chosen.planes, sizeof chosen.planes);
  if (colourcount) *colourcount = chosen.count;
  return 1;
}

Bytes quantizeimage(const uint8_t* rgb, Palette& palette, int width, int height, ImageResult& result) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  Bytes indexed(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(pixels))));
  uint8_t colours[3][256];
  if (!dl1quant(rgb, indexed.get(), width, height, 255, colours)) {
    result.refusal = "dl1quant failed";
    return {};
  }
  // Index 0 stays free for the transparent colour.
  for (int64_t i = 0; i < pixels; ++i) ++indexed[i];
  for (int i = 1; i < 256; ++i) palette[i] = Rgba{colours[0][i - 1], colours[1][i - 1], colours[2][i - 1], 255};
  return indexed;
}

ImageResult completeimage(Image& image) {
  ImageResult result;
  result.status = 1;
  const int64_t pixels = static_cast<int64_t>(image.width) * image.height;
  if (image.kind == TrueColour) {
    if (image.indexed) return result;
    if (!image.alpha) {
      image.alpha.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(pixels))));
      std::memset(image.alpha.get(), 255, static_cast<size_t>(pixels));
    }
    image.indexed = quantizeimage(image.rgb.get(), image.palette, image.width, image.height, result);
    if (!image.indexed) return result;
    image.palette[0] = Rgba{0, 0, 0, 0};
    return result;
  }
  if (!image.indexed) return result;
  if (!image.rgb && !prepareimage(image, 2, image.width, image.height, result)) return result;
  const uint8_t* idx = image.indexed.get();
  uint8_t* rgb = image.rgb.get();
  for (int64_t i = 0; i < pixels; ++i) {
    const Rgba& c = image.palette[idx[i]];
    rgb[i * 3] = c.r;
    rgb[i * 3 + 1] = c.g;
    rgb[i * 3 + 2] = c.b;
  }
  image.alpha.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(pixels))));
  std::memset(image.alpha.get(), 255, static_cast<size_t>(pixels));
  bool translucent = false;
  for (const Rgba& c : image.palette) translucent |= c.a != 255;
  if (translucent)
    for (int64_t i = 0; i < pixels; ++i) image.alpha[i] = image.palette[idx[i]].a;
  return result;
}

}  // namespace torvex
