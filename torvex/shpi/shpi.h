// SHPI picture containers: the record layout, the picture type table, the
// decoding and encoding of pixels and palettes, the directory reader and the
// writer of whole SHPI files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "torvex/image/image.h"
#include "torvex/pack/packentry.h"
#include "torvex/platform/platform.h"

namespace torvex {

// Every record starts with a 16-byte header: type byte, 24-bit attachment
// offset, width, height and four further 16-bit values.
constexpr int kShpiRecordHeader = 16;
// A file header (16 bytes) followed by 8 bytes per directory entry.
constexpr int kShpiFileHeader = 16;
constexpr int kShpiDirEntry = 8;

// ---- Picture type table ------------------------------------------------------

struct ShpiType {
  uint8_t code;        // bits 0-6 of the type byte
  int16_t pixelBytes;  // bytes per pixel as the table counts them (1 for 0x40)
  bool indexed;        // pixels are palette indices
};

// The row for bits 0-6 of `code`, or null when the code is no picture.
const ShpiType* shpitype(int code);

// Bytes that the pixels of a width x height picture of this type take; 0x40
// packs two pixels to a byte and rounds up, so an odd pixel count keeps its
// last pixel.
int64_t shpipixelsize(const ShpiType& type, int width, int height);

// The attachment offset of a record header (bytes 1-3) read as signed 24-bit.
int32_t shpiattachment(std::span<const uint8_t> record);

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

// ---- Directory side (records reached through PackEntry) -------------------------

// Directory ids whose records are pictures to be converted when extracted;
// the records of other files are plain data.
bool shpipictureid(std::string_view directory_id);

// The SHP row of the pack recognition table: reads the SHPI directory of
// `container` into a new directory array, in stored order. A "????" entry
// covers bytes between the directory and the first record. Null (position
// put back) when the content is shorter than the header.
std::unique_ptr<DirArray> scanshpi(PackEntry& container);

// Decodes the SHPI record that `entry` stands for. 1 on success, 0 when the
// entry is no decodable picture.
int16_t loadpicture(PackEntry* entry, ShpiPicture& picture);

// Searches the directory that `entry` belongs to for a palette record
// ("!pal", then "!" + the picture's last three characters, then a small
// "!" record, then "pal...", then a small "????") and decodes it into
// `palette`; the byte count, 0 when none is found.
int32_t findpalette(const PackEntry& entry, Palette& palette);

// findpalette for the record that `entry` stands for, as decodepicture asks.
ShpiPaletteFinder paletteof(const PackEntry& entry);

// The picture half of extraction (a PictureSaver): decodes the member's
// content and saves it as a picture file named after the member. Fatal
// when the record is no picture or the file cannot be written.
int16_t savepicture(const PackEntry& member, std::span<const uint8_t> content, int format);

// ---- Writer ------------------------------------------------------------------------

// One record handed to writeshpi; the bytes stay the caller's.
struct ShpiMember {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  char name[5] = {};
};

// The complete file image of an SHPI file holding `members` in list order
// (a member named "????" gets no directory entry). Fatal when the total
// does not fit the header's 32-bit size field.
Block layoutshpi(std::span<const ShpiMember> members, std::string_view directory_id);

// Lays out the file, compresses it when asked, writes it to `path` and says
// so, naming it `shown` (null: `path`) in its messages. A file that cannot be
// created or written is fatal; an earlier file at `path` stays as it was then.
void writeshpi(std::span<const ShpiMember> members, std::string_view directory_id, const char* path, bool compress,
               const char* shown = nullptr);

}  // namespace torvex
