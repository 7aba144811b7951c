// IFF ILBM pictures (interleaved bitplanes, optionally ByteRun1-compressed):
// 1 to 8 planes with a colour map, extra half-brite, hold-and-modify with 6
// or 8 planes, per-row palettes from a PCHG chunk, and deep pictures of 24
// planes (8 each for red, green, blue) or 32 (and 8 for opacity). All numbers are
// big-endian. Every length in the file is untrusted: chunks, runs and palette
// changes are clipped to the bytes that are really there.
#include <algorithm>
#include <cstring>
#include <vector>

#include "formats.h"
#include "torvex/platform/bytereader.h"

namespace torvex {

namespace {

constexpr int64_t kMaxPixels = int64_t{1} << 26;
constexpr uint16_t kHoldAndModify = 0x800;

bool chunkis(std::span<const uint8_t> id, const char* name) { return std::memcmp(id.data(), name, 4) == 0; }

struct Header {
  int width = 0;
  int height = 0;
  int planes = 0;
  int compression = 0;
  int masking = 0;
};

// ---- PCHG ----------------------------------------------------------------------

// Expands the tree-coded form of the change data. The tree is a list of
// 16-bit words walked from its last word backwards; the walk must stay inside
// it, and the data must hold the promised bytes, or the chunk is unusable.
bool expandchanges(std::span<const uint8_t> tree, std::span<const uint8_t> code, uint32_t expanded,
                   std::vector<uint8_t>& out) {
  const int words = static_cast<int>(tree.size() / 2);
  if (words == 0) return false;
  // Each output byte takes at least one bit of the coded data.
  if (expanded > code.size() * 8) return false;
  auto word = [&](int i) { return static_cast<int16_t>(peek16be(tree.data() + 2 * i)); };
  const int last = words - 1;
  int p = last;
  size_t next = 0;
  uint32_t bits = 0;
  int left = 0;
  out.clear();
  out.reserve(expanded);
  while (out.size() < expanded) {
    if (left == 0) {
      if (code.size() - next < 4) return false;
      bits = peek32be(code.data() + next);
      next += 4;
      left = 32;
    }
    const bool one = bits & 0x80000000u;
    bits <<= 1;
    --left;
    if (one) {
      const int w = word(p);
      if (w >= 0) {
        out.push_back(static_cast<uint8_t>(w));
        p = last;
      } else {
        // The word is a byte offset back to the other branch; p counts words.
        p += w / 2;
        if (p < 0) return false;
      }
    } else {
      if (--p < 0) return false;
      const int w = word(p);
      if (w > 0 && (w & 0x100)) {
        out.push_back(static_cast<uint8_t>(w));
        p = last;
      }
    }
  }
  return true;
}

void applychanges(ByteReader& changes, int flags, Palette* palette) {
  auto set = [&](int reg, uint8_t r, uint8_t g, uint8_t b) {
    if (palette && reg >= 0 && reg < 256) palette[0][reg] = Rgba{r, g, b, 255};
  };
  if (flags & 1) {
    const int low = changes.u8();
    const int high = changes.u8();
    for (int j = 0; j < low + high; ++j) {
      const uint8_t b0 = changes.u8();
      const uint8_t b1 = changes.u8();
      set((b0 >> 4) + (j >= low ? 16 : 0), static_cast<uint8_t>((b0 & 15) << 4), static_cast<uint8_t>(b1 & 0xF0),
          static_cast<uint8_t>((b1 & 15) << 4));
    }
  } else if (flags & 2) {
    const int count = changes.u16be();
    // A big change is register, alpha, red, blue, green: the order of the
    // chipset's colour registers, which the format keeps.
    for (int j = 0; j < count; ++j) {
      const int reg = changes.u16be();
      changes.skip(1);
      const uint8_t r = changes.u8();
      const uint8_t b = changes.u8();
      const uint8_t g = changes.u8();
      set(reg, r, g, b);
    }
  }
}

// Fills the per-row palettes (row 0 already holds the palette of the moment)
// from a PCHG chunk; false when the chunk cannot be used.
bool applypchg(std::span<const uint8_t> chunk, Palette* rows, int height) {
  try {
    ByteReader head(chunk);
    const int compression = head.u16be();
    const int flags = head.u16be();
    const int first = static_cast<int16_t>(head.u16be());
    const int count = head.u16be();
    if (compression >> 8) return false;

    std::vector<uint8_t> expanded;
    std::span<const uint8_t> data;
    if ((compression & 0xFF) == 1) {
      head.seek(20);
      const uint32_t treesize = head.u32be();
      const uint32_t size = head.u32be();
      const auto tree = head.bytes(treesize);
      if (!expandchanges(tree, chunk.subspan(head.pos()), size, expanded)) return false;
      data = expanded;
    } else {
      head.seek(20);
      data = chunk.subspan(20);
    }

    ByteReader changes(data);
    const auto mask = changes.bytes(static_cast<size_t>((count + 31) / 32) * 4);
    int filled = 0;  // rows 0..filled hold their palettes
    for (int i = 0; i < count; ++i) {
      const int row = first + i;
      const bool inside = row >= 0 && row < height;
      if (inside)
        for (; filled < row; ++filled) rows[filled + 1] = rows[filled];
      if (mask[i / 32 * 4 + (i % 32) / 8] & (0x80 >> (i % 8))) applychanges(changes, flags, inside ? &rows[row] : nullptr);
    }
    for (; filled < height - 1; ++filled) rows[filled + 1] = rows[filled];
    return true;
  } catch (const ParseError&) {
    return false;
  }
}

// ---- BODY ------------------------------------------------------------------------

// Reads plane rows from the BODY data; false once the next byte would lie
// beyond the chunk (the rows done so far are kept).
class PlaneReader {
 public:
  PlaneReader(std::span<const uint8_t> body, bool compressed) : in_(body), compressed_(compressed) {}

