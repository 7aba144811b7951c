// Names of files, pack members and SHPI records compare without regard to
// the case of the ASCII letters, everywhere in the program.
#pragma once

#include <string_view>

namespace torvex {

inline char lowerascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// <0, 0 or >0: letters A-Z folded to lower case, then byte values compared.
inline int namecmp(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(lowerascii(a[i]));
    const auto y = static_cast<unsigned char>(lowerascii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool nameequal(std::string_view a, std::string_view b) { return namecmp(a, b) == 0; }

// True when `text` ends with `suffix`, ignoring ASCII case.
inline bool endswithname(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && nameequal(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace torvex
