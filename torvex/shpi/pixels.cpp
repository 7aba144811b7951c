// Picture records: decoding every picture type into truecolour, index and
// opacity planes, and encoding an Image back into a record's pixel bytes.
#include <algorithm>
#include <cstring>

#include "shpi.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/platform/bytereader.h"
#include "torvex/platform/limits.h"

namespace torvex {

namespace {

Palette greyramp() {
  Palette p;
  for (int i = 0; i < 256; ++i) p[static_cast<size_t>(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 255};
  return p;
}

Bytes allocplane(int64_t size) { return std::move(allocblock(static_cast<int32_t>(size)).data); }

// Attachment types that are pictures rather than palettes.
bool attachmentispicture(uint8_t type) {
  return type == 0x7C || type == 0x7B || type == 0x7D || type == 0xFB || type == 0x41;
}

void decodetruecolour(uint8_t code, const uint8_t* in, int64_t pixels, uint8_t* rgb, uint8_t* alpha) {
  auto five = [](unsigned x) { return static_cast<uint8_t>((x & 0x1F) << 3); };
  for (int64_t i = 0; i < pixels; ++i, rgb += 3) {
    switch (code) {
      case 0x7D:
        rgb[0] = in[2], rgb[1] = in[1], rgb[2] = in[0], alpha[i] = in[3];
        in += 4;
        break;
      case 0x6D:
        rgb[0] = in[0] & 0xF0, rgb[1] = static_cast<uint8_t>((in[0] & 0x0F) << 4);
        rgb[2] = static_cast<uint8_t>((in[1] & 0x0F) << 4), alpha[i] = in[1] & 0xF0;
        in += 2;
        break;
      case 0x7E: {
        const unsigned v = peek16le(in);  // bit 15 is not colour
        rgb[0] = five(v >> 10), rgb[1] = five(v >> 5), rgb[2] = five(v);
        in += 2;
        break;
      }
      case 0x78: {
        const unsigned v = peek16le(in);  // bit 5 is not colour
        rgb[0] = five(v >> 11), rgb[1] = five(v >> 6), rgb[2] = five(v);
        in += 2;
        break;
      }
      default:  // 0x7F
        rgb[0] = in[2], rgb[1] = in[1], rgb[2] = in[0];
        in += 3;
        break;
    }
  }
}

}  // namespace

int16_t decodepicture(std::span<const uint8_t> record, ShpiPicture& picture, const ShpiPaletteFinder& find) {
  picture.rgb.reset();
  picture.indexed.reset();
  picture.alpha.reset();
  if (record.size() < kShpiRecordHeader) return 0;
  const uint8_t typebyte = record[0];
  const ShpiType* type = shpitype(typebyte);
  if (!type) return 0;
  const int width = peek16le(&record[4]);
  const int height = peek16le(&record[6]);
  if (width > 0x7FFF || height > 0x7FFF) return 0;
  const int32_t attachment = shpiattachment(record);

  std::span<const uint8_t> pixels = record.subspan(kShpiRecordHeader);
  Block expanded;
  int32_t expandedsize = 0;
  if ((typebyte & 0x80) && fbinfo(pixels, expandedsize)) {
    FbStatus status = FbStatus::kOk;
    expanded = fbdecompress(pixels, status);
    if (!expanded) return 0;
    pixels = expanded.span();
  }

  // The record must hold every pixel that its header claims (0x40 may lack
  // the half byte of an odd last pixel, which then reads as index 0).
  const int64_t count = static_cast<int64_t>(width) * height;
  const int64_t needed = type->code == 0x40 ? count / 2 : shpipixelsize(*type, width, height);
  if (needed > static_cast<int64_t>(pixels.size()) || count * 3 + 4 > kMaxBlock) return 0;

  picture.width = static_cast<int16_t>(width);
  picture.height = static_cast<int16_t>(height);
  const ShpiPaletteCache& cache = shpipalettecache();
  picture.palette = cache.filled ? cache.entries : greyramp();

  if (!type->indexed) {
    picture.rgb = allocplane(count * 3 + 4);
    if (type->code == 0x7D || type->code == 0x6D) picture.alpha = allocplane(count);
    decodetruecolour(type->code, pixels.data(), count, picture.rgb.get(), picture.alpha.get());
    return 1;
  }

  picture.indexed = allocplane(count);
  uint8_t* idx = picture.indexed.get();
  if (type->code == 0x40) {
    // The half byte of an odd last pixel is read only where the record has
    // it: before an attachment that follows the pixels directly.
    int64_t available = static_cast<int64_t>(pixels.size());
    if (!expanded && attachment > kShpiRecordHeader)
      available = std::min<int64_t>(available, attachment - kShpiRecordHeader);
    const int64_t stored = std::min<int64_t>((count + 1) / 2, std::max<int64_t>(available, count / 2));
    for (int64_t j = 0; j < stored; ++j) {
      idx[2 * j] = pixels[static_cast<size_t>(j)] & 0x0F;
      if (2 * j + 1 < count) idx[2 * j + 1] = pixels[static_cast<size_t>(j)] >> 4;
    }
  } else if (count > 0) {
    std::memcpy(idx, pixels.data(), static_cast<size_t>(count));
  }

  bool settled = false;
  if (attachment > 0 && static_cast<size_t>(attachment) < record.size()) {
    const auto attached = record.subspan(static_cast<size_t>(attachment));
    if (!attachmentispicture(attached[0]))
      settled = decodepalette(attached.first(std::min<size_t>(attached.size(), 10000)), picture.palette) > 0;
  }
  if (!settled && find) settled = find(picture.palette) > 0;
  if (settled && !cache.filled) {
    ShpiPaletteCache& fill = shpipalettecache();
    fill.entries = picture.palette;
    fill.filled = true;
  }

  picture.rgb = allocplane(count * 3 + 4);
  uint8_t* rgb = picture.rgb.get();
  bool seethrough = false;
  for (int64_t i = 0; i < count; ++i, rgb += 3) {
    const Rgba& c = picture.palette[idx[i]];
    rgb[0] = c.r, rgb[1] = c.g, rgb[2] = c.b;
    seethrough |= c.a != 255;
  }
  if (seethrough) {
    picture.alpha = allocplane(count);
    for (int64_t i = 0; i < count; ++i) picture.alpha[static_cast<size_t>(i)] = picture.palette[idx[i]].a;
  }
  return 1;
}

Block encodepixels(int type, const Image& image) {
  const ShpiType* row = shpitype(type);
  if (!row || image.width < 0 || image.height < 0) return {};
  const int64_t count = static_cast<int64_t>(image.width) * image.height;
  const int64_t size = shpipixelsize(*row, image.width, image.height);
  if (size > kMaxBlock) return {};
  if (row->indexed ? !image.indexed : !image.rgb) return {};
  Block out = allocblock(static_cast<int32_t>(size));
  uint8_t* o = out.get();
  const uint8_t* idx = image.indexed.get();
  const uint8_t* rgb = image.rgb.get();
  const uint8_t* alpha = image.alpha.get();
  switch (row->code) {
    case 0x40:
      for (int64_t j = 0; j < size; ++j) {
        const int high = 2 * j + 1 < count ? idx[2 * j + 1] & 0x0F : 0;
        o[j] = static_cast<uint8_t>((idx[2 * j] & 0x0F) | high << 4);
      }
      break;
    case 0x41: case 0x7B: case 0x7C:
      if (count > 0) std::memcpy(o, idx, static_cast<size_t>(count));
      break;
    default:
      for (int64_t i = 0; i < count; ++i) {
        const unsigned r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
        const unsigned a = alpha ? alpha[i] : 255;
        unsigned v = 0;
        switch (row->code) {
          case 0x78:
            v = ((r >> 3) << 11) + ((g >> 3) << 6) + (b >> 3);
            *o++ = static_cast<uint8_t>(v), *o++ = static_cast<uint8_t>(v >> 8);
            break;
          case 0x7E:
            v = ((r >> 3) << 10) + ((g >> 3) << 5) + (b >> 3);
            *o++ = static_cast<uint8_t>(v), *o++ = static_cast<uint8_t>(v >> 8);
            break;
          case 0x7F:
            *o++ = static_cast<uint8_t>(b), *o++ = static_cast<uint8_t>(g), *o++ = static_cast<uint8_t>(r);
            break;
          case 0x7D:
            *o++ = static_cast<uint8_t>(b), *o++ = static_cast<uint8_t>(g), *o++ = static_cast<uint8_t>(r);
            *o++ = static_cast<uint8_t>(a);
            break;
          default:  // 0x6D
            *o++ = static_cast<uint8_t>((r & 0xF0) + (g >> 4));
            *o++ = static_cast<uint8_t>((a & 0xF0) + (b >> 4));
            break;
        }
      }
      break;
  }
  return out;
}

}  // namespace torvex
