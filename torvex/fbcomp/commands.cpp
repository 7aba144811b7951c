// "-compress" and "-decompress": one whole file into its FB form and back.
#include "commands.h"

#include "fb.h"
#include "torvex/platform/platform.h"

namespace torvex {

namespace {

// Shown in place of a destination the command line did not give.
constexpr const char* kNoDestination = "<destination file>";

// The whole file, or a null Block after printing why not. An empty file is
// a valid Block of size 0.
Block readsource(const char* source) {
  File f(source, 0);
  if (!f) {
    message("couldn't open '%s' for reading\n", source);
    return {};
  }
  const uint32_t size = f.size();
  if (size > 0x7FFFFFF0u) fatal("couldn't allocate %d bytes", static_cast<int32_t>(size));
  Block b = allocblock(static_cast<int32_t>(size));
  if (f.read(b.get(), size) != size) {
    message("couldn't read '%s'\n", source);
    return {};
  }
  return b;
}

int writedestination(const char* destination, std::span<const uint8_t> bytes) {
  if (!destination) {
    message("couldn't open '%s' for writing\n", kNoDestination);
    return 1;
  }
  File f(destination, 1);
  if (!f) {
    message("couldn't open '%s' for writing\n", destination);
    return 1;
  }
  if (!f.writeall(bytes)) {
    // A half-written file would pass for a good one: take it away.
    f.close();
    filedelete(destination);
    message("couldn't write '%s'\n", destination);
    return 1;
  }
  return 0;
}

}  // namespace

int compressfile(const char* source, const char* destination) {
  Block data = readsource(source);
  if (!data) return 1;
  const Block packed = fbcompress(std::move(data));
  return writedestination(destination, packed.span());
}

int decompressfile(const char* source, const char* destination) {
  Block data = readsource(source);
  if (!data) return 1;
  FbStatus status;
  Block plain = fbdecompress(data.span(), status);
  if (status == FbStatus::kNotCompressed) fatal("file '%s' is not compressed", source);
  if (status == FbStatus::kCorrupt) {
    message("file '%s' is corrupt (bad compressed data)\n", source);
    return 1;
  }
  data = {};
  return writedestination(destination, plain.span());
}

}  // namespace torvex
