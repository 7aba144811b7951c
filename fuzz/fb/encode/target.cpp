// The real encoder against the plain transcription of its rules: both must
// give the same bytes, and those must decode to the input.
//
// An input that starts with the letter G is a small program that builds
// the data, so that a few bytes can stand for what the encoder finds hard:
// long runs (past the 0xFFFF positions one entry holds), runs of many
// lengths, two-byte patterns, copies from up to and past 128 KiB back and of
// up to 2100 bytes (past the longest match), gradients and noise. Any other
// input of up to 4096 bytes is encoded as it is.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../../quiet.h"
#include "fbreference.h"
#include "torvex/fbcomp/encode.h"
#include "torvex/fbcomp/fb.h"

namespace {

using Bytes8 = std::vector<uint8_t>;

constexpr size_t kMost = 160 * 1024;  // past the 128 KiB window, and quick enough for the transcription

class Program {
 public:
  Program(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool done() const { return p_ == end_; }
  uint32_t u8() { return p_ < end_ ? *p_++ : 0; }
  uint32_t u16() { return u8() | (u8() << 8); }
  uint32_t u24() { return u16() | (u8() << 16); }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

Bytes8 build(Program prog) {
  Bytes8 d;
  while (!prog.done() && d.size() < kMost) {
    switch (prog.u8() % 8) {
      case 0:  // literal bytes from the program
        for (uint32_t n = 1 + prog.u8() % 64; n > 0 && !prog.done(); --n) d.push_back(static_cast<uint8_t>(prog.u8()));
        break;
      case 1: {  // a run of one byte value
        const auto c = static_cast<uint8_t>(prog.u8());
        d.insert(d.end(), 1 + prog.u16(), c);
        break;
      }
      case 2: {  // a two-byte pattern
        const auto a = static_cast<uint8_t>(prog.u8());
        const auto b = static_cast<uint8_t>(prog.u8());
        for (uint32_t n = 1 + prog.u16() % 16384; n > 0; --n) d.insert(d.end(), {a, b});
        break;
      }
      case 3: {  // a copy of earlier data, from up to a little past the window
        if (d.empty()) break;
        const size_t distance = 1 + prog.u24() % std::min<size_t>(d.size(), 131080);
        for (uint32_t n = 1 + prog.u16() % 2100; n > 0; --n) d.push_back(d[d.size() - distance]);
        break;
      }
      case 4: {  // noise
        uint32_t x = prog.u8() | 1;
        for (uint32_t n = prog.u16() % 4096; n > 0; --n) {
          x ^= x << 13;
          x ^= x >> 17;
          x ^= x << 5;
          d.push_back(static_cast<uint8_t>(x));
        }
        break;
      }
      case 5: {  // a gradient: each value repeated `width` times
        uint32_t v = prog.u8();
        const uint32_t step = prog.u8() % 4;
        const uint32_t width = 1 + prog.u8() % 16;
        for (uint32_t n = prog.u16() % 8192; n > 0; --n, v += step)
          d.insert(d.end(), width, static_cast<uint8_t>(v));
        break;
      }
      case 6: {  // the last few bytes again and again
        const size_t period = 1 + prog.u8() % 16;
        if (d.size() < period) break;
        for (uint32_t n = prog.u16() % 4096; n > 0; --n) d.push_back(d[d.size() - period]);
        break;
      }
      default: {  // runs of one byte value cut by single other bytes, of given lengths
        const auto c = static_cast<uint8_t>(prog.u8());
        for (uint32_t n = 1 + prog.u8() % 32; n > 0; --n) {
          d.insert(d.end(), 2 + prog.u8() % 40, c);
          d.push_back(static_cast<uint8_t>(prog.u8()));
        }
        break;
      }
    }
  }
  if (d.size() > kMost) d.resize(kMost);
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  Bytes8 input;
  if (size > 0 && data[0] == 'G')
    input = build(Program(data + 1, size - 1));
  else if (size <= 4096)
    input.assign(data, data + size);
  else
    return 0;
  torvex::Block out = torvex::allocblock(torvex::fbcapacity(static_cast<int32_t>(input.size())));
  out.size = torvex::fbencode(input, out.get());
  if (Bytes8(out.get(), out.get() + out.size) != torvex::fbreference::referenceencode(input)) __builtin_trap();
  torvex::FbStatus status;
  const torvex::Block back = torvex::fbdecompress(out.span(), status);
  if (!back || Bytes8(back.get(), back.get() + back.size) != input) __builtin_trap();
  return 0;
}
