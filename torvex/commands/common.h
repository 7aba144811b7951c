// What the command families share: exit statuses, and the messages for the
// failures that the format libraries hand up from several commands alike.
#pragma once

#include <string>
#include <string_view>

#include "torvex/fbcomp/fb.h"
#include "torvex/pack/packentry.h"
#include "torvex/platform/platform.h"

namespace torvex {

// Exit statuses of a command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a fatal error, or a command that printed its failure

// Ends the command with the fatal message of an encoding that failed; a
// broken encoding's decoded bytes are kept in "temp.tmp" for whoever looks
// into it.
[[noreturn]] void stopcompression(const FbCompressed& failed);
// The real encoder's progress line while it works, then the blank line that
// wipes it and the "old size, new size" summary.
void showcompression(const FbProgress& progress);
// fbcompress, or the end of the command.
Block compressorstop(Block data);

// The fatal message text of a fault of the file list.
std::string faulttext(const ListFault& fault);

// The line for FB-compressed data that does not expand.
std::string corrupttext(const char* name);

// Runs a command body that reads through the file list: a fault it meets
// ends the command like every fatal error.
template <class Body>
int readingpacks(Body&& body) {
  try {
    return body();
  } catch (const ListFault& fault) {
    fatal("%s", faulttext(fault).c_str());
  }
}

// Opens a pack path ("pack.viv" or "pack.viv\\member...") for the list,
// extract and SHPI commands, saying so; on failure after printing why (no
// prefix of the path that is a file is fatal).
OpenedPack openpackpath(std::string_view path, int flags);

}  // namespace torvex
