#!/usr/bin/env python3
"""Writes the C++ table of resources linked into the POSIX launcher, the
counterpart of the resource section of the Windows executable: each
resource's bytes verbatim, so the record can be found and rewritten in the
built file.

Usage: embed.py OUTPUT.cpp ID=FILE...
"""
import sys


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out = ["// Written by quorvanta/resources/embed.py at build time.",
           '#include "quorvanta/backend/embedded.h"', "", "namespace quorvanta {", "", "namespace {", "",
           "// Not const: the debug information of a constant array repeats its",
           "// bytes, and the record's signature must occur only once in the file.", ""]
    rows = []
    for arg in sys.argv[2:]:
        ident, path = arg.split("=", 1)
        with open(path, "rb") as f:
            data = f.read()
        out.append(f"uint8_t resource{ident}[{len(data)}] = {{")
        for i in range(0, len(data), 20):
            out.append("    " + ", ".join(str(b) for b in data[i:i + 20]) + ",")
        out.append("};")
        out.append("")
        rows.append(f"    {{{ident}, resource{ident}, sizeof resource{ident}}},")
    out += ["}  // namespace", "", "const EmbeddedResource kEmbeddedResources[] = {"] + rows + ["};",
            "const size_t kEmbeddedResourceCount = sizeof kEmbeddedResources / sizeof kEmbeddedResources[0];", "",
            "}  // namespace quorvanta", ""]
    with open(sys.argv[1], "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
