// Settings of one run, written by the command front end before the command
// runs and only read afterwards.
#pragma once

#include <array>
#include <cstdint>

namespace torvex {

struct Settings {
  bool real_compression = false;    // "-real": the real encoder instead of the store encoder
  int16_t transparency_option = 4;  // 0 after "-notrans"
  std::array<uint8_t, 2000> user_palette{};  // "-pal" file bytes
  bool user_palette_loaded = false;
};

const Settings& settings();
Settings& mutablesettings();  // the front end, and tests
void resetsettings();

}  // namespace torvex
