#include "files.h"

namespace torvex {

WholeFile readwholefile(const char* name, int64_t limit) {
  WholeFile out;
  File f(name, 0);
  if (!f) return out;
  out.size = f.size();
  if (out.size > limit) {
    out.status = WholeFile::kTooLarge;
    return out;
  }
  out.bytes = allocblock(static_cast<int32_t>(out.size));
  const uint32_t got = f.read(out.bytes.get(), static_cast<uint32_t>(out.size));
  out.bytes.size = static_cast<int32_t>(got);
  out.status = got == static_cast<uint32_t>(out.size) ? WholeFile::kRead : WholeFile::kShortRead;
  return out;
}

std::string sizetext(int64_t size) {
  // The services cannot tell sizes past 32 bits apart: they report this one.
  constexpr int64_t kPast32Bits = 0xFFFFFFFF;
  if (size >= kPast32Bits) return "4 GiB or more";
  return format("%lld bytes", static_cast<long long>(size));
}

std::string toolargetext(const char* name, int64_t size, int64_t limit) {
  return format("file '%s' is too large (%s, at most %lld can be read)", name, sizetext(size).c_str(),
                static_cast<long long>(limit));
}

ReplacingFile::~ReplacingFile() {
  if (placed_ || name_.empty()) return;
  file_.close();
  filedelete(name_.c_str());
}

bool ReplacingFile::create(const std::function<std::string(int attempt)>& nameof, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    std::string name = nameof(attempt);
    file_ = File(filecreateexclusive(name.c_str()));
    if (file_) {
      name_ = std::move(name);
      return true;
    }
    // Something of that name is there: leave it alone and try the next name.
    if (!fileexists(name.c_str()) && !folderexists(name.c_str())) break;
  }
  return false;
}

bool ReplacingFile::write(std::span<const uint8_t> bytes) { return file_.writeall(bytes); }

ReplacingFile::Commit ReplacingFile::commit(const char* target, NameMatch match) {
  if (!fileflush(file_.get())) return Commit::kFlushFailed;
  file_.close();
  if (!filereplace(name_.c_str(), target, match)) return Commit::kRenameFailed;
  placed_ = true;
  return Commit::kDone;
}

FileWrite writefile(const char* name, std::span<const uint8_t> bytes, NameMatch match) {
  // A folder of that name is never replaced.
  if (folderexists(name)) return FileWrite::kCantCreate;
  ReplacingFile replacement;
  constexpr int kNames = 100;
  if (!replacement.create([name](int attempt) { return format("%s.%d.tmp", name, attempt); }, kNames))
    return FileWrite::kCantCreate;
  if (!replacement.write(bytes) || replacement.commit(name, match) != ReplacingFile::Commit::kDone)
    return FileWrite::kWriteFailed;
  return FileWrite::kWritten;
}

}  // namespace torvex
