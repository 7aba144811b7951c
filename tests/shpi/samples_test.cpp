// Real SHPI files from the games: listed and extracted, and the pictures
// compared with what a separate reading of the files' bytes (in Python,
// from the byte tables) says they hold.
#include <gtest/gtest.h>

#include <sstream>

#include "records.h"
#include "support.h"
#include "torvex/fbcomp/fb.h"
#include "torvex/shpi/shpi.h"

namespace torvex {
namespace {

using test::ByteVec;
using test::RunResult;
namespace fs = test::fs;

using test::havepillow;

// Compares every extracted PNG with the records of the SHPI file `shpi`
// (uncompressed): 32-bit pictures pixel by pixel with their alpha, 5-6-5
// pictures by their colour bits; prints one line per picture checked.
constexpr const char* kCheckScript = R"(import struct, sys
from PIL import Image
d = open(sys.argv[1], 'rb').read()
n = struct.unpack('<I', d[8:12])[0]
for i in range(n):
    name = d[16 + 8 * i:20 + 8 * i].rstrip(b'\0').decode()
    off = struct.unpack('<I', d[20 + 8 * i:24 + 8 * i])[0]
    t = d[off]
    w, h = struct.unpack('<HH', d[off + 4:off + 8])
    im = Image.open(name + '.png')
    assert im.size == (w, h), (name, im.size, w, h)
    px = d[off + 16:]
    if t == 0x7D:
        assert im.mode == 'RGBA', (name, im.mode)
        want = bytearray()
        for k in range(w * h):
            b, g, r, a = px[4 * k:4 * k + 4]
            want += bytes([r, g, b, a])
        assert im.tobytes() == bytes(want), name
    elif t == 0x78:
        want = bytearray()
        for k in range(w * h):
            v = px[2 * k] | px[2 * k + 1] << 8
            want += bytes([(v >> 11 & 31) << 3, (v >> 6 & 31) << 3, (v & 31) << 3])
        assert im.convert('RGB').tobytes() == bytes(want), name
    print(name, hex(t), w, h, im.mode)
)";

RunResult check(const test::TempDir& dir, const fs::path& shpi) {
  test::writetext(dir / "check.py", kCheckScript);
  return test::runshell("/usr/bin/python3 check.py '" + shpi.string() + "'", dir.path());
}

class Samples : public testing::Test {
 protected:
  void SetUp() override {
    if (test::samplesdir().empty()) GTEST_SKIP() << "no sample files";
    if (!havepillow()) GTEST_SKIP() << "python3-pil not installed";
    resetshpipalettecache();
  }
  void TearDown() override { resetshpipalettecache(); }
  fs::path sample(const char* name) { return test::samplesdir() / name; }
  test::TempDir dir;
};

TEST_F(Samples, ThirtyTwoBitPicturesKeepTheirAlpha) {
  const std::string file = sample("shpi/3dobj.fsh").string();
  RunResult r = test::runtorvex({"-l", file}, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pack file '" + file + "' opened\nDirectory '" + file +
                       "'\n  262160 chr0 256*256 (GIMX)\n  262160 chr1 256*256 (GIMX)\n    4112 engs 32*32 (GIMX)\n"
                       "    4112 glw0 32*32 (GIMX)\n   16400 shat 64*64 (GIMX)\n");
  r = test::runtorvex({"-epng", file}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  r = check(dir, file);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "chr0 0x7d 256 256 RGBA\nchr1 0x7d 256 256 RGBA\nengs 0x7d 32 32 RGBA\nshat 0x7d 64 64 RGBA\nglw0 0x7d 32 32 RGBA\n");
}

TEST_F(Samples, PackMemberWithA565Picture) {
  const std::string path = sample("packs/car.viv").string() + "\\fedata.fsh";
  RunResult r = test::runtorvex({"-l", path}, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("  131088 logo 256*256 (GIMX)\n"), std::string::npos) << r.out;
  r = test::runtorvex({"-epng", path}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  // The member written out raw is the SHPI file the script reads.
  r = test::runtorvex({"-u", sample("packs/car.viv").string(), "fedata.fsh"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  r = check(dir, dir / "fedata.fsh");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "logo 0x78 256 256 RGB\n");
}

TEST_F(Samples, CompressedPackMemberListsAndExtracts) {
  const std::string path = sample("packs/car.viv").string() + "\\dash.qfs";
  RunResult r = test::runtorvex({"-l", path}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  // Every picture line: size, name, width*height and the label in brackets.
  std::vector<std::string> names;
  std::istringstream listing(r.out);
  for (std::string l; std::getline(listing, l);) {
    std::istringstream words(l);
    std::string size, name, dims, label;
    if (words >> size >> name >> dims >> label && dims.find('*') != std::string::npos && label.front() == '(')
      names.push_back(name);
  }
  ASSERT_FALSE(names.empty()) << r.out;
  r = test::runtorvex({"-epng", path}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  // The expanded member, written by -u, is what the script reads.
  r = test::runtorvex({"-u", sample("packs/car.viv").string(), "dash.qfs"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  r = check(dir, dir / "dash.qfs");
  ASSERT_EQ(r.status, 0) << r.err;
  size_t lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, names.size()) << r.out;
}

// The pixels of an indexed record, worked out from the file's bytes: index
// byte, then the palette entry it names.
ByteVec expectedrgb(const ByteVec& file, size_t picture, size_t palette, int stride, int scale) {
  const size_t w = file[picture + 4] | file[picture + 5] << 8, h = file[picture + 6] | file[picture + 7] << 8;
  ByteVec rgb;
  for (size_t k = 0; k < w * h; ++k) {
    const size_t e = palette + 16 + static_cast<size_t>(stride) * file[picture + 16 + k];
    for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<uint8_t>(file[e + static_cast<size_t>(c)] * scale));
  }
  return rgb;
}

// Offset of the record named `name` in an SHPI file's directory.
size_t recordat(const ByteVec& f, const std::string& name) {
  const size_t n = f[8] | f[9] << 8;
  for (size_t i = 0; i < n; ++i) {
    const size_t e = 16 + 8 * i;
    if (std::string(reinterpret_cast<const char*>(&f[e]), 4) == name)
      return f[e + 4] | f[e + 5] << 8 | f[e + 6] << 16 | static_cast<size_t>(f[e + 7]) << 24;
  }
  return 0;
}

TEST_F(Samples, IndexedPicturesFindTheirPalettes) {
  struct Case {
    const char* file;
    bool attached;  // else the palette is "!pal"
    int stride, scale;
  } cases[] = {
      // "0000" has a 0x7C record attached, which is no palette: "!pal" (6 bits per component) is used.
      {"shpi/AL1.FSH", false, 3, 4},
      // The same kind of file stored FB-compressed.
      {"shpi/AL3.QFS", false, 3, 4},
      // "0000" carries an 8-bit palette as its attachment.
      {"shpi/attached_palette.fsh", true, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    resetshpipalettecache();
    ByteVec bytes = test::readbytes(sample(c.file));
    if (bytes[1] == 0xFB) {
      FbStatus status{};
      const Block expanded = fbdecompress(bytes, status);
      ASSERT_TRUE(expanded);
      bytes.assign(expanded.get(), expanded.get() + expanded.size);
    }
    const size_t picture = recordat(bytes, "0000");
    ASSERT_NE(picture, 0u);
    const size_t palette = c.attached ? picture + (bytes[picture + 1] | bytes[picture + 2] << 8 | bytes[picture + 3] << 16)
                                      : recordat(bytes, "!pal");
    OpenedPack pack = openpack(PackPath{sample(c.file).string(), {}}, 0);
    ASSERT_TRUE(pack);
    PackEntry* e = nullptr;
    for (PackEntry& m : pack.directory->members())
      if (m.name == "0000") e = &m;
    ASSERT_NE(e, nullptr);
    ShpiPicture pic;
    const Block content = loadlist(*e);
    ASSERT_EQ(loadpicture(*e, content.span(), pic), 1);
    const ByteVec want = expectedrgb(bytes, picture, palette, c.stride, c.scale);
    ASSERT_EQ(want.size(), static_cast<size_t>(pic.width) * pic.height * 3);
    EXPECT_EQ(ByteVec(pic.rgb.get(), pic.rgb.get() + want.size()), want);
    EXPECT_EQ(pic.alpha, nullptr);
  }
}

}  // namespace
}  // namespace torvex
