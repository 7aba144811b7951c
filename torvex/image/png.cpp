// PNG through libpng. libpng reports errors by jumping back to a setjmp
// point; the functions that hold such a point (the *steps functions below)
// keep to plain data and own nothing, so a jump skips no destructor. What
// must be released belongs to their callers.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "formats.h"
#include "output.h"

namespace torvex {

namespace {

// libpng's own messages are never printed: an error jumps back, a warning
// is dropped.
void pngerror(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngwarning(png_structp, png_const_charp) {}

// ---- Reading -------------------------------------------------------------------

struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void readfromsource(png_structp png, png_bytep out, size_t count) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (count > source->size - source->pos) png_error(png, "file ends early");
  std::memcpy(out, source->data + source->pos, count);
  source->pos += count;
}

class PngRead {
 public:
  PngRead() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngerror, pngwarning);
    if (png) info = png_create_info_struct(png);
  }
  ~PngRead() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
  PngRead(const PngRead&) = delete;
  PngRead& operator=(const PngRead&) = delete;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

struct PngHeader {
  png_uint_32 width = 0, height = 0;
  int depth = 0, interlace = 0;
  int filetype = 0;    // the colour type in the file
  int colourtype = 0;  // after the transforms: palette, RGB or RGB with alpha
  size_t rowbytes = 0;
  int passes = 1;
};

// Header, transforms and the row layout after them.
bool readheadersteps(PngRead* r, MemorySource* source, PngHeader* h) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_set_read_fn(r->png, source, readfromsource);
  // Pixel data is asked for in small pieces, so that a file cut short
  // still gives the rows before the cut.
  png_set_compression_buffer_size(r->png, 1024);
  png_read_info(r->png, r->info);
  png_get_IHDR(r->png, r->info, &h->width, &h->height, &h->depth, &h->filetype, &h->interlace, nullptr, nullptr);
  // 16-bit channels scaled (rounded) to 8; grey, with or without alpha,
  // becomes RGB, grey of 1, 2 or 4 bits first widened to 8.
  if (h->depth > 8) png_set_scale_16(r->png);
  png_set_packing(r->png);
  if (!(h->filetype & PNG_COLOR_MASK_COLOR)) {
    png_set_expand_gray_1_2_4_to_8(r->png);
    png_set_gray_to_rgb(r->png);
  }
  h->passes = png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  h->colourtype = png_get_color_type(r->png, r->info);
  h->rowbytes = png_get_rowbytes(r->png, r->info);
  return true;
}

struct Background {
  bool present = false;
  int index = 0;
  uint8_t r = 0, g = 0, b = 0;
};

// A bKGD sample at the file's depth, as the transforms give the pixels.
uint8_t backgroundsample(png_uint_16 v, int depth) {
  if (depth == 16) return static_cast<uint8_t>((v * 255u + 32895u) >> 16);
  if (depth < 8) return static_cast<uint8_t>(v * 255 / ((1 << depth) - 1));
  return static_cast<uint8_t>(v);
}

bool readchunksteps(PngRead* r, const PngHeader* h, Image* image, Background* bg) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_color_16p colour = nullptr;
  if (png_get_bKGD(r->png, r->info, &colour) && colour) {
    bg->present = true;
    bg->index = colour->index;
    const bool grey = !(h->filetype & PNG_COLOR_MASK_COLOR);
    bg->r = backgroundsample(grey ? colour->gray : colour->red, h->depth);
    bg->g = backgroundsample(grey ? colour->gray : colour->green, h->depth);
    bg->b = backgroundsample(grey ? colour->gray : colour->blue, h->depth);
    image->palette[bg->index].a = 0;
  }
  if (png_get_color_type(r->png, r->info) == PNG_COLOR_TYPE_PALETTE) {
    png_bytep alphas = nullptr;
    int count = 0;
    if (png_get_tRNS(r->png, r->info, &alphas, &count, nullptr) && alphas)
      for (int i = 0; i < count && i < 256; ++i) image->palette[i].a = alphas[i];
    png_colorp entries = nullptr;
    int entrycount = 0;
    if (png_get_PLTE(r->png, r->info, &entries, &entrycount) && entries)
      for (int i = 0; i < entrycount && i < 256; ++i) {
        image->palette[i].r = entries[i].red;
        image->palette[i].g = entries[i].green;
        image->palette[i].b = entries[i].blue;
      }
  }
  return true;
}

