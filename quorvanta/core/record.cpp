#include "quorvanta/core/record.h"

#include <algorithm>
#include <cstring>

#include "quorvanta/core/backend.h"

namespace quorvanta {

namespace {

constexpr FieldInfo kFields[] = {
    {Field::defined, "defined", "defined", 0, 1, FieldKind::byte},
    {Field::runtimeOrder, "runtimeOrder", "runtime-order", 1, 10, FieldKind::kinds},
    {Field::minJavaVersion, "minJavaVersion", "min-java-version", 11, 16, FieldKind::text},
    {Field::mainClass, "mainClass", "main-class", 27, 255, FieldKind::text},
    {Field::classPath, "classPath", "class-path", 282, 512, FieldKind::text},
    {Field::vmOptions, "vmOptions", "vm-options", 794, 128, FieldKind::text},
    {Field::reserved1, "reserved1", "reserved1", 922, 1, FieldKind::byte},
    {Field::reserved2, "reserved2", "reserved2", 923, 1, FieldKind::byte},
    {Field::downloadUrl, "downloadUrl", "download-url", 924, 255, FieldKind::text},
    {Field::appName, "appName", "app-name", 1179, 255, FieldKind::text},
};
static_assert(kFields[9].offset + kFields[9].width == kRecordSize);

// The signature XORed with a key read through a volatile, so that no
// compiler can fold it back into a plain copy of the signature in the
// launcher's code or data.
constexpr uint8_t kScrambledSignature[kSignatureSize] = {
    'K' ^ 0x5A, 'L' ^ 0x5A, 'O' ^ 0x5A, 'V' ^ 0x5A, '_' ^ 0x5A, 'D' ^ 0x5A, 'A' ^ 0x5A,
    'T' ^ 0x5A, 'A' ^ 0x5A, '_' ^ 0x5A, 'S' ^ 0x5A, 'I' ^ 0x5A, 'G' ^ 0x5A, 'N' ^ 0x5A,
};
volatile uint8_t signatureKey = 0x5A;

}  // namespace

std::array<uint8_t, kSignatureSize> recordSignature() {
  std::array<uint8_t, kSignatureSize> out{};
  const uint8_t key = signatureKey;
  for (size_t i = 0; i < kSignatureSize; ++i) out[i] = static_cast<uint8_t>(kScrambledSignature[i] ^ key);
  return out;
}

std::span<const FieldInfo> recordFields() { return kFields; }

const FieldInfo& fieldInfo(Field field) { return kFields[static_cast<size_t>(field)]; }

std::string StartupRecord::text(Field field) const {
  const FieldInfo& f = fieldInfo(field);
  const auto begin = bytes.begin() + static_cast<ptrdiff_t>(f.offset);
  const auto end = begin + static_cast<ptrdiff_t>(f.width);
  return std::string(begin, std::find(begin, end, uint8_t{0}));
}

uint8_t StartupRecord::byteValue(Field field) const { return bytes[fieldInfo(field).offset]; }

std::vector<uint8_t> StartupRecord::runtimeOrder() const {
  const FieldInfo& f = fieldInfo(Field::runtimeOrder);
  const auto begin = bytes.begin() + static_cast<ptrdiff_t>(f.offset);
  const auto end = begin + static_cast<ptrdiff_t>(f.width);
  return std::vector<uint8_t>(begin, std::find(begin, end, uint8_t{0}));
}

bool StartupRecord::setText(Field field, std::string_view value) {
  const FieldInfo& f = fieldInfo(field);
  if (f.kind != FieldKind::text || value.size() >= f.width || value.find('\0') != std::string_view::npos) return false;
  uint8_t* out = bytes.data() + f.offset;
  std::memset(out, 0, f.width);
  std::memcpy(out, value.data(), value.size());
  return true;
}

bool StartupRecord::setByte(Field field, uint8_t value) {
  const FieldInfo& f = fieldInfo(field);
  if (f.kind != FieldKind::byte) return false;
  bytes[f.offset] = value;
  return true;
}

bool StartupRecord::setRuntimeOrder(std::span<const uint8_t> kinds) {
  const FieldInfo& f = fieldInfo(Field::runtimeOrder);
  if (kinds.size() >= f.width || std::find(kinds.begin(), kinds.end(), uint8_t{0}) != kinds.end()) return false;
  uint8_t* out = bytes.data() + f.offset;
  std::memset(out, 0, f.width);
  std::copy(kinds.begin(), kinds.end(), out);
  return true;
}

bool loadRcdata(Backend& backend, uint16_t id, std::span<uint8_t> destination) {
  const std::optional<std::span<const uint8_t>> resource = backend.findResource(id);
  if (!resource) return false;
  if (resource->size() > destination.size()) {
    backend.setFailure(Failure::tooLarge);
    return false;
  }
  std::copy(resource->begin(), resource->end(), destination.begin());
  return true;
}

bool readStartupRecord(Backend& backend, StartupRecord& record) {
  std::array<uint8_t, kRecordResourceSize> buffer{};
  const bool loaded = loadRcdata(backend, kRecordResourceId, buffer);
  record = recordFromResource(buffer);
  return loaded;
}

StartupRecord recordFromResource(std::span<const uint8_t> resource) {
  StartupRecord record;
  if (resource.size() > kSignatureSize) {
    const size_t n = std::min(resource.size() - kSignatureSize, kRecordSize);
    std::copy_n(resource.begin() + kSignatureSize, n, record.bytes.begin());
  }
  return record;
}

std::vector<size_t> findRecordImages(std::span<const uint8_t> file) {
  std::vector<size_t> found;
  if (file.size() < kRecordResourceSize) return found;
  const auto signature = recordSignature();
  const auto last = file.begin() + static_cast<ptrdiff_t>(file.size() - kRecordResourceSize + kSignatureSize);
  for (auto it = file.begin(); (it = std::search(it, last, signature.begin(), signature.end())) != last; ++it)
    found.push_back(static_cast<size_t>(it - file.begin()));
  return found;
}

}  // namespace quorvanta
