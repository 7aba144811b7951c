// The command front end: the working argument list, the command table and
// the usage text. The commands themselves live in torvex/commands.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvex/commands/common.h"

namespace torvex {

// Besides kExitOk and kExitFailed of the commands:
constexpr int kExitUnknown = 2;  // "unknown command or not enough parameters"

// What a command body gets: the working list (entry 0 the program name,
// the global switches removed) and where its own arguments begin.
struct Invocation {
  std::vector<std::string> args;
  // Entries taken by "-pal <file>" right after the command word: 0 or 2.
  // The command's own arguments begin that much later.
  int paletteArgs = 0;

  int count() const { return static_cast<int>(args.size()); }
  const std::string& word() const { return args[1]; }
  // Entry i, or null past the end of the list.
  const char* at(int i) const { return i < count() ? args[static_cast<size_t>(i)].c_str() : nullptr; }
  // Entries first .. count()-1 (the name list of the pack commands).
  std::vector<std::string> from(int first) const;
};

struct Command {
  bool (*matches)(std::string_view word);
  int least;       // the least count() that runs the body (before adding paletteArgs)
  bool takespal;   // "-pal <file>" may follow the command word
  int (*body)(const Invocation& inv);
};

// The word tests of the command table.
namespace words {
bool makepatch(std::string_view word);
bool patch(std::string_view word);
bool compress(std::string_view word);
bool decompress(std::string_view word);
bool replace(std::string_view word);   // "-r", "-rp"
bool create(std::string_view word);    // any word beginning "-c" or "-C"
bool update(std::string_view word);    // "-p", "-p1"
bool remove(std::string_view word);    // "-d"
bool face(std::string_view word);      // "-face"
bool list(std::string_view word);
bool extract(std::string_view word);   // a word of the extraction table
}  // namespace words

// The program's table, in the order the words are tried.
std::span<const Command> commandtable();

// Builds the working list from the process arguments, setting the global
// switches on the way.
Invocation workinglist(int argc, const char* const* argv);

// Runs one command line; returns the exit status.
int dispatch(const Invocation& inv, std::span<const Command> table);
int runtorvex(int argc, const char* const* argv);

void printusage();

// Loads the "-pal" file into the run's settings (the run ends when it cannot
// be opened).
void loaduserpalette(const char* name);

// Option bits of a create command word: each "1" sets 1, each "p"/"P" sets 2.
int createoptions(std::string_view word);

// The extraction words: picture flag and save format code, or false.
struct ExtractMode {
  int picture;
  int format;
};
bool extractmode(std::string_view word, ExtractMode& mode);

}  // namespace torvex
