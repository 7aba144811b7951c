// Every pack directory reader, through the file list, on arbitrary bytes:
// the input becomes a file on disk, its directory is read, and every
// member (up to 64 per directory) is loaded and scanned in turn, two
// levels deep.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../quiet.h"
#include "torvex/pack/packentry.h"

namespace {

void walk(torvex::PackEntry& entry, int depth) {
  // Stored order: sorting thousands of records per input adds time, not paths.
  torvex::DirArray* dir = torvex::scandir(entry, torvex::kScanKeepOrder);
  if (!dir) return;
  // The first members are enough to reach every path; all of them would
  // make a directory of thousands of small members cost seconds.
  for (torvex::PackEntry& m : dir->members().first(std::min<size_t>(dir->count(), 64))) {
    const torvex::Block content = torvex::loadlist(m);
    if (content && depth < 2) walk(m, depth + 1);
    torvex::closelist(m, false);
  }
}

std::string folder;

// The .qpp layout is known by the file name and ignores its first four
// bytes: inputs starting with a zero byte are named for it. (Naming every
// input so would read any text as thousands of four-character members.)
std::string filefor(const uint8_t* data, size_t size) {
  return folder + (size > 0 && data[0] == 0 ? "/fuzz.qpp" : "/fuzz.bin");
}

void cleanup() {
  torvex::filedelete((folder + "/fuzz.qpp").c_str());
  torvex::filedelete((folder + "/fuzz.bin").c_str());
  torvex::removefolder(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (folder.empty()) {
    torvex::fuzz::quietservices();
    folder = torvex::maketempfolder();
    std::atexit(cleanup);
  }
  // Inputs above this size add time, not new paths.
  if (size > (128u << 10)) return 0;
  const std::string file = filefor(data, size);
  {
    // A fresh file each time: rewriting one in place makes some file
    // systems flush it on every close.
    torvex::filedelete(file.c_str());
    torvex::File out(file.c_str(), 1);
    if (!out || !out.writeall({data, size})) return 0;
  }
  try {
    torvex::RootArray roots;
    if (torvex::setroot(roots, file)) walk(roots.root(), 0);
  } catch (const torvex::ListFault&) {
    // A refusal of the file list is an answer, not a fault.
  } catch (const torvex::FatalError&) {
    // So is one through the fatal service (memory that cannot be had).
  }
  return 0;
}
