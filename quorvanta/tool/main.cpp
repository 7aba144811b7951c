// quorvanta-record: prints the startup record of a built launcher, and
// writes a new one into it in place, field by field from the options. The
// record is found by its signature, which must occur exactly once; a value
// that does not fit its field is refused and nothing is written.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvanta/core/record.h"

namespace {

using quorvanta::Field;
using quorvanta::FieldInfo;
using quorvanta::FieldKind;
using quorvanta::StartupRecord;

constexpr const char* kUsage =
    "usage: quorvanta-record LAUNCHER [--FIELD VALUE]...\n"
    "Prints the startup record of LAUNCHER; with options, first writes the given fields into it.\n"
    "  --defined N             0 (not defined) or 1\n"
    "  --runtime-order LIST    runtimes to try, in order, separated by ',': java, jre, jview or a kind\n"
    "                          number 1..255 (at most 9; empty for none)\n"
    "  --min-java-version V    minimum Java version, e.g. 1.8 or 11\n"
    "  --main-class NAME       the application's main class\n"
    "  --class-path LIST       class-path elements separated by ';' (relative ones are taken from the\n"
    "                          launcher's folder)\n"
    "  --vm-options TEXT       options for the runtime, placed before the loader class\n"
    "  --download-url URL      where the dialogs send the user for a runtime\n"
    "  --app-name NAME         caption of the launcher's dialogs and messages\n"
    "  --reserved1 N, --reserved2 N\n";

void error(const std::string& text) { std::fprintf(stderr, "quorvanta-record: %s\n", text.c_str()); }

const char* kindName(uint8_t kind) {
  switch (kind) {
    case quorvanta::kJava:
      return "java.exe";
    case quorvanta::kJre:
      return "jre.exe";
    case quorvanta::kJview:
      return "jview.exe";
    default:
      return "unknown, skipped";
  }
}

std::optional<unsigned> parseNumber(std::string_view text, unsigned max) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<uint8_t> parseKind(std::string_view word) {
  for (uint8_t kind : {quorvanta::kJava, quorvanta::kJre, quorvanta::kJview}) {
    const std::string_view exe = kindName(kind);
    if (word == exe || word == exe.substr(0, exe.size() - 4)) return kind;
  }
  const std::optional<unsigned> n = parseNumber(word, 255);
  if (!n || *n == 0) return std::nullopt;
  return static_cast<uint8_t>(*n);
}

// Sets one field from its option's value; false after printing why not.
bool setField(StartupRecord& record, const FieldInfo& info, std::string_view value) {
  const std::string option = "--" + std::string(info.option);
  switch (info.kind) {
    case FieldKind::byte: {
      const std::optional<unsigned> n = parseNumber(value, 255);
      if (!n) {
        error(option + " expects a number from 0 to 255, not \"" + std::string(value) + "\"");
        return false;
      }
      return record.setByte(info.field, static_cast<uint8_t>(*n));
    }
    case FieldKind::kinds: {
      std::vector<uint8_t> kinds;
      size_t start = 0;
      while (!value.empty()) {
        const size_t end = std::min(value.find(',', start), value.size());
        const std::string_view word = value.substr(start, end - start);
        const std::optional<uint8_t> kind = parseKind(word);
        if (!kind) {
          error(option + ": \"" + std::string(word) + "\" is not a runtime (java, jre, jview or 1..255)");
          return false;
        }
        kinds.push_back(*kind);
        if (end == value.size()) break;
        start = end + 1;
      }
      if (!record.setRuntimeOrder(kinds)) {
        error(option + " holds at most " + std::to_string(info.width - 1) + " runtimes, not " +
              std::to_string(kinds.size()));
        return false;
      }
      return true;
    }
    case FieldKind::text:
      // The launcher puts these two between double quotes on the runtime's
      // command line, where a quote of their own would end the argument.
      if ((info.field == Field::minJavaVersion || info.field == Field::mainClass) &&
          value.find('"') != std::string_view::npos) {
        error(option + " cannot hold a double quote");
        return false;
      }
      if (value.find('\0') != std::string_view::npos || !record.setText(info.field, value)) {
        error(option + " holds at most " + std::to_string(info.width - 1) + " bytes; the value has " +
              std::to_string(value.size()));
        return false;
      }
      return true;
  }
  return false;
}

void printRecord(const StartupRecord& record, size_t offset) {
  std::printf("record at offset %zu\n", offset);
  for (const FieldInfo& info : quorvanta::recordFields()) {
    std::string value;
    switch (info.kind) {
      case FieldKind::byte:
        value = std::to_string(record.byteValue(info.field));
        break;
      case FieldKind::kinds:
        for (uint8_t kind : record.runtimeOrder()) {
          if (!value.empty()) value += ", ";
          value += std::to_string(kind) + " (" + kindName(kind) + ")";
        }
        break;
      case FieldKind::text:
        value = record.text(info.field);
        break;
    }
    if (value.empty())
      std::printf("%s\n", std::string(info.name).c_str());
    else
      std::printf("%-15s %s\n", std::string(info.name).c_str(), value.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string path = argv[1];

  std::vector<std::pair<const FieldInfo*, std::string_view>> changes;
  for (int i = 2; i < argc; i += 2) {
    const std::string_view option = argv[i];
    const FieldInfo* found = nullptr;
    for (const FieldInfo& info : quorvanta::recordFields())
      if (option.starts_with("--") && option.substr(2) == info.option) found = &info;
    if (!found) {
      error("unknown option " + std::string(option));
      std::fputs(kUsage, stderr);
      return 2;
    }
    changes.emplace_back(found, argv[i + 1]);
  }

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error("cannot open " + path);
    return 1;
  }
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  const std::vector<size_t> images = quorvanta::findRecordImages(file);
  if (images.size() != 1) {
    error(path + (images.empty() ? ": no startup record found (is it a launcher?)"
                                 : ": the record's signature occurs " + std::to_string(images.size()) +
                                       " times; cannot tell which one is the record"));
    return 1;
  }
  const size_t offset = images.front();
  StartupRecord record =
      quorvanta::recordFromResource(std::span(file).subspan(offset, quorvanta::kRecordResourceSize));

  if (!changes.empty()) {
    for (const auto& [info, value] : changes)
      if (!setField(record, *info, value)) return 1;
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset + quorvanta::kSignatureSize));
    out.write(reinterpret_cast<const char*>(record.bytes.data()), static_cast<std::streamsize>(record.bytes.size()));
    out.close();
    if (!out) {
      error("cannot write the record into " + path);
      return 1;
    }
  }
  printRecord(record, offset);
  return 0;
}
