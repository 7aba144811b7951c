// "-real -compress SOURCE DESTINATION" with the encoder before the
// three-byte chains, for timing whole commands side by side: the same file
// reading, output buffer, self-test and writing as the torvex command, and
// the old encoder printing its progress line and summary as it did.
//
//   fbold SOURCE DESTINATION
#include <cstdio>

#include "oldencode.h"
#include "torvex/fbcomp/encode.h"
#include "torvex/platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fbold SOURCE DESTINATION\n");
    return 2;
  }
  torvex::installservices();
  try {
    torvex::File in(argv[1], 0);
    if (!in) {
      torvex::message("couldn't open '%s' for reading\n", argv[1]);
      return 1;
    }
    const uint32_t size = in.size();
    torvex::Block data = torvex::allocblock(static_cast<int32_t>(size));
    if (in.read(data.get(), size) != size) return 1;
    in.close();
    torvex::Block out = torvex::allocblock(torvex::fbcapacity(data.size));
    out.size = torvex::benchold::oldfbencode(data.span(), out.get());
    if (torvex::fbverify(data.span(), out.span()).outcome != torvex::FbSelfTest::kPassed) {
      torvex::message("compression test failed!\n");
      return 1;
    }
    data = {};
    torvex::File f(argv[2], 1);
    if (!f || !f.writeall(out.span())) {
      torvex::message("couldn't open '%s' for writing\n", argv[2]);
      return 1;
    }
  } catch (const torvex::FatalError&) {
    return 1;
  }
  return 0;
}
