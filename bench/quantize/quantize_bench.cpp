// Times the colour quantizer on a 1024 x 1024 truecolour picture and the
// palette remap on 1M random colours.
//
//   quantize_bench [picture.png [other.png...]]
//
// With no picture a photo-like one is generated. The quantized result is
// written to quantized.png; further pictures (the same picture reduced by
// other programs) are compared with the first one by their mean squared
// error, next to ours.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "torvex/image/formats.h"
#include "torvex/image/image.h"
#include "torvex/platform/platform.h"

using namespace torvex;
using Clock = std::chrono::steady_clock;

namespace {

double millis(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Smooth gradients, a few soft shapes and sensor-like noise.
std::vector<uint8_t> photolike(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3 + 4);
  std::mt19937 random(1);
  std::normal_distribution<double> noise(0.0, 6.0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double u = x / static_cast<double>(width), v = y / static_cast<double>(height);
      const double sky = 1.0 - v;
      const double blob = std::exp(-((u - 0.3) * (u - 0.3) + (v - 0.6) * (v - 0.6)) * 18.0);
      const double ripple = 0.5 + 0.5 * std::sin(u * 23.0 + std::cos(v * 7.0) * 3.0);
      double c[3] = {60 + 120 * sky * ripple + 140 * blob, 90 + 100 * sky + 60 * blob * ripple,
                     140 + 110 * sky * (1 - blob) - 40 * ripple};
      for (int k = 0; k < 3; ++k) {
        const double value = std::clamp(c[k] + noise(random), 0.0, 255.0);
        rgb[(static_cast<size_t>(y) * width + x) * 3 + k] = static_cast<uint8_t>(value);
      }
    }
  return rgb;
}

double meansquarederror(const uint8_t* a, const uint8_t* b, size_t bytes) {
  double sum = 0;
  for (size_t i = 0; i < bytes; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return sum / static_cast<double>(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  installservices();
  int width = 1024, height = 1024;
  std::vector<uint8_t> rgb;
  if (argc > 1) {
    Block file = loadfile(argv[1]);
    Image image;
    if (!file || !loadimage(image, file.span())) {
      std::fprintf(stderr, "cannot read %s\n", argv[1]);
      return 1;
    }
    width = image.width;
    height = image.height;
    rgb.assign(image.rgb.get(), image.rgb.get() + static_cast<size_t>(width) * height * 3 + 4);
  } else {
    rgb = photolike(width, height);
    writepng("photo.png", rgb.data(), nullptr, width, height, Palette{}, nullptr);
  }
  const size_t pixels = static_cast<size_t>(width) * height;

  std::vector<uint8_t> out(pixels);
  uint8_t palette[3][256];
  int colourcount = 0;
  std::vector<double> times;
  for (int run = 0; run < 11; ++run) {
    const auto a = Clock::now();
    dl1quant(rgb.data(), out.data(), width, height, 255, palette, &colourcount);
    times.push_back(millis(a, Clock::now()));
  }
  std::sort(times.begin() + 1, times.end());
  std::printf("dl1quant %dx%d to 255 colours: first call %.1f ms, median of 10 more %.1f ms, best %.1f ms (%d colours)\n",
              width, height, times[0], times[5], times[1], colourcount);

  std::vector<uint8_t> mapped(pixels * 3 + 4);
  for (size_t i = 0; i < pixels; ++i)
    for (int k = 0; k < 3; ++k) mapped[i * 3 + k] = palette[k][out[i]];
  std::printf("  mean squared error per channel: %.2f\n", meansquarederror(rgb.data(), mapped.data(), pixels * 3));
  Palette png{};
  for (int i = 0; i < 256; ++i) png[i] = Rgba{palette[0][i], palette[1][i], palette[2][i], 255};
  writepng("quantized.png", nullptr, out.data(), width, height, png, nullptr);

  for (int i = 2; i < argc; ++i) {
    Block file = loadfile(argv[i]);
    Image other;
    if (!file || !loadimage(other, file.span()) || other.width != width || other.height != height) {
      std::printf("  %s: cannot compare\n", argv[i]);
      continue;
    }
    std::printf("  %s: mean squared error per channel %.2f\n", argv[i],
                meansquarederror(rgb.data(), other.rgb.get(), pixels * 3));
  }

  // Remap: 1M random colours against a random 256-entry palette, first on
  // an empty map (cells filled on the way), then again on the filled map.
  std::mt19937 random(5);
  std::vector<uint8_t> entries(256 * 3);
  for (auto& v : entries) v = static_cast<uint8_t>(random());
  const int lookups = 1 << 20;
  std::vector<uint8_t> colours(static_cast<size_t>(lookups) * 3);
  for (auto& v : colours) v = static_cast<uint8_t>(random());
  ColourRemap remap(entries.data(), 256, 3, -1);
  unsigned checksum = 0;
  for (int pass = 0; pass < 2; ++pass) {
    const auto a = Clock::now();
    for (int i = 0; i < lookups; ++i) checksum += static_cast<unsigned>(remap.nearest(colours[i * 3], colours[i * 3 + 1], colours[i * 3 + 2]));
    const double ms = millis(a, Clock::now());
    std::printf("remap %s map: %d lookups in %.1f ms, %.1f M lookups/s\n", pass == 0 ? "empty" : "filled", lookups, ms,
                lookups / ms / 1000.0);
  }
  std::printf("(checksum %u)\n", checksum);
  return 0;
}
