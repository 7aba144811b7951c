#include "quorvanta/core/cmdline.h"

namespace quorvanta {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size() && blank(line[i])) ++i;
  if (i == line.size()) return words;

  // The program name: quotes group, backslashes are plain.
  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') program += line[i++];
    if (i < line.size()) ++i;
  }
  while (i < line.size() && !blank(line[i])) {
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') program += line[i++];
      if (i < line.size()) ++i;
    } else {
      program += line[i++];
    }
  }
  words.push_back(std::move(program));

  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i == line.size()) break;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !blank(line[i]))) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        word.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          word += '"';
          ++i;
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          word += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      word.append(slashes, '\\');
      if (i == line.size() || (!quoted && blank(line[i]))) break;
      word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string quoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) return std::string(argument);
  return quotedArgument(argument);
}

std::string quotedArgument(std::string_view argument) {
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    // Backslashes in front of a quote are doubled, and the quote escaped.
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  // Before the closing quote, every backslash is doubled.
  out.append(slashes * 2, '\\');
  out += '"';
  return out;
}

std::string joinArguments(std::span<const std::string> arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    line += quoteArgument(arguments[i]);
  }
  return line;
}

}  // namespace quorvanta
