// JPEG reading through libjpeg, from the file held in memory. The library
// reports errors through a function that must not return; ours jumps back
// to the setjmp point in decodesteps, which keeps to plain data.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "formats.h"

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

// 0 when nothing was prepared (the caller then gets the placeholder),
// else -1, also after an error that left some rows decoded.
int decodesteps(JpegJob* job, Image* image, size_t filesize, ImageResult* result) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  if (setjmp(job->err.jump)) {
    jpeg_destroy_decompress(cinfo);
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
    return 0;
  }
  cinfo->mem->max_memory_to_use = 512L * 1024 * 1024;
  jpeg_start_decompress(cinfo);

  const int width = static_cast<int>(cinfo->output_width);
  const int height = static_cast<int>(cinfo->output_height);
  const int components = cinfo->output_components;
  if (width <= 0 || height <= 0 || (components != 1 && components != 3)) {
    jpeg_destroy_decompress(cinfo);
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
    } else {
      std::memcpy(rgb, src, static_cast<size_t>(width) * 3);
    }
  }
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return -1;
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
  return decodesteps(&job, &image, bytes.size(), &result);
}

}  // namespace torvex
