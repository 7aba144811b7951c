// The SHPI record decoders on arbitrary bytes: an SHPI file image (FB-
// compressed or not) has each record decoded as picture and as palette,
// with the file's "!pal" as directory palette; any other input is decoded
// as one record.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../quiet.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/bytereader.h"
#include "torvex/shpi/shpi.h"

namespace {

void decoderecord(std::span<const uint8_t> record, std::span<const uint8_t> shared) {
  torvex::ShpiPicture picture;
  torvex::decodepicture(record, picture, [shared](torvex::Palette& p) { return torvex::decodepalette(shared, p); });
  torvex::Palette palette{};
  torvex::decodepalette(record, palette);
  if (record.size() <= 4096) {
    std::vector<uint8_t> copy(record.begin(), record.end());
    torvex::encodepalette(copy, palette);
  }
}

void decodefile(std::span<const uint8_t> file) {
  if (file.size() < 16 || std::memcmp(file.data(), "SHPI", 4) != 0) {
    decoderecord(file, {});
    return;
  }
  const size_t count = std::min<size_t>(torvex::peek32le(&file[8]), (file.size() - 16) / 8);
  std::vector<size_t> offsets;
  std::span<const uint8_t> shared;
  for (size_t i = 0; i < count; ++i) {
    const size_t at = torvex::peek32le(&file[16 + 8 * i + 4]);
    offsets.push_back(at);
    if (std::memcmp(&file[16 + 8 * i], "!pal", 4) == 0 && at < file.size()) shared = file.subspan(at);
  }
  std::vector<size_t> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  for (size_t at : offsets) {
    if (at >= file.size()) continue;
    const auto next = std::upper_bound(sorted.begin(), sorted.end(), at);
    const size_t end = next != sorted.end() ? std::min(*next, file.size()) : file.size();
    decoderecord(file.subspan(at, end - at), shared);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  try {
    torvex::resetshpipalettecache();
    const std::span<const uint8_t> bytes(data, size);
    torvex::FbStatus status{};
    int32_t expanded = 0;
    if (torvex::fbinfo(bytes, expanded) && expanded < (16 << 20)) {
      const torvex::Block whole = torvex::fbdecompress(bytes, status);
      if (whole) decodefile(whole.span());
    } else {
      decodefile(bytes);
    }
  } catch (const torvex::FatalError&) {
    // A refusal through the fatal service is an answer, not a fault.
  }
  return 0;
}
