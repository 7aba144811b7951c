// Encoding and decoding speed of the GIF coder on a 1024x1024 picture of
// 256 colours (smooth bands with noise, as a scanned or rendered picture).
//
//   gifbench make DIR      writes DIR/pic.ppm (for other encoders), DIR/pic.raw
//                          and DIR/pic.pal (indices and palette), DIR/pic.gif
//   gifbench encode OUT    encodes the picture into OUT once (whole-process timing)
//   gifbench decode FILE   decodes FILE once (whole-process timing)
//   gifbench loop FILE [N] encodes and decodes N times in one process and
//                          prints the median of each (picture generation and
//                          file reading are outside the timed part)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "torvex/image/formats.h"

using namespace torvex;

namespace {

constexpr int kSide = 1024;

struct Picture {
  std::vector<uint8_t> indexed;
  Palette palette;
};

Picture makepicture() {
  Picture p;
  uint32_t state = 12345;
  p.indexed.resize(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int band = ((x * x + 3 * y * y) >> 12) + ((x ^ y) >> 5);
      p.indexed[static_cast<size_t>(y) * kSide + x] = static_cast<uint8_t>(band + (state & 3));
    }
  for (int i = 0; i < 256; ++i)
    p.palette[i] = Rgba{static_cast<uint8_t>(i), static_cast<uint8_t>((i * 7) & 255), static_cast<uint8_t>(255 - i), 255};
  return p;
}

bool writeall(const std::string& name, const void* data, size_t size) {
  File f(name.c_str(), 1);
  return f && f.writeall({static_cast<const uint8_t*>(data), size});
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  installservices();
  if (argc < 3) {
    std::fprintf(stderr, "usage: gifbench make DIR | encode OUT | decode FILE | loop FILE [N]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string path = argv[2];
  try {
    if (mode == "make") {
      const Picture p = makepicture();
      std::vector<uint8_t> ppm;
      const std::string head = "P6\n1024 1024\n255\n";
      ppm.assign(head.begin(), head.end());
      std::vector<uint8_t> pal;
      for (const Rgba& c : p.palette) pal.insert(pal.end(), {c.r, c.g, c.b});
      for (uint8_t v : p.indexed) ppm.insert(ppm.end(), {p.palette[v].r, p.palette[v].g, p.palette[v].b});
      if (!writeall(path + "/pic.ppm", ppm.data(), ppm.size()) ||
          !writeall(path + "/pic.raw", p.indexed.data(), p.indexed.size()) ||
          !writeall(path + "/pic.pal", pal.data(), pal.size()) ||
          !writegif((path + "/pic.gif").c_str(), nullptr, p.indexed.data(), kSide, kSide, p.palette, nullptr))
        return 1;
      return 0;
    }
    if (mode == "encode") {
      const Picture p = makepicture();
      return writegif(path.c_str(), nullptr, p.indexed.data(), kSide, kSide, p.palette, nullptr) ? 0 : 1;
    }
    if (mode == "decode") {
      const Block file = loadfile(path.c_str());
      Image image;
      ImageResult result;
      readgif(image, file.span(), result);
      return image.rgb ? 0 : 1;
    }
    if (mode == "loop") {
      const int runs = argc > 3 ? std::atoi(argv[3]) : 21;
      const Picture p = makepicture();
      const std::string out = path + ".bench.gif";
      std::vector<double> enc, dec;
      for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        writegif(out.c_str(), nullptr, p.indexed.data(), kSide, kSide, p.palette, nullptr);
        auto t1 = std::chrono::steady_clock::now();
        enc.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      }
      const Block file = loadfile(out.c_str());
      for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        Image image;
        ImageResult result;
        readgif(image, file.span(), result);
        auto t1 = std::chrono::steady_clock::now();
        dec.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (std::memcmp(image.indexed.get(), p.indexed.data(), p.indexed.size()) != 0) {
          std::fprintf(stderr, "decoded pixels differ\n");
          return 1;
        }
      }
      filedelete(out.c_str());
      std::printf("file %d bytes; encode median %.2f ms, decode median %.2f ms (%d runs)\n", file.size, median(enc),
                  median(dec), runs);
      return 0;
    }
  } catch (const FatalError& e) {
    std::fprintf(stderr, "%s\n", e.text.c_str());
    return 1;
  }
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
