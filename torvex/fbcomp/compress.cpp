// fbcompress and the self-test that every real encoding passes through.
#include <cstring>

#include "encode.h"
#include "fb.h"
#include "torvex/platform/settings.h"

namespace torvex {

void fbverify(std::span<const uint8_t> original, std::span<const uint8_t> encoded) {
  FbStatus status;
  const Block decoded = fbdecompress(encoded, status);
  const auto n = static_cast<long>(original.size());
  if (!decoded) fatal("compression test failed! (orig size %ld new size %ld)", n, -1L);
  if (decoded.size != n) fatal("compression test failed! (orig size %ld new size %ld)", n, static_cast<long>(decoded.size));
  if (n > 0 && std::memcmp(decoded.get(), original.data(), original.size()) != 0) {
    // Kept for whoever looks into it: what the broken encoding decodes to.
    File f("temp.tmp", 1);
    if (f) f.writeall(decoded.span());
    fatal("compression test failed! original <> compressed->decompressed!");
  }
}

Block fbselftest(Block data) {
  Block out = allocblock(fbcapacity(data.size));
  out.size = fbencode(data.span(), out.get(), [](const FbProgress& p) {
    message("compressing %d/%d (%d%%%%) (OUT %d %d%%%%)%c", p.done, p.total,
            static_cast<int>(int64_t{p.done} * 100 / p.total), p.written,
            static_cast<int>(int64_t{p.written} * 100 / p.done), 13);
  });
  if (out.size < 0) fatal("can't compress %d bytes: an FB block holds at most %d bytes", data.size, 0xFFFFFF);
  message("                                                                               %c", 13);
  message("old size %d, new size %d\n", data.size, out.size);
  fbverify(data.span(), out.span());
  return out;
}

Block fbcompress(Block data) {
  // The header's size field has 24 bits.
  if (data.size > 0xFFFFFF) fatal("can't compress %d bytes: an FB block holds at most %d bytes", data.size, 0xFFFFFF);
  if (settings().real_compression) return fbselftest(std::move(data));
  Block out = allocblock(fbcapacity(data.size));
  out.size = fbstore(data.span(), out.get());
  return out;
}

}  // namespace torvex
