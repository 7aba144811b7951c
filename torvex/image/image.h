// The decoded picture file (`Image`), the table of picture formats, and the
// entry points through which the rest of torvex loads and saves pictures.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "torvex/platform/platform.h"

namespace torvex {

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};
using Palette = std::array<Rgba, 256>;  // 1024 contiguous bytes: red, green, blue, alpha

enum ImageKind : int16_t { Indexed = 1, TrueColour = 2 };

// Format numbers, one numbering for names, probing and saving.
enum ImageFormat : int16_t {
  kFormatNone = -1,
  kFormatBmp = 0,
  kFormatGif = 1,
  kFormatIlbm = 2,
  kFormatJpeg = 3,
  kFormatPcx = 4,
  kFormatPng = 5,
  kFormatPel = 6,
};

struct Image {
  int16_t width = 0;
  int16_t height = 0;
  int16_t isData = 0;       // 1: `indexed` holds a data file's bytes (the SHPI commands)
  int32_t pixelBytes = 0;   // width*height (Indexed) or width*height*3 (TrueColour)
  Bytes indexed;            // width*height palette indices, or null
  Bytes rgb;                // width*height*3 + 4 bytes, red, green, blue
  Bytes alpha;              // width*height opacity bytes (255 opaque), or null
  int16_t kind = 0;         // Indexed or TrueColour, set by loadimage
  Palette palette{};
  char shpiName[5] = {};
  char originalShpiName[5] = {};
  std::string sourceName;
  char formatTag[4] = {};   // "BMP", "GIF", "IFF", "JPG", "PCX", "PEL", "PNG"
  uint16_t matteRed = 0, matteGreen = 0, matteBlue = 0;
  uint16_t matteOn = 0;
};

// A decoded picture handed to saveimage: what an SHPI record decodes to.
struct ShpiPicture {
  Bytes rgb;       // width*height*3 (+4), red, green, blue
  Bytes indexed;   // width*height indices, or null for truecolour pictures
  Bytes alpha;     // width*height opacity bytes, or null
  int16_t width = 0;
  int16_t height = 0;
  Palette palette{};
};

// What an image operation tells its caller besides its status. Image code
// never prints and never ends the process: the caller prints each of
// `notes` with report(), in order, and stops the command with fatal() and
// the text of `refusal` when there is one (the request cannot be carried
// out at all; nothing else in the result then counts).
struct ImageResult {
  int16_t status = 0;
  std::vector<std::string> notes;
  std::string refusal;
  // loadimage: why a recognised picture file could not be read (status 0);
  // empty when its first bytes matched no format.
  std::string unreadable;
  // loadimage: the file ended inside its pixel data; the picture holds what
  // was there, the rest black. The caller warns.
  bool cutshort = false;
  // loadimage: the most pixels the caller takes (0: as many as one buffer
  // holds); prepareimage refuses a larger picture as unreadable before
  // allocating it.
  int64_t pixellimit = 0;

  bool refused() const { return !refusal.empty(); }
  explicit operator bool() const { return status != 0 && !refused(); }
};

// A reader fills `image` from a whole file in memory; its return value is
// interpreted by loadimage only (see there), and it adds its notes and any
// refusal to `result`. A reader that fails says why in `result.unreadable`
// (loadimage supplies a general reason when it does not) and a reader that
// met the end of the file inside the pixels sets `result.cutshort`.
using ImageReader = int (*)(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
// A writer: status 1 after writing, 0 when the output file could not be
// created (no note: the caller reports that).
using ImageWriter = ImageResult (*)(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width,
                                    int height, const Palette& palette, const uint8_t* alpha);

// One row per picture format: recognised by first bytes only.
struct ImageFormatRow {
  int16_t number;
  const char* tag;
  const char* extension;
  bool (*magic)(std::span<const uint8_t> bytes);
  ImageReader load;   // null: not readable
  ImageWriter save;   // null: not writable
};

// Status 1 with `rgb` set (and `indexed` when the picture is a palette
// picture), or 0: with `unreadable` empty when the first bytes match no
// format, else with the reason the file could not be read. A failed load
// leaves no pixels; a picture never stands in for a file it could not read.
// `pixellimit` (0: none) refuses larger pictures as unreadable before their
// pixels are allocated or decoded.
ImageResult loadimage(Image& image, std::span<const uint8_t> bytes, int64_t pixellimit = 0);
int16_t imageformat(const char* name);
// Status 1 written, 0 when the output file could not be created.
ImageResult saveimage(int16_t format, const char* basename, const ShpiPicture& picture);
// The name of the file saveimage writes for `basename` in `format`, or ""
// for a format that is not written.
std::string imagefilename(int16_t format, const char* basename);
// Bit 1 of `what`: allocate rgb (with the matte colour after the last
// pixel); bit 0: allocate indexed. Stores width and height. False, with
// the refusal in `result` and nothing allocated, for a size one buffer
// cannot hold; false with the reason in `result.unreadable` for a size
// above `result.pixellimit`.
bool prepareimage(Image& image, int what, int width, int height, ImageResult& result);

// ---- Colour quantizer and remap ------------------------------------------------

// Reduces truecolour pixels to at most `colours` colours: 1, with the
// planar palette (reds, greens, blues) and the number of entries it filled
// in `colourcount` (when given), or 0 when working memory ran out.
int dl1quant(const uint8_t* rgb, uint8_t* out, int width, int height, int colours, uint8_t palette[3][256],
             int* colourcount = nullptr);
// Indices 1 to 255 for `rgb` (index 0 stays free for the transparent
// colour), with palette entries 1 to 255 rewritten; null with a refusal in
// `result` when the quantizer fails.
Bytes quantizeimage(const uint8_t* rgb, Palette& palette, int width, int height, ImageResult& result);
// Gives a loaded picture both its indexed and its truecolour form: status 1,
// or a refusal.
ImageResult completeimage(Image& image);

// Nearest palette colour under a weighted distance (red counts 2x, green
// 3x, blue 1x), through an inverse colour map that is filled one cell at a
// time as colours are asked for. One object serves one palette.
class ColourRemap {
 public:
  // `entries` colours, `stride` bytes apart, each starting red, green,
  // blue; the entry `excluded` is never chosen (-1: none).
  ColourRemap(const uint8_t* palette, int entries, int stride, int excluded);
  int nearest(int red, int green, int blue);

 private:
  // Fills the cell of the map around the entry (red/8, green/4, blue/8).
  void fillcell(int redentry, int greenentry, int blueentry);
  // Fills that one entry.
  void fillentry(int redentry, int greenentry, int blueentry);

  // A cell is filled whole at its this many-th empty entry asked for.
  static constexpr uint8_t kSingleFills = 16;

  MemPtr<uint16_t[]> map_;  // [red/8][green/4][blue/8]: index + 1, 0 not yet computed
  uint8_t misses_[512] = {};
  uint16_t bygreen_[256] = {};  // green << 8 | index of every entry but the excluded one, sorted
  int candidates_ = 0;  // per cell of 4 x 8 x 4 entries: entries filled one by one
  uint8_t colours_[256][3] = {};
  int entries_ = 0;
  int excluded_ = -1;
};

}  // namespace torvex
