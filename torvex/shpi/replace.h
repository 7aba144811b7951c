// Rebuilding SHPI files: "-r"/"-rp" put a rebuilt file back where the old
// one was (into its pack when it lives in one), the "-c" family writes a
// new file. The heart is the rebuilding of one picture record in the
// replaced record's own pixel type, with the new colours fitted to the
// palette the game will use.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shpi.h"
#include "torvex/image/image.h"
#include "torvex/pack/packentry.h"

namespace torvex {

// Option bits of the rebuild.
constexpr int kShpiCompress = 1;      // write the new SHPI file FB-compressed
constexpr int kShpiNewPalette = 2;    // the new picture's own palette goes into the record
constexpr int kShpiTransparency = 4;  // the border colour stays the transparent one

// The colour that surrounds a picture: the lowest index that fills more than
// two thirds of the border samples (top and bottom rows, left and right
// columns, corners twice), else 0.
int borderindex(std::span<const uint8_t> indices, int width, int height);

// Fits the indices of a new indexed picture to the palette record
// `reference` (in place), and writes the palette the game will use back into
// `reference`. `own` is the new picture's palette, `u` the border index of the
// picture being replaced.
void fitpalette(std::span<uint8_t> indices, int width, int height, Palette& own, std::span<uint8_t> reference,
                int u, int options);

// The record that replaces template record `record` by picture `image`, in
// the template's pixel type. `find` looks for the directory's palette;
// `user_palette` is the "-pal" record (empty when none was given). A null
// Block when the template is no picture record.
Block rebuildrecord(std::span<const uint8_t> record, const Image& image, int options, const ShpiPaletteFinder& find,
                    std::span<const uint8_t> user_palette);

// The new member for directory entry `entry` from input `input`.
Block replacerecord(PackEntry& entry, const Image& input, int options, std::span<const uint8_t> user_palette);

// Reads the input pairs (file, SHPI name [, template name]) against the
// existing directory; every argument problem is fatal before anything is
// written.
std::vector<Image> readshpiinputs(std::span<const std::string> texts, DirArray& directory);

// Builds the new SHPI file from the existing directory and the inputs and
// writes it to `output`; the messages call it `shown`.
void rebuildshpi(DirArray& directory, std::vector<Image>& inputs, const std::string& output, int options,
                 std::span<const uint8_t> user_palette, const std::string& shown);

// The rebuild driver: `list` is the existing file's path, then (when
// `output` is null) the output name, then the inputs. 1 when the file was
// written, 0 when the existing file could not be opened.
int16_t createshpi(std::span<const std::string> list, std::string_view base, int options, const char* output,
                   std::span<const uint8_t> user_palette, int transparency);
// The same, naming the output `shown` in its messages (null: `output`).
int16_t createshpi(std::span<const std::string> list, std::string_view base, int options, const char* output,
                   std::span<const uint8_t> user_palette, int transparency, const char* shown);

// "-r" (new_palette false) and "-rp": rebuilds the SHPI file named by the
// list's first text and puts it back. 0 done, 1 failed.
int replaceshpi(std::span<const std::string> list, bool new_palette, std::span<const uint8_t> user_palette,
                int transparency);

}  // namespace torvex
