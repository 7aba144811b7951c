// "-face": player faces imported into an installed game.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace torvex {

// Imports the faces numbered by `numbers` into the game in `gamedir`: for
// each number the game face ("G0005.png" ...), the large photo ("L0005...")
// and the small photo ("S0005...", made from the large one when missing)
// found in the current folder become SHPI files modelled on the game's own
// and go into its face and photo packs. `palette` is a "-pal" record or
// empty; `transparency` is ORed into the rebuild's options. True when the
// faces were imported; false after a printed failure (fatal errors throw).
bool updatefaces(std::string_view gamedir, std::span<const std::string> numbers, std::span<const uint8_t> palette,
                 int transparency);

}  // namespace torvex
