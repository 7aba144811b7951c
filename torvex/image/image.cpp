// The picture format table and the record's own helpers.
#include "image.h"

#include <cstring>

#include "formats.h"

namespace torvex {

namespace {

bool starts(std::span<const uint8_t> b, std::string_view magic, size_t at = 0) {
  return b.size() >= at + magic.size() && std::memcmp(b.data() + at, magic.data(), magic.size()) == 0;
}

bool ispng(std::span<const uint8_t> b) { return starts(b, "\x89PNG\r\n"); }
bool isbmp(std::span<const uint8_t> b) { return starts(b, "BM"); }
bool ispcx(std::span<const uint8_t> b) { return starts(b, "\x0A\x05"); }
bool isgif(std::span<const uint8_t> b) { return starts(b, "GIF87a") || starts(b, "GIF89a"); }
bool isjpeg(std::span<const uint8_t> b) { return starts(b, "\xFF\xD8"); }
bool isilbm(std::span<const uint8_t> b) { return starts(b, "FORM") && starts(b, "ILBM", 8); }
bool ispel(std::span<const uint8_t> b) { return starts(b, "PL"); }

// In the order loadimage tries them: the first row whose magic matches reads
// the file. PEL's two-letter magic is the weakest test, so it comes last.
constexpr ImageFormatRow kFormats[] = {
    {kFormatPng, "PNG", "png", ispng, nullptr, nullptr},
    {kFormatBmp, "BMP", "bmp", isbmp, nullptr, nullptr},
    {kFormatPcx, "PCX", "pcx", ispcx, nullptr, nullptr},
    {kFormatGif, "GIF", "gif", isgif, readgif, writegif},
    {kFormatJpeg, "JPG", "jpg", isjpeg, nullptr, nullptr},
    {kFormatIlbm, "IFF", "iff", isilbm, readilbm, nullptr},
    {kFormatPel, "PEL", "pel", ispel, nullptr, nullptr},
};

}  // namespace

std::span<const ImageFormatRow> imageformats() { return kFormats; }

void prepareimage(Image& image, int what, int width, int height) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (width < 0 || height < 0 || pixels * 3 + 4 > 0x7FFFFFF0) fatal("couldn't allocate %lld bytes", static_cast<long long>(pixels * 3 + 4));
  if (what & 2) {
    image.rgb.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(pixels * 3 + 4))));
    uint8_t* end = image.rgb.get() + pixels * 3;
    end[0] = static_cast<uint8_t>(image.matteRed);
    end[1] = static_cast<uint8_t>(image.matteGreen);
    end[2] = static_cast<uint8_t>(image.matteBlue);
  }
  if (what & 1) image.indexed.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(pixels))));
  image.width = static_cast<int16_t>(width);
  image.height = static_cast<int16_t>(height);
}

int16_t freeimage(Image& image) {
  image = Image{};
  return 0;
}

}  // namespace torvex
