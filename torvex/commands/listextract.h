// "-l" and "-u" and the "-e" family: listing a pack path's members and
// writing them out as files, SHPI pictures converted to picture files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "torvex/pack/packentry.h"

namespace torvex {

// "-l": prints the members of the pack path. The exit status.
int listpack(std::string_view path);

// "-u" and the "-e" family: writes the selected members (all when `names` is
// empty), with `picture` 1 converting picture members to picture files in
// save format `format`. kExitOk when every selected member was written.
int extractpack(std::string_view path, std::span<const std::string> names, int picture, int format);

// Writes one member's content as a file named after the member (in matching
// subfolders of the current folder), or as a picture file when `picture` is
// 1 and the member is a picture. 1 written, 0 refused (message printed).
int16_t writemember(const PackEntry& member, std::span<const uint8_t> content, int picture, int format);

}  // namespace torvex
