// The patch-info file: comments, the "!message" block and the listed
// files; and the names built from it.
#include <algorithm>

#include "patch.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

bool linebreak(char c) { return c == '\r' || c == '\n'; }
bool comment(char c) { return c == ';' || c == '#'; }

constexpr std::string_view kMessageMark = "!message";

}  // namespace

std::optional<std::string_view> nextinfoline(InfoCursor& cursor) {
  const std::string_view text = cursor.text;
  size_t& pos = cursor.pos;
  // Text after a NUL was never part of the file's lines.
  auto atend = [&text](size_t at) { return at >= text.size() || text[at] == '\0'; };
  for (;;) {
    while (!atend(pos) && linebreak(text[pos])) ++pos;
    if (atend(pos)) {
      pos = text.size();
      return std::nullopt;
    }
    if (!comment(text[pos])) break;
    while (!atend(pos) && !linebreak(text[pos])) ++pos;
  }
  const size_t start = pos;
  while (!atend(pos) && !linebreak(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

PatchInfo readpatchinfo(std::string_view text) {
  PatchInfo info;
  InfoCursor cursor{text};
  std::optional<std::string_view> line;
  do {
    line = nextinfoline(cursor);
    if (!line) return info;
  } while (!nameequal(*line, kMessageMark));
  for (;;) {
    line = nextinfoline(cursor);
    if (!line) return info;
    if (nameequal(*line, kMessageMark)) break;
    info.message += *line;
  }
  while ((line = nextinfoline(cursor))) info.files.emplace_back(*line);
  info.ok = true;
  return info;
}

std::string underfolder(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/' && path.back() != ':') path += '\\';
  path += name;
  return path;
}

std::string memberpath(const PackEntry& member) {
  std::vector<const std::string*> names;
  for (const PackEntry* e = &member; e; e = e->parent) names.push_back(&e->name);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += '\\';
    path += **it;
  }
  return path;
}

}  // namespace torvex
