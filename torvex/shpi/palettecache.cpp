// The run-wide palette cache: the first palette that an indexed picture of
// the run found, shown for later pictures that have none of their own.
#include "shpi.h"

namespace torvex {

ShpiPaletteCache& shpipalettecache() {
  static ShpiPaletteCache cache;
  return cache;
}

void resetshpipalettecache() { shpipalettecache() = ShpiPaletteCache{}; }

}  // namespace torvex
