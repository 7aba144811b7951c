// The launcher's startup record: 1434 bytes of fixed-width fields, kept in
// the executable's resource 2000 behind a 14-byte signature. The signature
// is only there so that tools can find the record inside a built
// executable; the launcher skips it without comparing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvanta {

class Backend;

inline constexpr size_t kSignatureSize = 14;
inline constexpr size_t kRecordSize = 1434;
inline constexpr size_t kRecordResourceSize = kSignatureSize + kRecordSize;  // 1448
inline constexpr uint16_t kRecordResourceId = 2000;
inline constexpr uint16_t kJarResourceId = 1000;

// The signature as bytes. Deliberately not a string literal anywhere in
// the launcher: the record tool must find exactly one copy of it in a
// built executable, the one in front of the record.
std::array<uint8_t, kSignatureSize> recordSignature();

enum class Field {
  defined,
  runtimeOrder,
  minJavaVersion,
  mainClass,
  classPath,
  vmOptions,
  reserved1,
  reserved2,
  downloadUrl,
  appName,
};

enum class FieldKind {
  byte,   // one number 0..255
  kinds,  // RuntimeKind bytes ended by the first 0
  text,   // single-byte text, NUL-terminated inside the width
};

struct FieldInfo {
  Field field;
  std::string_view name;    // as in the record's description
  std::string_view option;  // the record tool's option
  size_t offset;            // within the record (add 14 for the resource)
  size_t width;
  FieldKind kind;
};

// Every field in record order.
std::span<const FieldInfo> recordFields();
const FieldInfo& fieldInfo(Field field);

// RuntimeKind codes; any other code gives an empty command.
enum RuntimeKind : uint8_t { kJava = 1, kJre = 2, kJview = 3 };

struct StartupRecord {
  std::array<uint8_t, kRecordSize> bytes{};

  // A field's value, bounded by its width: a text without terminator inside
  // its width (outside the format) is cut at the width, never read past it.
  std::string text(Field field) const;
  uint8_t byteValue(Field field) const;
  // The kinds up to the first 0 byte (at most 10 when none is 0).
  std::vector<uint8_t> runtimeOrder() const;

  bool defined() const { return byteValue(Field::defined) != 0; }
  std::string minJavaVersion() const { return text(Field::minJavaVersion); }
  std::string mainClass() const { return text(Field::mainClass); }
  std::string classPath() const { return text(Field::classPath); }
  std::string vmOptions() const { return text(Field::vmOptions); }
  std::string downloadUrl() const { return text(Field::downloadUrl); }
  std::string appName() const { return text(Field::appName); }

  // Writers for the record tool. A text must leave room for its
  // terminator and hold no NUL; the kinds need a 0 byte after them; the
  // bytes after a terminator are cleared. They return false, changing
  // nothing, when the value does not fit.
  bool setText(Field field, std::string_view value);
  bool setByte(Field field, uint8_t value);
  bool setRuntimeOrder(std::span<const uint8_t> kinds);
};

// Finds resource `id` of the launcher's own executable and copies all of it
// to `destination` when it fits. False, with the backend's last error set,
// when the resource is missing or larger than `destination`. A shorter
// resource leaves the rest of `destination` as it was.
bool loadRcdata(Backend& backend, uint16_t id, std::span<uint8_t> destination);

// Fills `record` from resource 2000, skipping its first 14 bytes. The
// record is cleared first, so a short resource leaves zeros behind it.
bool readStartupRecord(Backend& backend, StartupRecord& record);

// The record from a 1448-byte resource image (signature not compared).
StartupRecord recordFromResource(std::span<const uint8_t> resource);

// Offsets of every copy of the signature in `file` that has a whole
// resource image (1448 bytes) behind its start.
std::vector<size_t> findRecordImages(std::span<const uint8_t> file);

}  // namespace quorvanta