  // ORs `bit` into the pixels of `row` for one plane row of `bytes` bytes
  // (`bit` 0 reads and drops the row, as for a mask plane).
  bool read(uint32_t* row, int bytes, uint32_t bit) {
    int at = 0;
    while (at < bytes) {
      if (in_.atend()) return false;
      if (!compressed_) {
        put(row, at++, in_.u8(), bit);
        continue;
      }
      const int n = static_cast<int8_t>(in_.u8());
      if (n >= 0) {
        // A literal that runs past the row ends it; its extra bytes are dropped.
        for (int k = 0; k <= n; ++k) {
          if (in_.atend()) return false;
          const uint8_t v = in_.u8();
          if (at < bytes) put(row, at++, v, bit);
        }
      } else if (n != -128) {
        if (in_.atend()) return false;
        const uint8_t v = in_.u8();
        for (int k = 0; k <= -n && at < bytes; ++k) put(row, at++, v, bit);
      }
      // -128 is a no-op: the next byte is the next control byte.
    }
    return true;
  }

 private:
  static void put(uint32_t* row, int at, uint8_t v, uint32_t bit) {
    if (!v || !bit) return;
    uint32_t* p = row + at * 8;
    for (int k = 0; k < 8; ++k)
      if (v & (0x80 >> k)) p[k] |= bit;
  }

  ByteReader in_;
  bool compressed_;
};

// Extra half-brite: entries 32 to 63 are entries 0 to 31 at half brightness.
void halfbrite(Palette& palette) {
  for (int i = 0; i < 32; ++i) {
    const Rgba& c = palette[i];
    palette[32 + i] = Rgba{static_cast<uint8_t>(c.r >> 1), static_cast<uint8_t>(c.g >> 1), static_cast<uint8_t>(c.b >> 1), 255};
  }
}

int readbody(Image& image, const Header& h, uint16_t viewmode, MemPtr<Palette[]>& rows,
             std::span<const uint8_t> body, ImageResult& result) {
  if (h.width == 0 || h.height == 0 || h.planes == 0) return unreadable(result, "the ILBM picture has no pixels");
  const bool deep = h.planes == 24 || h.planes == 32;
  if (h.planes > 8 && !deep) return unreadable(result, format("ILBM of %d planes is not supported", h.planes));
  // The record holds sizes as signed 16-bit values.
  if (h.width > 32767 || h.height > 32767 || static_cast<int64_t>(h.width) * h.height > kMaxPixels)
    return unreadable(result, "ILBM picture size out of range");

  enum { Plain, HalfBrite, Ham6, Ham8, Deep } mode = Plain;
  const bool ham = viewmode & kHoldAndModify;
  if (h.planes == 6) mode = ham ? Ham6 : HalfBrite;
  if (h.planes == 8 && ham) mode = Ham8;
  if (deep) mode = Deep;
  if (mode == HalfBrite) {
    halfbrite(image.palette);
    if (rows)
      for (int y = 0; y < h.height; ++y) halfbrite(rows[y]);
  }

  // Hold-and-modify, per-row palettes and deep pixels are colours, not
  // indices into the one palette: such pictures are truecolour, and reach
  // the games through the same quantizing as any other.
  const bool truecolour = mode == Ham6 || mode == Ham8 || mode == Deep || rows;
  if (!prepareimage(image, truecolour ? 2 : 3, h.width, h.height, result)) return 0;
  if (h.planes == 32) image.alpha.reset(static_cast<uint8_t*>(allocmem(h.width * h.height)));
  const Palette kept = image.palette;
  std::vector<uint32_t> pixels(static_cast<size_t>(h.width) + 15);
  // Plane rows are stored in whole 16-bit words.
  const int rowbytes = (h.width + 15) / 16 * 2;
  PlaneReader reader(body, h.compression != 0);

  for (int y = 0; y < h.height; ++y) {
    std::fill(pixels.begin(), pixels.end(), 0);
    bool complete = true;
    for (int k = 0; k < h.planes && complete; ++k) complete = reader.read(pixels.data(), rowbytes, uint32_t{1} << k);
    if (complete && h.masking == 1) complete = reader.read(pixels.data(), rowbytes, 0);
    if (!complete) {
      // The BODY ends early: the rows read so far are kept, the rest black.
      result.cutshort = true;
      break;
    }

    if (rows) image.palette = rows[y];
    const Palette& pal = image.palette;
    uint8_t* rgb = image.rgb.get() + static_cast<size_t>(y) * h.width * 3;
    if (mode == Deep) {
      for (int x = 0; x < h.width; ++x) {
        const uint32_t p = pixels[x];
        rgb[3 * x] = static_cast<uint8_t>(p);
        rgb[3 * x + 1] = static_cast<uint8_t>(p >> 8);
        rgb[3 * x + 2] = static_cast<uint8_t>(p >> 16);
        if (image.alpha) image.alpha[static_cast<size_t>(y) * h.width + x] = static_cast<uint8_t>(p >> 24);
      }
      continue;
    }
    if (mode == Plain || mode == HalfBrite) {
      uint8_t* indexed = truecolour ? nullptr : image.indexed.get() + static_cast<size_t>(y) * h.width;
      for (int x = 0; x < h.width; ++x) {
        const Rgba& c = pal[pixels[x]];
        if (indexed) indexed[x] = static_cast<uint8_t>(pixels[x]);
        rgb[3 * x] = c.r;
        rgb[3 * x + 1] = c.g;
        rgb[3 * x + 2] = c.b;
      }
      continue;
    }
    const int shift = mode == Ham6 ? 4 : 6;
    const int low = (1 << shift) - 1;
    uint8_t r = 0, g = 0, b = 0;
    for (int x = 0; x < h.width; ++x) {
      const int v = static_cast<int>(pixels[x]);
      const int value = v & low;
      const uint8_t level = static_cast<uint8_t>(mode == Ham6 ? value * 17 : value << 2);
      switch (v >> shift) {
        case 0:
          r = pal[value].r;
          g = pal[value].g;
          b = pal[value].b;
          break;
        case 1: b = level; break;
        case 2: r = level; break;
        default: g = level; break;
      }
      rgb[3 * x] = r;
      rgb[3 * x + 1] = g;
      rgb[3 * x + 2] = b;
    }
  }
  image.palette = kept;
  // An opacity plane left empty means an opaque picture.
  if (image.alpha) {
    const size_t count = static_cast<size_t>(h.width) * h.height;
    if (std::all_of(image.alpha.get(), image.alpha.get() + count, [](uint8_t a) { return a == 0; })) image.alpha.reset();
  }
  return -1;
}

}  // namespace

int readilbm(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "IFF", 4);
  Header h;
  uint16_t viewmode = 0;
  MemPtr<Palette[]> rows;  // per-row palettes from PCHG

