// The picture format table and the record's own helpers.
#include "image.h"

#include <cstring>

#include "formats.h"
#include "output.h"
#include "torvex/platform/files.h"
#include "torvex/platform/text.h"

namespace torvex {

namespace {

bool starts(std::span<const uint8_t> b, std::string_view magic, size_t at = 0) {
  return b.size() >= at + magic.size() && std::memcmp(b.data() + at, magic.data(), magic.size()) == 0;
}

bool ispng(std::span<const uint8_t> b) { return starts(b, "\x89PNG\r\n"); }
bool isbmp(std::span<const uint8_t> b) { return starts(b, "BM"); }
// Version 5 is what paint programs write today; the older versions (0, 2,
// 3, 4) are still written for monochrome and 16-colour pictures, and are
// taken when the coding byte is one of the two known.
bool ispcx(std::span<const uint8_t> b) {
  if (starts(b, "\x0A\x05")) return true;
  return b.size() >= 3 && b[0] == 0x0A && (b[1] == 0 || (b[1] >= 2 && b[1] <= 4)) && b[2] <= 1;
}
bool isgif(std::span<const uint8_t> b) { return starts(b, "GIF87a") || starts(b, "GIF89a"); }
bool isjpeg(std::span<const uint8_t> b) { return starts(b, "\xFF\xD8"); }
bool isilbm(std::span<const uint8_t> b) { return starts(b, "FORM") && starts(b, "ILBM", 8); }
bool ispel(std::span<const uint8_t> b) { return starts(b, "PL"); }

// In the order loadimage tries them: the first row whose magic matches reads
// the file. PEL's two-letter magic is the weakest test, so it comes last.
constexpr ImageFormatRow kFormats[] = {
    {kFormatPng, "PNG", "png", ispng, readpng, writepng},
    {kFormatBmp, "BMP", "bmp", isbmp, readbmp, writebmp},
    {kFormatPcx, "PCX", "pcx", ispcx, readpcx, writepcx},
    {kFormatGif, "GIF", "gif", isgif, readgif, writegif},
    {kFormatJpeg, "JPG", "jpg", isjpeg, readjpeg, writejpeg},
    {kFormatIlbm, "IFF", "iff", isilbm, readilbm, nullptr},
    {kFormatPel, "PEL", "pel", ispel, readpel, nullptr},
};

ImageResult refusal(std::string text) {
  ImageResult result;
  result.refusal = std::move(text);
  return result;
}

const ImageFormatRow* rowfor(int16_t number) {
  for (const ImageFormatRow& row : kFormats)
    if (row.number == number) return &row;
  return nullptr;
}

}  // namespace

ImageResult loadimage(Image& image, std::span<const uint8_t> bytes, int64_t pixellimit) {
  ImageResult result;
  result.pixellimit = pixellimit;
  image.indexed.reset();
  image.rgb.reset();
  image.alpha.reset();
  const ImageFormatRow* found = nullptr;
  for (const ImageFormatRow& row : kFormats) {
    if (row.magic(bytes)) {
      found = &row;
      break;
    }
  }
  if (!found) return result;

  // The readers' return values carry format details (a transparent index
  // may be 0); failure is a reason given or no pixels made.
  found->load(image, bytes, result);
  if (result.refused()) return result;
  // A picture that could not be read gets no stand-in, so no caller can
  // mistake a blank for the file.
  if (!result.unreadable.empty() || (!image.rgb && !image.indexed)) {
    image.indexed.reset();
    image.rgb.reset();
    image.alpha.reset();
    if (result.unreadable.empty()) result.unreadable = "the file could not be decoded";
    return result;
  }
  result.status = 1;
  const int32_t pixels = static_cast<int32_t>(image.width) * image.height;
  if (image.indexed) {
    image.kind = Indexed;
    image.pixelBytes = pixels;
  } else {
    image.kind = TrueColour;
    image.pixelBytes = pixels * 3;
  }
  if (!image.rgb) {
    if (!prepareimage(image, 2, image.width, image.height, result)) return result;
    uint8_t* rgb = image.rgb.get();
    const uint8_t* idx = image.indexed.get();
    for (int32_t i = 0; i < pixels; ++i) {
      const Rgba& c = image.palette[idx[i]];
      rgb[i * 3] = c.r;
      rgb[i * 3 + 1] = c.g;
      rgb[i * 3 + 2] = c.b;
    }
  }
  return result;
}

int16_t imageformat(const char* name) {
  const std::string_view n(name ? name : "");
  if (n.size() < 4) return kFormatNone;
  if (n.size() == 4 && nameequal(n, "jpeg")) return kFormatJpeg;
  if (n[n.size() - 4] != '.') return kFormatNone;
  const std::string_view ext = n.substr(n.size() - 3);
  static constexpr struct {
    const char* ext;
    int16_t number;
  } kNames[] = {{"png", kFormatPng}, {"pcx", kFormatPcx}, {"bmp", kFormatBmp}, {"gif", kFormatGif},
                {"jpg", kFormatJpeg}, {"iff", kFormatIlbm}, {"lbm", kFormatIlbm}};
  for (const auto& e : kNames)
    if (nameequal(ext, e.ext)) return e.number;
  return kFormatNone;
}

std::string imagefilename(int16_t format, const char* basename) {
  const std::string_view base(basename);
  switch (format) {
    case kFormatGif:
      return torvex::format("%s.gif", basename);
    case kFormatJpeg:
    case kFormatBmp:
    case kFormatPcx:
    case kFormatPng: {
      const std::string ext = std::string(".") + rowfor(format)->extension;
      return base.size() > 3 && endswithname(base, ext) ? std::string(base) : torvex::format("%s%s", basename, ext.c_str());
    }
    default:
      return {};
  }
}

ImageResult saveimage(int16_t format, const char* basename, const ShpiPicture& picture) {
  const std::string name = imagefilename(format, basename);
  if (name.empty()) return refusal(torvex::format("unknown format %d", format));
  const ImageFormatRow* row = rowfor(format);
  if (!row || !row->save) return {};
  return row->save(name.c_str(), picture.rgb.get(), picture.indexed.get(), picture.width, picture.height,
                   picture.palette, picture.alpha.get());
}

bool prepareimage(Image& image, int what, int width, int height, ImageResult& result) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (width < 0 || height < 0 || pixels * 3 + 4 > 0x7FFFFFF0) {
    result.refusal = torvex::format("couldn't allocate %lld bytes", static_cast<long long>(pixels * 3 + 4));
    return false;
  }
  if (result.pixellimit > 0 && pixels > result.pixellimit) {
    result.unreadable = torvex::format("a %dx%d picture is larger than the %lld pixels asked for", width, height,
                                       static_cast<long long>(result.pixellimit));
    return false;
  }
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
  return true;
}

ImageResult writewholefile(const char* name, std::span<const uint8_t> bytes) {
  ImageResult result;
  // Written beside the name and renamed over it once complete: a picture
  // that was there is never left half-written.
  if (writefile(name, bytes) == FileWrite::kWritten) result.status = 1;
  return result;
}

}  // namespace torvex
