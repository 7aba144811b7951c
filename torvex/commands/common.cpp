#include "common.h"

#include "torvex/platform/files.h"
#include "torvex/platform/limits.h"

namespace torvex {

void stopcompression(const FbCompressed& failed) {
  const FbSelfTest& test = failed.selftest;
  if (failed.status == FbCompressed::kTooLarge)
    fatal("can't compress %d bytes: an FB block holds at most %d bytes", failed.inputsize, kFbMaxSize);
  if (test.outcome == FbSelfTest::kBytesDiffer) {
    writefile("temp.tmp", test.decoded.span());
    fatal("compression test failed! original <> compressed->decompressed!");
  }
  fatal("compression test failed! (orig size %ld new size %ld)", static_cast<long>(test.originalsize),
        static_cast<long>(test.outcome == FbSelfTest::kUndecodable ? -1 : test.decodedsize));
}

void showcompression(const FbProgress& p) {
  if (p.finished) {
    message("                                                                               %c", 13);
    message("old size %d, new size %d\n", p.total, p.written);
    return;
  }
  // message() formats twice, so a percent sign is written "%%%%".
  message("compressing %d/%d (%d%%%%) (OUT %d %d%%%%)%c", p.done, p.total,
          static_cast<int>(int64_t{p.done} * 100 / p.total), p.written,
          static_cast<int>(int64_t{p.written} * 100 / p.done), 13);
}

Block compressorstop(Block data) {
  FbCompressed packed = fbcompress(std::move(data), showcompression);
  if (packed.status != FbCompressed::kDone) stopcompression(packed);
  return std::move(packed.data);
}

std::string faulttext(const ListFault& fault) {
  switch (fault.kind) {
    case ListFault::kNoEntry:
      return "openlist() zero list";
    case ListFault::kNegativeLength:
      return "lenght<0";
    case ListFault::kPastEnd:
      return "seek out of file size";
    case ListFault::kNegativeSeek:
      return "seeklist SEEK_SET<0";
    case ListFault::kOutside:
      break;
  }
  return format("member '%s' lies outside its container '%s' (offset %d, size %d, container %d bytes)",
                fault.member.c_str(), fault.container.c_str(), fault.offset, fault.size, fault.containersize);
}

std::string corrupttext(const char* name) { return format("file '%s' is corrupt (bad compressed data)", name); }

OpenedPack openpackpath(std::string_view path, int flags) {
  const std::string argument(path);
  const std::optional<PackPath> split = splitpackpath(argument);
  if (!split) fatal("couldn't open pack file '%s'\n", argument.c_str());
  report("pack file '%s' opened\n", split->file.c_str());
  OpenedPack pack = openpack(*split, flags);
  switch (pack.status) {
    case OpenedPack::kOpened:
      break;
    case OpenedPack::kCantOpen:
      fatal("couldn't open pack file '%s'\n", argument.c_str());
    case OpenedPack::kNotScanned:
      report("couldn't scan packfile '%s'\n", split->file.c_str());
      break;
    case OpenedPack::kNotFound:
      report("couldn't find '%s' inside '%s'\n", pack.failed.c_str(), split->file.c_str());
      break;
    case OpenedPack::kNotADirectory:
      report("couldn't scan directory '%s'\n", pack.failed.c_str());
      break;
    case OpenedPack::kCorrupt:
      message("%s\n", corrupttext(pack.failed.c_str()).c_str());
      break;
    case OpenedPack::kTooLarge:
      message("%s\n", toolargetext(split->file.c_str(), pack.filesize, kMaxPack).c_str());
      break;
  }
  return pack;
}

}  // namespace torvex
