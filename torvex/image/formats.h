// The readers and writers of the picture formats, one file each.
#pragma once

#include "image.h"

namespace torvex {

int readbmp(Image& image, std::span<const uint8_t> bytes);
int16_t writebmp(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                 const Palette& palette, const uint8_t* alpha);
int readpcx(Image& image, std::span<const uint8_t> bytes);
int16_t writepcx(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                 const Palette& palette, const uint8_t* alpha);
int readpel(Image& image, std::span<const uint8_t> bytes);
int readpng(Image& image, std::span<const uint8_t> bytes);
int16_t writepng(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                 const Palette& palette, const uint8_t* alpha);
int readjpeg(Image& image, std::span<const uint8_t> bytes);
int readgif(Image& image, std::span<const uint8_t> bytes);
int16_t writegif(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                 const Palette& palette, const uint8_t* alpha);
int readilbm(Image& image, std::span<const uint8_t> bytes);

}  // namespace torvex
