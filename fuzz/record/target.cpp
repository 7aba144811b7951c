// The launcher's startup record read from arbitrary bytes, as a resource
// image of any size and as the record tool's search through a whole file,
// and every text the launcher builds from it. The quoting of the record's
// texts must split back to the same words.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "quorvanta/core/cmdline.h"
#include "quorvanta/core/launcher.h"
#include "quorvanta/core/record.h"

namespace {

void exercise(const quorvanta::StartupRecord& record) {
  using quorvanta::PathStyle;
  for (PathStyle style : {PathStyle::windows, PathStyle::posix}) {
    const std::string directory = style == PathStyle::windows ? R"(C:\Apps\Demo)" : "/opt/demo";
    std::string classPath = "inherited";
    quorvanta::appendPathElement(classPath, quorvanta::expandRecordClassPath(record.classPath(), directory, style), style);
    const quorvanta::CommandParts parts{record.vmOptions(), record.minJavaVersion(), record.mainClass(),
                                        directory + "\\KLO1234.TMP\\", classPath};
    for (uint8_t kind : record.runtimeOrder())
      (void)quorvanta::splitCommandLine(quorvanta::buildRuntimeCommand(parts, record.appName(), kind));
  }

  const std::vector<std::string> words{record.minJavaVersion(), record.mainClass(), record.classPath(),
                                       record.vmOptions(), record.downloadUrl(), record.appName()};
  std::vector<std::string> expected{"program"};
  expected.insert(expected.end(), words.begin(), words.end());
  if (quorvanta::splitCommandLine("program " + quorvanta::joinArguments(words)) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  exercise(quorvanta::recordFromResource(bytes));
  for (size_t at : quorvanta::findRecordImages(bytes))
    exercise(quorvanta::recordFromResource(bytes.subspan(at, quorvanta::kRecordResourceSize)));
  return 0;
}
