// Rebuilding SHPI files: the records of an existing file copied, replaced or
// joined by new ones, each new picture rebuilt in the pixel type of the
// record it replaces, with its colours fitted to the palette the game will
// use. The replace and create commands (torvex/commands) read the inputs,
// drive the rebuild and write the result.
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

// What the rebuild of a record has to say along the way.
struct RecordNote {
  enum Kind {
    kSizeMismatch,     // the new picture's size differs from the old one's
    kNoPalette,        // the directory has no palette to fit the picture to
    kExternalPalette,  // the "-pal" record is used
    kNoOwnPalette,     // a new palette was asked for, but the record has no attachment to hold it
    kNewPalette,       // the new picture's palette goes into the record
    kRemapping,        // the palettes differ: the picture is fitted to the game's
    kFewerColours,     // the picture has more colours than the record's pixels can name: quantized
  };
  explicit RecordNote(Kind what) : kind(what) {}

  Kind kind;
  int oldwidth = 0, oldheight = 0;  // kSizeMismatch
  int width = 0, height = 0;
  std::string name;                 // kNoOwnPalette, kFewerColours: the picture's SHPI name
  int colours = 0;                  // kFewerColours: how many the record can name
};

// The rebuild's report of its progress, in the order things happen. The
// commands layer prints it.
class RebuildEvents {
 public:
  virtual ~RebuildEvents() = default;
  virtual void note(const RecordNote& /*note*/) {}
  // A record is rebuilt from `input`, in its template's place: under the
  // template's own name (replacing) or under a new one (adding).
  virtual void replacing(const Image& /*input*/) {}
  virtual void adding(const Image& /*input*/) {}
  // A record is copied as it is.
  virtual void copying(const PackEntry& /*entry*/) {}
};

// Fits the indices of a new indexed picture to the palette record
// `reference` (in place), and writes the palette the game will use back into
// `reference`. `own` is the new picture's palette, `oldborder` the border
// index of the picture being replaced, `storable` how many indices the
// record's pixels can hold (16 for 4-bit pictures). Only the entries that
// the record holds, and the record's pixels can name, are chosen.
void fitpalette(std::span<uint8_t> indices, int width, int height, Palette& own, std::span<uint8_t> reference,
                int oldborder, int options, RebuildEvents& events, int storable = 256);

// A rebuilt record, or why there is none.
struct RecordRebuild {
  enum Status {
    kRebuilt,
    kNoPictureRecord,  // the template is no picture record
    kTooLargeForAttachment,  // the attachment offset would not fit its 24-bit field
    kTooLarge,         // the record would be larger than our buffers
    kCantEncode,       // the picture lacks the plane the type needs
  };
  Status status = kRebuilt;
  Block bytes;
  int type = 0;  // the template's picture type (bits 0-6)
};

// The record that replaces template record `record` by picture `image`, in
// the template's pixel type. `find` looks for the directory's palette
// record; `user_palette` is the "-pal" record (empty when none was given).
// A picture with more colours than a 4-bit record can name is quantized to
// 15 colours and the transparent index 0.
RecordRebuild rebuildrecord(std::span<const uint8_t> record, const Image& image, int options,
                            const ShpiPaletteRecordFinder& find, std::span<const uint8_t> user_palette,
                            RebuildEvents& events);

// A rebuilt SHPI file's records, or why there are none.
struct ShpiRebuild {
  enum Status { kRebuilt, kUnreadable, kRecordFailed };
  Status status = kRebuilt;
  std::string failed;       // kUnreadable, kRecordFailed: the record's name
  const Image* input = nullptr;  // kRecordFailed: the picture that could not take its place
  RecordRebuild record;     // kRecordFailed: why
  std::vector<Block> held;  // the members' bytes
  std::vector<ShpiMember> members;  // pointing into `held`
  int copied = 0, replaced = 0, added = 0;
};

// Rebuilds the SHPI file whose directory is `directory` (in stored order):
// every record that some input names as its template is rebuilt from that
// input (several inputs may name one template), every other record is
// copied. An input whose name differs from its template's is added in the
// template's place, and the template itself is left out.
ShpiRebuild rebuildshpi(DirArray& directory, std::vector<Image>& inputs, int options,
                        std::span<const uint8_t> user_palette, RebuildEvents& events);

}  // namespace torvex
