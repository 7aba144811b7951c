#include "settings.h"

namespace torvex {

namespace {
Settings current;
}

const Settings& settings() { return current; }
Settings& mutablesettings() { return current; }
void resetsettings() { current = Settings{}; }

}  // namespace torvex
