// JPEG through libjpeg: reading from the file held in memory (grey, colour,
// and CMYK or YCCK turned into RGB), and writing colour pictures. The
// library reports errors through a function that must not return; ours
// jumps back to the setjmp point in the *steps functions, which keep to
// plain data and own nothing, so a jump skips no destructor.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "formats.h"
#include "output.h"

namespace torvex {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

// The library's texts are formatted but never printed.
void keepmessage(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->text);
}

void jumpback(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// The whole file on the first request; after that an end-of-image marker
// every time, so a file cut short ends as if it had one.
struct MemorySource {
  jpeg_source_mgr pub;
  const uint8_t* data;
  size_t size;
  bool supplied;
  bool ranout;  // the library asked for more than the file holds
};

const JOCTET kEndOfImage[2] = {0xFF, 0xD9};

void initsource(j_decompress_ptr) {}
void termsource(j_decompress_ptr) {}

boolean fillinput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (!src->supplied) {
    src->supplied = true;
    src->pub.next_input_byte = src->data;
    src->pub.bytes_in_buffer = src->size;
  } else {
    src->ranout = true;
    src->pub.next_input_byte = kEndOfImage;
    src->pub.bytes_in_buffer = 2;
  }
  return TRUE;
}

void skipinput(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (count <= 0) return;
  if (static_cast<size_t>(count) > src->pub.bytes_in_buffer) {
    src->pub.next_input_byte += src->pub.bytes_in_buffer;
    src->pub.bytes_in_buffer = 0;
  } else {
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<size_t>(count);
  }
}

struct JpegJob {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  MemorySource source;
};

// One pixel of a CMYK scan line as red, green, blue. Files with an Adobe
// marker (what every program that writes CMYK JPEG puts there) store the
// inks inverted, so each sample is already 255 - ink.
void cmyktorgb(const JSAMPLE* src, uint8_t* rgb, bool inverted) {
  const unsigned k = inverted ? src[3] : 255 - src[3];
  for (int c = 0; c < 3; ++c) {
    const unsigned v = inverted ? src[c] : 255 - src[c];
    rgb[c] = static_cast<uint8_t>((v * k + 127) / 255);
  }
}

// 0 when nothing was prepared (the caller then has no picture), else -1,
// also after an error that left some rows decoded (then *broken is set).
int decodesteps(JpegJob* job, Image* image, size_t filesize, ImageResult* result, bool* broken) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  if (setjmp(job->err.jump)) {
    jpeg_destroy_decompress(cinfo);
    *broken = true;
    return image->rgb ? -1 : 0;
  }
  jpeg_CreateDecompress(cinfo, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
  cinfo->src = &job->source.pub;
  jpeg_read_header(cinfo, TRUE);

  // Sizes beyond the record's 16-bit fields, or far more pixels than the
  // file could describe (a whole-image coefficient buffer would be asked
  // for at once), are refused before the library allocates for them.
  const uint64_t pixels = static_cast<uint64_t>(cinfo->image_width) * cinfo->image_height;
  if (cinfo->image_width > 0x7FFF || cinfo->image_height > 0x7FFF || pixels > 1024 * static_cast<uint64_t>(filesize)) {
    jpeg_destroy_decompress(cinfo);
    result->unreadable = "JPEG picture size out of range";
    return 0;
  }
  // CMYK comes out as CMYK (the library turns YCCK into it), converted below.
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  if (cmyk) cinfo->out_color_space = JCS_CMYK;
  const bool inverted = cinfo->saw_Adobe_marker;
  cinfo->mem->max_memory_to_use = 512L * 1024 * 1024;
  jpeg_start_decompress(cinfo);

  const int width = static_cast<int>(cinfo->output_width);
  const int height = static_cast<int>(cinfo->output_height);
  const int components = cinfo->output_components;
  if (width <= 0 || height <= 0 || !(components == 1 || components == 3 || (cmyk && components == 4))) {
    jpeg_destroy_decompress(cinfo);
    result->unreadable = "JPEG colour space is not supported";
    return 0;
  }
  const bool grey = components == 1;
  if (!prepareimage(*image, grey ? 3 : 2, width, height, *result)) {
    jpeg_destroy_decompress(cinfo);
    return 0;
  }

  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                static_cast<JDIMENSION>(width * components), 1);
  while (cinfo->output_scanline < cinfo->output_height) {
    jpeg_read_scanlines(cinfo, row, 1);
    const size_t first = static_cast<size_t>(cinfo->output_scanline - 1) * width;
    uint8_t* rgb = image->rgb.get() + first * 3;
    const JSAMPLE* src = row[0];
    if (grey) {
      uint8_t* idx = image->indexed.get() + first;
      for (int x = 0; x < width; ++x) {
        idx[x] = src[x];
        rgb[x * 3] = rgb[x * 3 + 1] = rgb[x * 3 + 2] = src[x];
      }
    } else if (cmyk) {
      for (int x = 0; x < width; ++x) cmyktorgb(src + x * 4, rgb + x * 3, inverted);
    } else {
      std::memcpy(rgb, src, static_cast<size_t>(width) * 3);
    }
  }
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return -1;
}

