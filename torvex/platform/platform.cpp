// The parts of the services table that are the same on every host: the
// guarded allocator, the console texts and the helpers built on the table.
#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files.h"
#include "text.h"

namespace torvex {

namespace {

constexpr uint32_t kGuardWord = 0x44891701;
constexpr size_t kHeaderBytes = 8;  // the requested size, then the guard word

PlatformServices table{};

}  // namespace

PlatformServices& services() { return table; }

// ---- Formatting ---------------------------------------------------------------

std::string vformat(const char* fmt, va_list args) {
  va_list probe;
  va_copy(probe, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, probe);
  va_end(probe);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = vformat(fmt, args);
  va_end(args);
  return out;
}

std::string collapsepercent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return out;
}

// ---- Calls through the table ------------------------------------------------------

void fatal(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  table.fatal(fmt, args);
  va_end(args);
  std::abort();  // an installed fatal never returns
}

void message(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  table.message(fmt, args);
  va_end(args);
}

void report(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = vformat(fmt, args);
  va_end(args);
  // message() would format the text once more without arguments; only the
  // "%%" pairs change in that pass, so collapse them here and hand on a
  // text that can no longer be taken for a format.
  message("%s", collapsepercent(text).c_str());
}

// ---- Host-independent operations ---------------------------------------------------

namespace common {

void fatal(const char* fmt, va_list args) {
  const std::string text = vformat(fmt, args);
  table.consolewrite("***********\n");
  table.consolewrite("Fatal Error\n");
  table.consolewrite("***********\n");
  table.consolewrite("-- " + text + "\n");
  throw FatalError{text};
}

void message(const char* fmt, va_list args) {
  table.consolewrite(collapsepercent(vformat(fmt, args)));
}

void consolewrite(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void* stampblock(void* base, int32_t size) {
  if (!base) torvex::fatal("couldn't allocate %d bytes", size);
  auto* bytes = static_cast<uint8_t*>(base);
  const uint32_t count = static_cast<uint32_t>(size);
  std::memcpy(bytes, &count, 4);
  std::memcpy(bytes + 4, &kGuardWord, 4);
  return bytes + kHeaderBytes;
}

void* blockbase(void* pointer, uint32_t& size) {
  uint8_t* base = static_cast<uint8_t*>(pointer) - kHeaderBytes;
  uint32_t guard;
  std::memcpy(&guard, base + 4, 4);
  if (guard != kGuardWord)
    torvex::fatal("freemem (memory not allocated or corrupted) %08X",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer)));
  std::memcpy(&size, base, 4);
  return base;
}

void* allocmem(int32_t size) {
  return stampblock(size < 0 ? nullptr : std::calloc(1, static_cast<size_t>(size) + kHeaderBytes), size);
}

void freemem(void* pointer) {
  if (!pointer) return;
  uint32_t size;
  std::free(blockbase(pointer, size));
}

}  // namespace common

// ---- Owning helpers ---------------------------------------------------------------

Block allocblock(int32_t size) {
  Block b;
  b.data.reset(static_cast<uint8_t*>(allocmem(size)));
  b.size = size;
  return b;
}

Block copyblock(std::span<const uint8_t> bytes) {
  Block b = allocblock(static_cast<int32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(b.get(), bytes.data(), bytes.size());
  return b;
}

bool File::writeall(std::span<const uint8_t> bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 30);
    const uint32_t n = write(bytes.data() + done, static_cast<uint32_t>(chunk));
    if (n == 0) return false;
    done += n;
  }
  return true;
}

Block loadfile(const char* name) {
  WholeFile file = readwholefile(name);
  if (file.status == WholeFile::kTooLarge) fatal("%s", toolargetext(name, file.size, kMaxBlock).c_str());
  if (file.status == WholeFile::kCantOpen || file.size == 0) return {};
  return std::move(file.bytes);  // a short read keeps what it got
}

// ---- Version record ----------------------------------------------------------------

namespace {

// Three strings one after another, as the program has always carried them:
// version, build time, build date.
constexpr char kVersionRecord[] = "$VER:1:0.56\0" "2:21:54:31\0" "3:Nov 16 2001";

const char* versionstring(int index) {
  const char* p = kVersionRecord;
  for (int i = 0; i < index; ++i) p += std::strlen(p) + 1;
  return p;
}

}  // namespace

const char* versiontext() { return versionstring(0) + 7; }

const char* builddate(int* day_out, int* month_out, int* year_out) {
  static std::string text;
  static constexpr const char* kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  const char* p = versionstring(2);
  if (*p == '3') ++p;
  if (*p == ':') ++p;
  while (*p == ' ') ++p;
  int month = -1;
  for (int m = 0; m < 12 && std::strlen(p) >= 3; ++m) {
    if (nameequal(std::string_view(p, 3), kMonths[m])) {
      month = m + 1;
      break;
    }
  }
  while (*p && *p != ' ') ++p;
  char* end = nullptr;
  const long day = std::strtol(p, &end, 10);
  const long year = std::strtol(end, nullptr, 10);
  text = format("%02d.%02d.%d", static_cast<int>(day), month, static_cast<int>(year));
  if (day_out) *day_out = static_cast<int>(day);
  if (month_out) *month_out = month;
  if (year_out) *year_out = static_cast<int>(year);
  return text.c_str();
}

}  // namespace torvex
