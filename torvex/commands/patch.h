// "-makepatch": a patch of what differs between the working copy of a set
// of game files (in the current folder) and a reference copy; "-patch":
// applying one to a game folder.
#pragma once

#include <string>

namespace torvex {

// Compares the files listed in the patch-info file `info` with their
// copies under `reference` and writes the patch `patch`. Exit status 0, or
// 1 when a listed file could not be read.
int makepatch(const std::string& info, const std::string& patch, const std::string& reference);

// Applies the patch `patch` to the files under `folder` (empty: the current
// folder). Every target is read and checked before the first is written.
int applypatch(const std::string& patch, const std::string& folder);

}  // namespace torvex
