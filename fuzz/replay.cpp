// Feeds a fuzz target every file under the folders given, and for each
// file a fixed set of mutations: cuts at several lengths and single bytes
// set to 0x00, 0x7F, 0x80 and 0xFF at spread positions. The target must
// neither crash nor trip a sanitizer on any of them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "quiet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void feed(const std::vector<uint8_t>& bytes) { LLVMFuzzerTestOneInput(bytes.data(), bytes.size()); }

void mutations(const std::vector<uint8_t>& original) {
  feed(original);
  const size_t n = original.size();
  for (size_t cut : {size_t{0}, size_t{1}, size_t{5}, size_t{16}, n / 3, n / 2, n - n / 8, n > 0 ? n - 1 : 0})
    if (cut < n) feed(std::vector<uint8_t>(original.begin(), original.begin() + static_cast<long>(cut)));
  if (n == 0) return;
  // Headers matter most: every one of the first 64 bytes, then spread positions.
  std::vector<size_t> positions;
  for (size_t i = 0; i < n && i < 64; ++i) positions.push_back(i);
  for (size_t step = 1; step <= 32; ++step) positions.push_back(n * step / 33);
  for (size_t pos : positions) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> copy = original;
      copy[pos] = value;
      feed(copy);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  torvex::fuzz::quietservices();
  // Under CI every folder must be there: the real game files must never
  // silently drop out of the run.
  const char* ci = std::getenv("CI");
  const bool strict = ci && std::string_view(ci) == "true";
  size_t files = 0;
  int missing = 0;
  for (int i = 1; i < argc; ++i) {
    namespace fs = std::filesystem;
    if (!fs::exists(argv[i])) {
      std::printf("skipped: replay of %s: the folder is not there\n", argv[i]);
      ++missing;
      continue;
    }
    for (const auto& e : fs::recursive_directory_iterator(argv[i])) {
      if (!e.is_regular_file() || e.file_size() > (4u << 20)) continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      mutations(bytes);
      ++files;
    }
  }
  std::printf("replayed %zu files with their mutations\n", files);
  return strict && missing > 0 ? 1 : 0;
}
