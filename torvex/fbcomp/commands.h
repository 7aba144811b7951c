// The "-compress" and "-decompress" commands. Each returns the exit status:
// 0 when the destination was written, 1 after printing why not. Fatal errors
// (no FB header, a size the store encoder cannot take) throw as usual.
#pragma once

namespace torvex {

// `destination` may be null: the source is still read and converted, then
// the command says it cannot open the destination for writing.
int compressfile(const char* source, const char* destination);
int decompressfile(const char* source, const char* destination);

}  // namespace torvex