  if (bytes.size() < 12) return unreadable(result, "the file ends inside its header");
  ByteReader walk(bytes);
  walk.seek(12);
  while (walk.remaining() >= 8) {
    const auto id = walk.bytes(4);
    const uint32_t length = walk.u32be();
    const auto chunk = walk.rest().first(std::min<size_t>(length, walk.remaining()));
    ByteReader in(chunk);

    if (chunkis(id, "BMHD")) {
      // Per-row palettes are laid out for the height of the moment; a
      // later header may give another, so they no longer apply.
      rows.reset();
      if (chunk.size() >= 11) {
        h.width = in.u16be();
        h.height = in.u16be();
        in.skip(4);  // position
        h.planes = in.u8();
        h.masking = in.u8();
        h.compression = in.u8();
      }
    } else if (chunkis(id, "CMAP")) {
      image.palette = Palette{};
      const int limit = h.planes >= 8 ? 256 : 1 << h.planes;
      const int entries = std::min<int>(limit, static_cast<int>(std::min<size_t>(chunk.size() / 3, 256)));
      for (int i = 0; i < entries; ++i) {
        const auto rgb = in.bytes(3);
        image.palette[i] = Rgba{rgb[0], rgb[1], rgb[2], 255};
      }
    } else if (chunkis(id, "CAMG")) {
      if (chunk.size() >= 4) {
        in.skip(2);  // the high half of the mode: not used
        viewmode = in.u16be();
      }
    } else if (chunkis(id, "PCHG")) {
      rows.reset();
      if (h.height > 0 && h.height <= 32767) {
        rows.reset(static_cast<Palette*>(allocmem(static_cast<int32_t>(sizeof(Palette) * h.height))));
        rows[0] = image.palette;
        if (!applypchg(chunk, rows.get(), h.height)) rows.reset();
      }
    } else if (chunkis(id, "BODY")) {
      return readbody(image, h, viewmode, rows, chunk, result);
    }
    // On past the data and its pad byte; a chunk that claims more than the
    // file holds ends the walk (in 64 bits, so no length can wrap around).
    const uint64_t step = uint64_t{length} + (length & 1);
    if (step > walk.remaining()) break;
    walk.skip(static_cast<size_t>(step));
  }
  return unreadable(result, "the file holds no picture (no BODY chunk)");
}

}  // namespace torvex
