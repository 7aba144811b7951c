// The decoded picture file (`Image`), the table of picture formats, and the
// entry points through which the rest of torvex loads and saves pictures.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

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

// A reader fills `image` from a whole file in memory; its result is
// interpreted by loadimage only (see there).
using ImageReader = int (*)(Image& image, std::span<const uint8_t> bytes);
// A writer: 1 after writing, 0 when the output file could not be created.
using ImageWriter = int16_t (*)(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width,
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
std::span<const ImageFormatRow> imageformats();

// 0 when the first bytes match no format, else 1 (a failing reader leaves
// the 64x64 placeholder); afterwards `rgb` is always set.
int16_t loadimage(Image& image, std::span<const uint8_t> bytes);
int16_t imageformat(const char* name);
int16_t probeimage(std::span<const uint8_t> bytes, int16_t& width, int16_t& height);
int16_t saveimage(int16_t format, const char* basename, const ShpiPicture& picture);
int16_t freeimage(Image& image);
// Bit 1 of `what`: allocate rgb (with the matte colour after the last
// pixel); bit 0: allocate indexed. Stores width and height.
void prepareimage(Image& image, int what, int width, int height);

// Colour quantizer and remap.
int dl1quant(const uint8_t* rgb, uint8_t* out, int width, int height, int colours, uint8_t palette[3][256]);
Bytes quantizeimage(const uint8_t* rgb, Palette& palette, int width, int height);
int completeimage(Image& image);
void remapbegin(const uint8_t* palette, int entries, int stride, int excluded);
int remapcolour(int red, int green, int blue);
void remapend();

}  // namespace torvex
