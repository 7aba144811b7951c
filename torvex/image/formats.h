// The readers and writers of the picture formats, one file each.
#pragma once

#include "image.h"

namespace torvex {

// A reader's failure: the reason goes to the caller through `result`.
inline int unreadable(ImageResult& result, std::string why) {
  result.unreadable = std::move(why);
  return 0;
}

int readbmp(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
ImageResult writebmp(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t* alpha);
int readpcx(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
ImageResult writepcx(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t* alpha);
int readpel(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
int readpng(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
ImageResult writepng(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t* alpha);
int readjpeg(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
ImageResult writejpeg(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                      const Palette& palette, const uint8_t* alpha);
int readgif(Image& image, std::span<const uint8_t> bytes, ImageResult& result);
ImageResult writegif(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t* alpha);
int readilbm(Image& image, std::span<const uint8_t> bytes, ImageResult& result);

}  // namespace torvex
