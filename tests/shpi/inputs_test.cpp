// Pictures as modders bring them: files written by Pillow, netpbm,
// ImageMagick and cjpeg go into an SHPI file through "-c", come out again
// through "-epng", and must show what an independent decoder shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "replacefixtures.h"

namespace torvex::test {
namespace {

constexpr int kWidth = 23, kHeight = 17;  // odd, so every row of every format is padded
constexpr int kPaletteEntries = 100;      // the indexed record's palette holds fewer than 256

// The pictures every fixture is made from, written with Pillow: a colourful
// truecolour picture, one with graded opacity, one of 16 colours, a grey
// one, and a 16-bit picture whose samples are not multiples of 257.
constexpr const char* kSources = R"(from PIL import Image
w, h = 23, 17
im = Image.new('RGB', (w, h))
im.putdata([((x * 37 + y * 11) % 256, (x * 5 + y * 83) % 256, (x * y * 7 + 19) % 256) for y in range(h) for x in range(w)])
im.save('src.ppm')
im.save('src.png')
rgba = im.convert('RGBA')
rgba.putdata([p[:3] + (((i % w) * 11 + (i // w) * 7) % 256,) for i, p in enumerate(im.convert('RGBA').getdata())])
rgba.save('srca.png')
q16 = im.quantize(16)
q16.convert('RGB').save('src16c.ppm')
q4 = im.quantize(4)
q4.convert('RGB').save('src4c.ppm')
im.convert('L').save('grey.pgm')
deep = bytearray(b'P6\n%d %d\n65535\n' % (w, h))
for y in range(h):
    for x in range(w):
        for v in ((x * 2851 + y * 97) % 65536, (y * 4099 + x) % 65536, (x * y * 313 + 5) % 65536):
            deep += bytes([v >> 8, v & 255])
open('deep.ppm', 'wb').write(deep)

# Pillow's own files
im.save('pil_rgb.png')
rgba.save('pil_rgba.png')
im.convert('L').save('pil_l.png')
rgba.convert('LA').save('pil_la.png')
im.quantize(60).save('pil_p.png')
im.convert('1').save('pil_1.bmp')
im.quantize(60).save('pil_p.bmp')
im.save('pil_rgb.bmp')
rgba.save('pil_rgba.bmp')
im.convert('1').save('pil_1.pcx')
im.convert('L').save('pil_l.pcx')
im.quantize(60).save('pil_p.pcx')
im.save('pil_rgb.pcx')
im.quantize(60).save('pil.gif')
im.save('pil.jpg', quality=85)
im.convert('CMYK').save('pil_cmyk.jpg', quality=90)
)";

// The tools' files; ImageMagick's convert is asked for the exact layout.
constexpr const char* kTools =
    "ppmtopgm src.ppm | pgmtopbm > mono.pbm && ppmtobmp mono.pbm > nb_1.bmp && "
    "ppmtobmp -bpp=4 src16c.ppm > nb_4.bmp && ppmtobmp -os2 -bpp=4 src16c.ppm > nb_os2.bmp && "
    "ppmtopcx src16c.ppm > np_ega.pcx && ppmtopcx -packed src4c.ppm > np_2bit.pcx && "
    "ppmtopcx -packed src16c.ppm > np_4bit.pcx && ppmtopcx -24bit src.ppm > np_24.pcx && "
    "ppmtoilbm src16c.ppm > ni_4.iff && ppmtoilbm -24force src.ppm > ni_24.iff && "
    "ppmtoilbm -ham6 src.ppm > ni_ham6.iff && ppmtoilbm -ham8 src.ppm > ni_ham8.iff && "
    "pnmtopng deep.ppm > nn_16.png && pnmtopng grey.pgm > nn_grey.png && pamtogif src16c.ppm > nn.gif && "
    "convert src.ppm -colors 200 -compress RLE BMP3:im_rle8.bmp && "
    "convert src.ppm -define bmp:subtype=RGB565 im_565.bmp && convert src.ppm -define bmp:subtype=RGB555 im_555.bmp && "
    "convert srca.png BMP:im_alpha.bmp && convert src.ppm PCX:im_24.pcx && "
    "convert src.ppm -colors 100 -type Palette PCX:im_pal.pcx && convert deep.ppm PNG48:im_48.png && "
    "convert srca.png -depth 16 PNG64:im_64.png && convert src.ppm -colorspace CMYK im_cmyk.jpg && "
    "convert src.ppm -interlace GIF -colors 50 im.gif && "
    "cjpeg -quality 90 src.ppm > cj.jpg && cjpeg -progressive src.ppm > cj_prog.jpg && "
    "cjpeg -grayscale src.ppm > cj_grey.jpg";

struct Fixture {
  const char* file;
  // The independent decoder: empty for Pillow, else a command that writes
  // the picture as a PNM file on standard output.
  const char* oracle;
  // Low bits of each sample left out of the comparison: hold-and-modify
  // sets 4 or 6 bits of a channel, and decoders widen them differently.
  int lowbits = 0;
};

const Fixture kFixtures[] = {
    {"pil_rgb.png", ""},
    {"pil_rgba.png", ""},
    {"pil_l.png", ""},
    {"pil_la.png", ""},
    {"pil_p.png", ""},
    {"pil_1.bmp", ""},
    {"pil_p.bmp", ""},
    {"pil_rgb.bmp", ""},
    {"pil_rgba.bmp", ""},
    {"pil_1.pcx", ""},
    {"pil_l.pcx", ""},
    {"pil_p.pcx", ""},
    {"pil_rgb.pcx", ""},
    {"pil.gif", ""},
    {"pil.jpg", "djpeg pil.jpg"},
    {"pil_cmyk.jpg", ""},
    {"nb_1.bmp", "bmptopnm nb_1.bmp"},
    {"nb_4.bmp", "bmptopnm nb_4.bmp"},
    {"nb_os2.bmp", "bmptopnm nb_os2.bmp"},
    {"np_ega.pcx", "pcxtoppm np_ega.pcx"},
    {"np_2bit.pcx", "pcxtoppm np_2bit.pcx"},
    {"np_4bit.pcx", "pcxtoppm np_4bit.pcx"},
    {"np_24.pcx", "pcxtoppm np_24.pcx"},
    {"ni_4.iff", "ilbmtoppm ni_4.iff"},
    {"ni_24.iff", "ilbmtoppm ni_24.iff"},
    {"ni_ham6.iff", "ilbmtoppm ni_ham6.iff", 4},
    {"ni_ham8.iff", "ilbmtoppm ni_ham8.iff", 2},
    {"nn_16.png", "pngtopam nn_16.png | pamdepth 255"},
    {"nn_grey.png", "pngtopam nn_grey.png"},
    {"nn.gif", "giftopnm nn.gif"},
    {"im_rle8.bmp", ""},
    {"im_565.bmp", "bmptopnm im_565.bmp"},
    {"im_555.bmp", "bmptopnm im_555.bmp"},
    {"im_alpha.bmp", ""},
    {"im_24.pcx", "pcxtoppm im_24.pcx"},
    {"im_pal.pcx", ""},
    {"im_48.png", "pngtopam im_48.png | pamdepth 255"},
    {"im_64.png", "pngtopam im_64.png | pamdepth 255"},
    {"im_cmyk.jpg", ""},
    {"im.gif", ""},
    {"cj.jpg", "djpeg cj.jpg"},
    {"cj_prog.jpg", "djpeg cj_prog.jpg"},
    {"cj_grey.jpg", "djpeg cj_grey.jpg"},
};

TEST(PictureInputs, EveryToolsFileArrivesAsItsDecoderShowsIt) {
  if (!havepillow()) GTEST_SKIP() << "Pillow is not installed";
  for (const char* tool : {"ppmtobmp", "pcxtoppm", "ilbmtoppm", "pngtopam", "convert", "cjpeg", "djpeg"})
    if (!havetool(tool)) GTEST_SKIP() << tool << " is missing (netpbm, imagemagick or libjpeg-turbo-progs)";
  TempDir dir;
  python(dir, kSources);
  const RunResult made = runshell(std::string(kTools) + " 2>tools.err", dir.path());
  const ByteVec err = readbytes(dir / "tools.err");
  ASSERT_EQ(made.status, 0) << std::string(err.begin(), err.end());

  // TRUE keeps every pixel as it is; PAL8's colours are fitted to a palette
  // of 100 entries.
  const ByteVec zeros(static_cast<size_t>(kWidth * kHeight * 3), 0);
  const ByteVec indices(static_cast<size_t>(kWidth * kHeight), 0);
  writebytes(dir / "pics.fsh",
             shpifile("GIMX", {{"TRUE", record(0x7F, 0, kWidth, kHeight, zeros)},
                               {"PAL8", withattachment(record(0x7B, 0, kWidth, kHeight, indices),
                                                       palette24(spreadpalette(3, kPaletteEntries)))}}));

  // Every fixture through the program, then every picture (ours and the
  // decoders') to RGB bytes in one pass of Pillow.
  std::string convert = "from PIL import Image\n";
  for (const Fixture& f : kFixtures) {
    const std::string name = f.file;
    const fs::path out = dir / ("out_" + name);
    fs::create_directory(out);
    const RunResult c = runtorvex({"-c", "pics.fsh", (out / "new.fsh").string(), f.file, "TRUE", f.file, "PAL8"}, dir.path());
    ASSERT_EQ(c.status, 0) << f.file << "\n" << c.out;
    EXPECT_EQ(c.out.find("WARNING: image"), std::string::npos) << f.file << "\n" << c.out;
    const RunResult e = runtorvex({"-epng", "new.fsh", "TRUE"}, out);
    ASSERT_EQ(e.status, 0) << f.file << "\n" << e.out;
    std::string source = name;
    if (*f.oracle) {
      const RunResult o = runshell(std::string(f.oracle) + " > " + name + ".pnm 2>/dev/null", dir.path());
      ASSERT_EQ(o.status, 0) << f.oracle;
      source = name + ".pnm";
    }
    convert += "open('" + name + ".want','wb').write(Image.open('" + source + "').convert('RGB').tobytes())\n";
    convert += "open('" + name + ".got','wb').write(Image.open('out_" + name + "/TRUE.png').convert('RGB').tobytes())\n";
  }
  python(dir, convert);

  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    const std::string name = f.file;
    ByteVec want = readbytes(dir / (name + ".want"));
    ByteVec got = readbytes(dir / (name + ".got"));
    ASSERT_EQ(want.size(), zeros.size());
    for (uint8_t& v : want) v = static_cast<uint8_t>(v >> f.lowbits);
    for (uint8_t& v : got) v = static_cast<uint8_t>(v >> f.lowbits);
    EXPECT_EQ(got, want);
    // Every index stored in PAL8 names an entry its palette holds.
    const auto records = readshpi(readbytes(dir / ("out_" + name) / "new.fsh"));
    const ShpiRecord* pal8 = findrecord(records, "PAL8");
    ASSERT_NE(pal8, nullptr);
    ASSERT_GE(pal8->bytes.size(), 16u + indices.size());
    for (size_t i = 0; i < indices.size(); ++i) ASSERT_LT(pal8->bytes[16 + i], kPaletteEntries) << "pixel " << i;
  }
}

// An ILBM whose colour 1 changes on every row (a PCHG chunk of small
// changes) is a truecolour picture: each row keeps its own colours in the
// game file, as ilbmtoppm shows them, not the colours of the first row.
TEST(PictureInputs, PerRowPalettesKeepTheirColours) {
  if (!havepillow() || !havetool("ilbmtoppm")) GTEST_SKIP() << "Pillow or netpbm is missing";
  TempDir dir;
  python(dir, R"(import struct
def chunk(name, data):
    return name + struct.pack('>I', len(data)) + data + (b'\0' if len(data) % 2 else b'')
# 8 x 4, one plane, uncompressed; colour 0 black, colour 1 white
bmhd = struct.pack('>HHhhBBBBHBBhh', 8, 4, 0, 0, 1, 0, 0, 0, 0, 1, 1, 8, 4)
cmap = bytes([0, 0, 0, 255, 255, 255])
# compression 0, small changes, rows 0 to 3; 3 changed rows, register 1,
# at most 1 change a row, 3 in all; then the row mask (rows 1, 2, 3) and
# for each row: 1 change to registers 0-15, none to 16-31, register 1
# becoming red, green, blue (4 bits a channel)
pchg = struct.pack('>HHhHHHHHI', 0, 1, 0, 4, 3, 1, 1, 1, 3) + struct.pack('>I', 0x70000000)
for change in (b'\x1f\x00', b'\x10\xf0', b'\x10\x0f'):
    pchg += b'\x01\x00' + change
body = bytes([0xDB, 0, 0xDB, 0, 0xDB, 0, 0xDB, 0])  # 1 1 0 1 1 0 1 1 on every row
data = b'ILBM' + chunk(b'BMHD', bmhd) + chunk(b'CMAP', cmap) + chunk(b'PCHG', pchg) + chunk(b'BODY', body)
open('rows.iff', 'wb').write(b'FORM' + struct.pack('>I', len(data)) + data)
)");
  writebytes(dir / "pics.fsh", shpifile("GIMX", {{"TRUE", record(0x7F, 0, 8, 4, ByteVec(8 * 4 * 3, 0))}}));
  const RunResult c = runtorvex({"-c", "pics.fsh", "new.fsh", "rows.iff", "TRUE"}, dir.path());
  ASSERT_EQ(c.status, 0) << c.out;
  EXPECT_NE(c.out.find("BPP:24"), std::string::npos) << c.out;
  ASSERT_EQ(runtorvex({"-epng", "new.fsh"}, dir.path()).status, 0);
  ASSERT_EQ(runshell("ilbmtoppm rows.iff > rows.ppm 2>/dev/null", dir.path()).status, 0);
  python(dir, "from PIL import Image\n"
              "open('want','wb').write(Image.open('rows.ppm').convert('RGB').tobytes())\n"
              "open('got','wb').write(Image.open('TRUE.png').convert('RGB').tobytes())\n");
  ByteVec want = readbytes(dir / "want"), got = readbytes(dir / "got");
  ASSERT_EQ(want.size(), 8u * 4 * 3);
  // The changes carry 4 bits a channel, which decoders widen differently.
  for (uint8_t& v : want) v = static_cast<uint8_t>(v >> 4);
  for (uint8_t& v : got) v = static_cast<uint8_t>(v >> 4);
  EXPECT_EQ(got, want);
  // Row 1 shows red where row 0 shows white.
  EXPECT_EQ((ByteVec(want.begin() + 24, want.begin() + 27)), (ByteVec{15, 0, 0}));
}

}  // namespace
}  // namespace torvex::test
