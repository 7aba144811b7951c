// "-compress" and "-decompress": one whole file into its FB form and back.
#include "compress.h"

#include "common.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"

namespace torvex {

namespace {

// Shown in place of a destination the command line did not give.
constexpr const char* kNoDestination = "<destination file>";

// The whole file, or a null Block after printing why not. An empty file is
// a valid Block of size 0.
Block readsource(const char* source) {
  WholeFile file = readwholefile(source);
  switch (file.status) {
    case WholeFile::kRead:
      return std::move(file.bytes);
    case WholeFile::kCantOpen:
      message("couldn't open '%s' for reading\n", source);
      return {};
    case WholeFile::kTooLarge:
      fatal("%s", toolargetext(source, file.size, kMaxBlock).c_str());
    case WholeFile::kShortRead:
      break;
  }
  message("couldn't read '%s'\n", source);
  return {};
}

int writedestination(const char* destination, std::span<const uint8_t> bytes) {
  if (!destination) {
    message("couldn't open '%s' for writing\n", kNoDestination);
    return kExitFailed;
  }
  switch (writefile(destination, bytes)) {
    case FileWrite::kWritten:
      return kExitOk;
    case FileWrite::kCantCreate:
      message("couldn't open '%s' for writing\n", destination);
      return kExitFailed;
    case FileWrite::kWriteFailed:
      break;
  }
  message("couldn't write '%s'\n", destination);
  return kExitFailed;
}

}  // namespace

int compressfile(const char* source, const char* destination) {
  Block data = readsource(source);
  if (!data) return kExitFailed;
  const Block packed = compressorstop(std::move(data));
  return writedestination(destination, packed.span());
}

int decompressfile(const char* source, const char* destination) {
  Block data = readsource(source);
  if (!data) return kExitFailed;
  FbStatus status;
  Block plain = fbdecompress(data.span(), status);
  if (status == FbStatus::kNotCompressed) fatal("file '%s' is not compressed", source);
  if (status == FbStatus::kCorrupt) {
    message("file '%s' is corrupt (bad compressed data)\n", source);
    return kExitFailed;
  }
  data = {};
  return writedestination(destination, plain.span());
}

}  // namespace torvex
