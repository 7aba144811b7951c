// "-p", "-p1" and "-d": members of a BIGF, C0FB or FST pack replaced, added
// or deleted, and the pack rewritten in its own layout.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace torvex {

// "-p" (compress false) and "-p1" (compress true): replaces members by the
// files of the same name and adds the others at the end. `basedir` may be
// empty; otherwise the pack path is relative to it. True when the pack was
// rewritten; false after a printed failure (fatal errors throw).
bool updatepack(std::string_view basedir, std::string_view pack, std::span<const std::string> files,
                bool compress);

// Opens `pack` as the update would, changing nothing: true when it can be
// rewritten; otherwise false or a fatal error, with the update's message.
bool checkpack(std::string_view pack);

// "-d": removes the named members.
bool deletepack(std::string_view basedir, std::string_view pack, std::span<const std::string> names);

// `basedir`, a "\" unless it is empty or ends in "\" or ":", then `pack`.
std::string joinpackpath(std::string_view basedir, std::string_view pack);

struct PackForWrite;
// Rewrites the pack through the pack writer, printing its progress lines,
// or ends the command saying why not.
void writeorstop(PackForWrite& target);

// The member name of a file path: the text after the last "/", "\" or ":".
std::string_view membername(std::string_view path);

}  // namespace torvex
