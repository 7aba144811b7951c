// Windows command-line quoting, both ways. The launcher builds its runtime
// commands as one line, the Windows way; on POSIX the line is split back
// into arguments with the same rules a Windows program's start-up code
// applies, and the launcher's own arguments are quoted into one line first,
// so that the application sees them unchanged on either system.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvanta {

// Splits `line` as a Windows program does: the first word is the program
// name (quotes group, no escapes); then words are separated by spaces and
// tabs, double quotes group, 2n backslashes before a quote give n and the
// quote groups, 2n+1 give n and a literal quote, "" inside a group gives a
// literal quote, and other backslashes are literal.
std::vector<std::string> splitCommandLine(std::string_view line);

// One argument quoted so that splitCommandLine gives it back unchanged.
std::string quoteArgument(std::string_view argument);

// The same between double quotes whatever it holds: the plain text inside
// quotes, backslashes doubled only where they precede a quote or the
// closing quote.
std::string quotedArgument(std::string_view argument);

// Arguments quoted and joined with single spaces.
std::string joinArguments(std::span<const std::string> arguments);

}  // namespace quorvanta
