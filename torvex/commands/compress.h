// "-compress" and "-decompress": one whole file into its FB form and back.
#pragma once

namespace torvex {

// Each returns the exit status: kExitOk when the destination was written,
// kExitFailed after printing why not (fatal errors throw as usual).
// `destination` may be null: the source is still read and converted, then
// the command says it cannot open the destination for writing.
int compressfile(const char* source, const char* destination);
int decompressfile(const char* source, const char* destination);

}  // namespace torvex