void storerow(Image& image, const PngHeader& h, const Background& bg, int y, const uint8_t* row) {
  const int width = static_cast<int>(h.width);
  const size_t first = static_cast<size_t>(y) * width;
  uint8_t* rgb = image.rgb.get() + first * 3;
  if (h.colourtype == PNG_COLOR_TYPE_PALETTE) {
    uint8_t* idx = image.indexed.get() + first;
    for (int x = 0; x < width; ++x) {
      const Rgba& c = image.palette[row[x]];
      idx[x] = row[x];
      rgb[x * 3] = c.r;
      rgb[x * 3 + 1] = c.g;
      rgb[x * 3 + 2] = c.b;
    }
  } else if (h.colourtype == PNG_COLOR_TYPE_RGB_ALPHA) {
    uint8_t* alpha = image.alpha.get() + first;
    const int matte[3] = {image.matteRed & 0xFF, image.matteGreen & 0xFF, image.matteBlue & 0xFF};
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = row + x * 4;
      const int a = p[3];
      alpha[x] = p[3];
      for (int k = 0; k < 3; ++k)
        rgb[x * 3 + k] = image.matteOn ? static_cast<uint8_t>((p[k] * a + matte[k] * (256 - a)) >> 8) : p[k];
    }
  } else {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = row + x * 3;
      if (bg.present && p[0] == bg.r && p[1] == bg.g && p[2] == bg.b) {
        image.alpha[first + x] = 0;
        if (image.matteOn) {
          rgb[x * 3] = static_cast<uint8_t>(image.matteRed);
          rgb[x * 3 + 1] = static_cast<uint8_t>(image.matteGreen);
          rgb[x * 3 + 2] = static_cast<uint8_t>(image.matteBlue);
          continue;
        }
      }
      std::memcpy(rgb + x * 3, p, 3);
    }
  }
}

// Non-interlaced pictures go row by row through one row buffer, so rows
// already stored stay when the data breaks off; interlaced ones need the
// whole picture in `rows` before any row is complete.
// `*complete` tells whether every row came before anything went wrong.
bool readrowsteps(PngRead* r, const PngHeader* h, const Background* bg, Image* image, uint8_t* rows, bool* complete) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  const png_uint_32 height = h->height;
  if (h->passes == 1) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_rows(r->png, &rows, nullptr, 1);
      storerow(*image, *h, *bg, static_cast<int>(y), rows);
    }
  } else {
    for (int pass = 0; pass < h->passes; ++pass)
      for (png_uint_32 y = 0; y < height; ++y) {
        png_bytep row = rows + y * h->rowbytes;
        png_read_rows(r->png, &row, nullptr, 1);
      }
    for (png_uint_32 y = 0; y < height; ++y) storerow(*image, *h, *bg, static_cast<int>(y), rows + y * h->rowbytes);
  }
  *complete = true;
  png_read_end(r->png, nullptr);
  return true;
}

// ---- Writing ----------------------------------------------------------------------

// The encoded file grows in a malloc'd buffer: libpng's write callback must
// not throw, and a shortage becomes a libpng error.
struct MemorySink {
  uint8_t* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  ~MemorySink() { std::free(data); }
};

void writetosink(png_structp png, png_bytep bytes, size_t count) {
  auto* sink = static_cast<MemorySink*>(png_get_io_ptr(png));
  if (count > sink->capacity - sink->size) {
    size_t capacity = sink->capacity ? sink->capacity : 65536;
    while (count > capacity - sink->size) capacity *= 2;
    void* grown = std::realloc(sink->data, capacity);
    if (!grown) png_error(png, "out of memory");
    sink->data = static_cast<uint8_t*>(grown);
    sink->capacity = capacity;
  }
  std::memcpy(sink->data + sink->size, bytes, count);
  sink->size += count;
}
void flushsink(png_structp) {}

class PngWrite {
 public:
  PngWrite() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngerror, pngwarning);
    if (png) info = png_create_info_struct(png);
  }
  ~PngWrite() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
  PngWrite(const PngWrite&) = delete;
  PngWrite& operator=(const PngWrite&) = delete;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

struct WriteJob {
  const uint8_t* rgb;
  const uint8_t* indexed;
  const uint8_t* alpha;  // null unless written
  int width, height;
  const Palette* palette;
  int transparent;     // -1: none
  uint8_t* rowbuffer;  // 4 x width bytes when alpha is written
};

