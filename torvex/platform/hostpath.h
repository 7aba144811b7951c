// How a file name written the Windows way (backslashes, any letter case)
// finds its file on a POSIX system.
#pragma once

#include <string>
#include <string_view>

namespace torvex {

// Turns "\" into "/" and, where a path component does not exist with the
// exact case given, uses the existing entry that matches it ignoring ASCII
// case (the exact spelling is always preferred). Components that match
// nothing are kept as given, so the result also names files to be created.
std::string hostpath(std::string_view name);

// The name under which a file is created: the folders are found as
// hostpath() finds them, the file itself keeps exactly the name given, so
// that on a file system that tells letter case apart a new "A.DAT" never
// lands on an existing "a.dat".
std::string hostcreatepath(std::string_view name);

}  // namespace torvex
