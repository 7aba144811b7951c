// SHPI picture containers: the decoding and encoding of pixels and palettes,
// pictures reached through the directory, their extraction as picture files,
// and the writer of whole SHPI files. The layout itself (headers, directory,
// picture types) is the pack library's (torvex/pack/shpidir.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "torvex/fbcomp/fb.h"
#include "torvex/image/image.h"
#include "torvex/pack/packentry.h"
#include "torvex/pack/shpidir.h"
#include "torvex/platform/platform.h"

namespace torvex {

// ---- Palettes -----------------------------------------------------------------

// Decodes a palette record into `palette`: entry start + i from the record's
// entry i, for as many entries as the record claims and holds and no further
// than index 255. Returns 4 x the entries written (0 for an unknown type or
// a record shorter than its header).
int32_t decodepalette(std::span<const uint8_t> record, Palette& palette);

// Writes palette entries back into a palette record in the record's own
// type: record entry i gets palette entry start + i, the mirror of
// decodepalette, for the record's count and no more than the record holds.
// Types without an encoding keep their entries.
void encodepalette(std::span<uint8_t> record, const Palette& palette);

// The palette that the first indexed picture of the run found. It fills once
// and is then kept; later pictures without a palette of their own show it.
struct ShpiPaletteCache {
  Palette entries{};
  bool filled = false;
};
ShpiPaletteCache& shpipalettecache();
void resetshpipalettecache();  // tests

// ---- Pixels ---------------------------------------------------------------------

// The record's pixels (without header) encoded from `image` in picture type
// `type` (bits 0-6 count); a null Block when the type is no picture or the
// image lacks the plane that the type needs. Size: shpipixelsize.
Block encodepixels(int type, const Image& image);

// Looks for a palette in the directory of the record being decoded; returns
// decodepalette's byte count (0: none found).
using ShpiPaletteFinder = std::function<int32_t(Palette& palette)>;

// Decodes one picture record held in memory into `picture` (whose planes are
// released first). Pixel data behind a type byte with bit 7 set is expanded
// when it carries an FB header. The palette of an indexed picture comes from
// its attachment, else from `find` (may be empty), else from the run's cache
// or a grey ramp. Returns 1, or 0 when the record is no picture or holds
// fewer bytes than its header claims.
int16_t decodepicture(std::span<const uint8_t> record, ShpiPicture& picture, const ShpiPaletteFinder& find);

// ---- Pictures reached through the directory -------------------------------------

// Decodes the record that `entry` stands for from its content, with the
// palette search among its neighbours. 1 on success, 0 when the entry is no
// decodable picture (the ORIP whole-file entry is none either).
int16_t loadpicture(const PackEntry& entry, std::span<const uint8_t> content, ShpiPicture& picture);

// Searches the directory that `entry` belongs to for a palette record
// ("!pal", then "!" + the picture's last three characters, then a small
// "!" record, then "pal...", then a small "????") and decodes it into
// `palette`; the byte count, 0 when none is found.
int32_t findpalette(const PackEntry& entry, Palette& palette);

// findpalette for the record that `entry` stands for, as decodepicture asks.
ShpiPaletteFinder paletteof(const PackEntry& entry);

// The palette record that findpalette decodes, as it is stored (the
// attachment alone where a picture record carries it), so that its own
// start index and entry count travel with it; a null Block when the
// directory has none.
Block findpaletterecord(const PackEntry& entry);
using ShpiPaletteRecordFinder = std::function<Block()>;
ShpiPaletteRecordFinder paletterecordof(const PackEntry& entry);

// The picture half of extraction: decodes a picture member's content and
// saves it as a picture file named after the member, in save format
// `format` (the picture formats' numbers). A writer that refuses the
// picture says why in `refusal`.
struct PictureSave {
  enum Status { kSaved, kNotAPicture, kWriteFailed, kRefused } status = kSaved;
  std::string refusal;
};
PictureSave savepicture(const PackEntry& member, std::span<const uint8_t> content, int format);

// ---- Writer ------------------------------------------------------------------------

// One record handed to writeshpi; the bytes stay the caller's.
struct ShpiMember {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  char name[5] = {};
};

// The complete file image of an SHPI file holding `members` in list order
// (a member named "????" gets no directory entry). A null Block when the
// total does not fit the header's size field and our buffers; `total` tells
// how large it would be.
Block layoutshpi(std::span<const ShpiMember> members, std::string_view directory_id, int64_t* total = nullptr);

// How writing an SHPI file went. Whatever failed, an earlier file at the
// path is as it was, and nothing half-written is left.
struct ShpiWrite {
  enum Status { kWritten, kTooLarge, kCompressionFailed, kCantCreate, kWriteFailed };
  Status status = kWritten;
  int64_t total = 0;         // kTooLarge: the size the file would have
  FbCompressed compression;  // kCompressionFailed: why
};

// Lays out the file, compresses it when asked and writes it to `path`
// through a file beside it that takes its place when complete. `progress`
// hears the real encoder at work.
ShpiWrite writeshpi(std::span<const ShpiMember> members, std::string_view directory_id, const char* path,
                    bool compress, const FbProgressFn& progress = {});

}  // namespace torvex
