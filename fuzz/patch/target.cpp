// The patch-info reader and the patch reader on arbitrary bytes: the input
// read as an info file and as a patch, and the pictures of every member of
// the patch that begins like an SHPI file read the way the applier reads a
// partial SHPI. The corpus holds patches made by -makepatch from packs laid
// out by hand, and info files.
#include <cstdint>
#include <string_view>

#include "../quiet.h"
#include "torvex/patch/patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  torvex::fuzz::quietservices();
  (void)torvex::readpatchinfo(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    const torvex::PatchContents patch = torvex::parsepatch(torvex::copyblock({data, size}));
    for (const torvex::PatchTarget& target : patch.targets)
      for (const torvex::PatchMember& member : target.members) (void)torvex::partialpictures(member);
  } catch (const torvex::ListFault&) {
    // A refusal of the file list is an answer, not a fault.
  }
  return 0;
}
