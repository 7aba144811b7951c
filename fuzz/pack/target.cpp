// Every pack directory reader, through the file list, on arbitrary bytes:
// the input becomes a file on disk (named *.qpp, so that the last test of
// the recognition gets its turn too), its directory is read, and every
// member (up to 64 per directory) is loaded and scanned in turn, two
// levels deep.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

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
std::string file;

void cleanup() {
  torvex::filedelete(file.c_str());
  torvex::removefolder(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (folder.empty()) {
    torvex::installservices();
    torvex::services().consolewrite = [](std::string_view) {};
    folder = torvex::maketempfolder();
    file = folder + "/fuzz.qpp";
    std::atexit(cleanup);
  }
  // Inputs above this size add time, not new paths.
  if (size > (128u << 10)) return 0;
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
  } catch (const torvex::FatalError&) {
    // A refusal through the fatal service is an answer, not a fault.
  }
  return 0;
}
