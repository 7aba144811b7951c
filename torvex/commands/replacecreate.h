// "-r", "-rp" and the "-c" family: pictures and data files put into an SHPI
// file in place of its records, written back where the file was (into its
// pack when it lives in one) or as a new file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "torvex/image/image.h"
#include "torvex/pack/packentry.h"

namespace torvex {

// Reads the input pairs (file, SHPI name [, template name]) against the
// existing directory, saying what each is; every argument problem is fatal
// before anything is written.
std::vector<Image> readshpiinputs(std::span<const std::string> texts, DirArray& directory);

// The rebuild driver: `list` is the existing file's path, then (when
// `output` is null) the output name, then the inputs. `options` are the
// rebuild's option bits (kShpiCompress, kShpiNewPalette), `transparency`
// kShpiTransparency or 0. The messages call the output `shown` (null: the
// output's own name). 1 when the file was written, 0 when the existing file
// could not be opened (after printing why).
int16_t createshpi(std::span<const std::string> list, std::string_view base, int options, const char* output,
                   std::span<const uint8_t> user_palette, int transparency, const char* shown = nullptr);

// "-r" (new_palette false) and "-rp": rebuilds the SHPI file named by the
// list's first text and puts it back. The exit status.
int replaceshpi(std::span<const std::string> list, bool new_palette, std::span<const uint8_t> user_palette,
                int transparency);

}  // namespace torvex
