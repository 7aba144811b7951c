// The picture format table and the record's own helpers.
#include "image.h"

#include <cstring>

#include "formats.h"
#include "output.h"
#include "torvex/platform/bytereader.h"
#include "torvex/platform/text.h"

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
    {kFormatPng, "PNG", "png", ispng, readpng, writepng},
    {kFormatBmp, "BMP", "bmp", isbmp, readbmp, writebmp},
    {kFormatPcx, "PCX", "pcx", ispcx, readpcx, writepcx},
    {kFormatGif, "GIF", "gif", isgif, readgif, writegif},
    {kFormatJpeg, "JPG", "jpg", isjpeg, readjpeg, nullptr},
    {kFormatIlbm, "IFF", "iff", isilbm, readilbm, nullptr},
    {kFormatPel, "PEL", "pel", ispel, readpel, nullptr},
};

const ImageFormatRow* rowfor(int16_t number) {
  for (const ImageFormatRow& row : kFormats)
    if (row.number == number) return &row;
  return nullptr;
}

}  // namespace

std::span<const ImageFormatRow> imageformats() { return kFormats; }

int16_t loadimage(Image& image, std::span<const uint8_t> bytes) {
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
  if (!found) return 0;

  if (found->load) found->load(image, bytes);
  // A reader that allocated nothing failed, whatever it returned.
  if (!image.rgb && !image.indexed) {
    // A picture that could not be read still stands in as 64x64 of index 0.
    image.indexed.reset(static_cast<uint8_t*>(allocmem(12292)));
    image.width = 64;
    image.height = 64;
  }
  const int32_t pixels = static_cast<int32_t>(image.width) * image.height;
  if (image.indexed) {
    image.kind = Indexed;
    image.pixelBytes = pixels;
  } else {
    image.kind = TrueColour;
    image.pixelBytes = pixels * 3;
  }
  if (!image.rgb) {
    prepareimage(image, 2, image.width, image.height);
    uint8_t* rgb = image.rgb.get();
    const uint8_t* idx = image.indexed.get();
    for (int32_t i = 0; i < pixels; ++i) {
      const Rgba& c = image.palette[idx[i]];
      rgb[i * 3] = c.r;
      rgb[i * 3 + 1] = c.g;
      rgb[i * 3 + 2] = c.b;
    }
  }
  return 1;
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

namespace {

int16_t le16at(std::span<const uint8_t> b, size_t at) {
  return at + 2 <= b.size() ? static_cast<int16_t>(peek16le(b.data() + at)) : -1;
}
int16_t be16at(std::span<const uint8_t> b, size_t at) {
  return at + 2 <= b.size() ? static_cast<int16_t>(peek16be(b.data() + at)) : -1;
}

// The frame header's size, found by walking the marker segments from the
// first one after the start-of-image marker. Segments other than a frame
// header spend their length + 1 of the budget; a spent budget, or a walk
// that leaves the file, reports 0 x 0.
void probejpeg(std::span<const uint8_t> b, int16_t& width, int16_t& height) {
  size_t pos = 3;
  int budget = 8192;
  while (budget > 0) {
    if (pos >= b.size()) break;
    const uint8_t code = b[pos];
    if (code == 0xC0 || code == 0xC1 || code == 0xC2 || code == 0xC9 || code == 0xCA) {
      if (pos + 8 > b.size()) break;
      height = be16at(b, pos + 4);
      width = be16at(b, pos + 6);
      return;
    }
    if (pos + 3 > b.size()) break;
    const int length = peek16be(b.data() + pos + 1);
    pos += static_cast<size_t>(length) + 2;
    budget -= length + 1;
  }
  width = 0;
  height = 0;
}

}  // namespace

int16_t probeimage(std::span<const uint8_t> bytes, int16_t& width, int16_t& height) {
  width = -1;
  height = -1;
  const auto b = bytes;
  if (ispng(b)) {
    for (size_t i = 0; i < 8192 && i + 4 <= b.size(); ++i) {
      if (std::memcmp(b.data() + i, "IHDR", 4) == 0) {
        if (i + 12 <= b.size()) {
          width = be16at(b, i + 6);
          height = be16at(b, i + 10);
        }
        break;
      }
    }
    return kFormatPng;
  }
  if (isbmp(b)) {
    width = le16at(b, 18);
    height = le16at(b, 22);
    return kFormatBmp;
  }
  if (ispcx(b)) {
    if (b.size() >= 12) {
      width = static_cast<int16_t>(peek16le(b.data() + 8) + 1);
      height = static_cast<int16_t>(peek16le(b.data() + 10) + 1);
    }
    return kFormatPcx;
  }
  if (isgif(b)) {
    width = le16at(b, 6);
    height = le16at(b, 8);
    return kFormatGif;
  }
  if (isjpeg(b)) {
    probejpeg(b, width, height);
    return kFormatJpeg;
  }
  if (isilbm(b)) {
    for (size_t i = 0; i + 4 <= b.size(); i += 2) {
      if (std::memcmp(b.data() + i, "BMHD", 4) == 0) {
        if (i + 12 <= b.size()) {
          width = be16at(b, i + 8);
          height = be16at(b, i + 10);
        }
        break;
      }
    }
    return kFormatIlbm;
  }
  if (ispel(b) && b.size() >= 6 && (peek32le(b.data() + 2) & ~0xFFu) == (b.size() & ~size_t{0xFF})) {
    width = le16at(b, 18);
    height = le16at(b, 22);
    return kFormatPel;
  }
  return kFormatNone;
}

int16_t saveimage(int16_t format, const char* basename, const ShpiPicture& picture) {
  const std::string_view base(basename);
  std::string name;
  switch (format) {
    case kFormatGif:
      name = torvex::format("%s.gif", basename);
      break;
    case kFormatJpeg:
      fatal("No JPEG write support");
    case kFormatBmp:
    case kFormatPcx:
    case kFormatPng: {
      const std::string ext = std::string(".") + rowfor(format)->extension;
      name = base.size() > 3 && endswithname(base, ext) ? std::string(base) : torvex::format("%s%s", basename, ext.c_str());
      break;
    }
    default:
      fatal("unknown format %d", format);
  }
  const ImageFormatRow* row = rowfor(format);
  if (!row || !row->save) return 0;
  return row->save(name.c_str(), picture.rgb.get(), picture.indexed.get(), picture.width, picture.height,
                   picture.palette, picture.alpha.get());
}

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

int16_t writewholefile(const char* name, std::span<const uint8_t> bytes) {
  File out(name, 1);
  if (!out) return 0;
  return out.writeall(bytes) ? 1 : 0;
}

int16_t freeimage(Image& image) {
  image = Image{};
  return 0;
}

}  // namespace torvex
