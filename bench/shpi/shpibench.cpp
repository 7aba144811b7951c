// Decoding speed of SHPI picture records: one 1024 x 1024 record of each
// picture type, decoded repeatedly in memory; prints megapixels per second.
//   shpibench [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "torvex/shpi/shpi.h"

int main(int argc, char** argv) {
  using namespace torvex;
  installservices();
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  const int side = 1024;
  for (int code : {0x40, 0x7B, 0x6D, 0x78, 0x7E, 0x7F, 0x7D}) {
    const ShpiType& type = *shpitype(code);
    const auto pixels = static_cast<size_t>(shpipixelsize(type, side, side));
    if (pixels > (size_t{64} << 20)) return 1;
    std::vector<uint8_t> record(16 + pixels);
    record[0] = static_cast<uint8_t>(code);
    record[4] = record[6] = side & 0xFF;
    record[5] = record[7] = side >> 8;
    uint32_t x = 12345;
    for (size_t i = 16; i < record.size(); ++i) record[i] = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    ShpiPicture picture;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r)
      if (decodepicture(record, picture, {}) != 1) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("type 0x%02X: %7.1f Mpixel/s\n", code, rounds * double(side) * side / seconds / 1e6);
  }
  return 0;
}