bool writesteps(PngWrite* w, MemorySink* sink, const WriteJob* job) {
  if (setjmp(png_jmpbuf(w->png))) return false;
  png_structp png = w->png;
  png_infop info = w->info;
  png_set_write_fn(png, sink, writetosink, flushsink);
  const auto width = static_cast<png_uint_32>(job->width), height = static_cast<png_uint_32>(job->height);
  png_color_8 bits{};
  bits.red = bits.green = bits.blue = 8;
  if (job->indexed) {
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color entries[256];
    png_byte alphas[256];
    for (int i = 0; i < 256; ++i) {
      const Rgba& c = (*job->palette)[i];
      entries[i] = png_color{c.r, c.g, c.b};
      alphas[i] = c.a;
    }
    png_set_PLTE(png, info, entries, 256);
    if (job->transparent >= 0) png_set_tRNS(png, info, alphas, 256, nullptr);
    png_color_16 background{};
    background.index = static_cast<png_byte>(job->transparent >= 0 ? job->transparent : 255);
    png_set_bKGD(png, info, &background);
  } else {
    png_set_IHDR(png, info, width, height, 8, job->alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job->alpha) bits.alpha = 8;
  }
  png_set_sBIT(png, info, &bits);
  png_set_gAMA(png, info, 1.0);
  png_write_info(png, info);

  for (int y = 0; y < job->height; ++y) {
    const size_t first = static_cast<size_t>(y) * job->width;
    png_bytep row;
    if (job->indexed) {
      row = const_cast<png_bytep>(job->indexed + first);
    } else if (job->alpha) {
      for (int x = 0; x < job->width; ++x) {
        std::memcpy(job->rowbuffer + x * 4, job->rgb + (first + x) * 3, 3);
        job->rowbuffer[x * 4 + 3] = job->alpha[first + x];
      }
      row = job->rowbuffer;
    } else {
      row = const_cast<png_bytep>(job->rgb + first * 3);
    }
    png_write_rows(png, &row, 1);
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

int readpng(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "PNG", 4);
  for (Rgba& c : image.palette) c = Rgba{0, 0, 0, 255};
  PngRead r;
  if (!r.png || !r.info) return 0;
  MemorySource source{bytes.data(), bytes.size(), 0};
  PngHeader h;
  if (!readheadersteps(&r, &source, &h)) return unreadable(result, "the PNG header is damaged or cut short");
  if (h.colourtype != PNG_COLOR_TYPE_PALETTE && h.colourtype != PNG_COLOR_TYPE_RGB &&
      h.colourtype != PNG_COLOR_TYPE_RGB_ALPHA)
    return unreadable(result, format("PNG colour type %d is not supported", h.filetype));
  // The record holds 16-bit sizes; deflate packs at most about 1032 bytes
  // into one, so more pixel bytes than that cannot be in the file.
  if (h.width == 0 || h.height == 0 || h.width > 0x7FFF || h.height > 0x7FFF)
    return unreadable(result, "PNG picture size out of range");
  if ((h.rowbytes + 1) * h.height > 1100 * static_cast<uint64_t>(bytes.size()))
    return unreadable(result, "the PNG header claims more pixels than the file holds");

  Background bg;
  if (!readchunksteps(&r, &h, &image, &bg)) return unreadable(result, "a PNG chunk is damaged");
  const bool palette = h.colourtype == PNG_COLOR_TYPE_PALETTE;
  if (!prepareimage(image, palette ? 3 : 2, static_cast<int>(h.width), static_cast<int>(h.height), result)) return 0;
  const size_t pixels = static_cast<size_t>(h.width) * h.height;
  if (h.colourtype == PNG_COLOR_TYPE_RGB_ALPHA || (h.colourtype == PNG_COLOR_TYPE_RGB && bg.present)) {
    image.alpha.reset(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(pixels))));
    std::memset(image.alpha.get(), 255, pixels);
  }
  Block rows = allocblock(static_cast<int32_t>(h.rowbytes * (h.passes == 1 ? 1 : h.height)));
  // A file cut inside its pixel data keeps the rows before the cut.
  bool complete = false;
  readrowsteps(&r, &h, &bg, &image, rows.get(), &complete);
  if (!complete) result.cutshort = true;
  return bg.present ? bg.index : -1;
}

ImageResult writepng(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                     const Palette& palette, const uint8_t* alpha) {
  if (width <= 0 || height <= 0 || (!rgb && !indexed)) return {};
  WriteJob job{rgb, indexed, nullptr, width, height, &palette, -1, nullptr};
  int lowest = 255;
  for (int i = 0; i < 256; ++i)
    if (palette[i].a < lowest) {
      lowest = palette[i].a;
      job.transparent = i;
    }
  Block rowbuffer;
  if (!indexed && alpha) {
    const size_t pixels = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < pixels && !job.alpha; ++i)
      if (alpha[i]) job.alpha = alpha;
    if (job.alpha) {
      rowbuffer = allocblock(4 * width);
      job.rowbuffer = rowbuffer.get();
    }
  }
  MemorySink sink;
  {
    PngWrite w;
    if (!w.png || !w.info || !writesteps(&w, &sink, &job)) return {};
  }
  return writewholefile(name, {sink.data, sink.size});
}

}  // namespace torvex