// ---- Writing ----------------------------------------------------------------------

struct EncodeJob {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  unsigned char* out;  // the library's buffer (malloc'd), freed by the caller
  unsigned long size;
};

bool encodesteps(EncodeJob* job, const uint8_t* rgb, int width, int height) {
  jpeg_compress_struct* cinfo = &job->cinfo;
  if (setjmp(job->err.jump)) {
    jpeg_destroy_compress(cinfo);
    return false;
  }
  jpeg_create_compress(cinfo);
  jpeg_mem_dest(cinfo, &job->out, &job->size);
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  // The defaults sample colour at half the resolution both ways (4:2:0).
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, 90, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<size_t>(cinfo->next_scanline) * width * 3);
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return true;
}

}  // namespace

int readjpeg(Image& image, std::span<const uint8_t> bytes, ImageResult& result) {
  std::memcpy(image.formatTag, "JPG", 4);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    image.palette[i] = Rgba{v, v, v, 255};
  }
  JpegJob job{};
  job.cinfo.err = jpeg_std_error(&job.err.pub);
  job.err.pub.error_exit = jumpback;
  job.err.pub.output_message = keepmessage;
  job.source.pub.init_source = initsource;
  job.source.pub.fill_input_buffer = fillinput;
  job.source.pub.skip_input_data = skipinput;
  job.source.pub.resync_to_restart = jpeg_resync_to_restart;
  job.source.pub.term_source = termsource;
  job.source.data = bytes.data();
  job.source.size = bytes.size();
  bool broken = false;
  const int read = decodesteps(&job, &image, bytes.size(), &result, &broken);
  if (!image.rgb && result.unreadable.empty()) result.unreadable = "the JPEG header is damaged or cut short";
  // Cut inside its pixel data (or damaged there): the rows decoded stay.
  if (image.rgb && (broken || job.source.ranout)) result.cutshort = true;
  return read;
}

// JPEG holds no opacity: the colours are written as they are.
ImageResult writejpeg(const char* name, const uint8_t* rgb, const uint8_t* indexed, int width, int height,
                      const Palette& palette, const uint8_t*) {
  if (width <= 0 || height <= 0 || (!rgb && !indexed)) return {};
  std::vector<uint8_t> colours;
  if (!rgb) {
    colours.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < colours.size() / 3; ++i) {
      const Rgba& c = palette[indexed[i]];
      colours[i * 3] = c.r;
      colours[i * 3 + 1] = c.g;
      colours[i * 3 + 2] = c.b;
    }
    rgb = colours.data();
  }
  EncodeJob job{};
  job.cinfo.err = jpeg_std_error(&job.err.pub);
  job.err.pub.error_exit = jumpback;
  job.err.pub.output_message = keepmessage;
  const bool encoded = encodesteps(&job, rgb, width, height);
  ImageResult result;
  if (encoded) result = writewholefile(name, {job.out, static_cast<size_t>(job.size)});
  std::free(job.out);
  return result;
}

}  // namespace torvex
