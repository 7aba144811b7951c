// Every target starts the services once, with the console silenced: what
// the code under test prints is beside the point here.
#pragma once

#include "torvex/platform/platform.h"

namespace torvex::fuzz {

inline void quietservices() {
  static const bool done = [] {
    installservices();
    services().consolewrite = [](std::string_view) {};
    return true;
  }();
  (void)done;
}

}  // namespace torvex::fuzz
