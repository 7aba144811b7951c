// SHPI picture containers seen as a pack: the file header and directory,
// the 16-byte record header, and the table of picture types that the
// directory reader, the pixel codecs and the rebuild commands share.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "packentry.h"

namespace torvex {

// Every record starts with a 16-byte header: type byte, 24-bit attachment
// offset, width, height and four further 16-bit values.
constexpr int kShpiRecordHeader = 16;
// A file header (16 bytes: "SHPI", total size, entry count, directory id)
// followed by 8 bytes per directory entry (name, offset).
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

// ---- The directory -------------------------------------------------------------

// "SHP": only three bytes are compared, so SHPX and the like count as well.
bool isshpi(const Probe& probe);

// Directory ids whose records are pictures to be converted when extracted;
// the records of other files are plain data.
bool shpipictureid(std::string_view directory_id);

// The SHP row of the recognition table: reads the SHPI directory of
// `container` into a new directory array, in stored order. A "????" entry
// covers bytes between the directory and the first record. Null (position
// put back) when the content is shorter than the header.
std::unique_ptr<DirArray> scanshpi(PackEntry& container);

// The directory id of an SHPI file (bytes 12-15 of its header), or four
// zero bytes when its content does not open or holds no header.
std::string shpidirectoryid(PackEntry& file);

}  // namespace torvex
