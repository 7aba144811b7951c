// The palette of the '99 game's second face image ("FAC8"), which the game
// keeps to itself rather than in the face files.
#include "faces.h"

namespace torvex {

namespace {

// The entries as RRGGBB, sixteen a row (each row's first index after it): a
// grey ramp (0-31), then seven 32-step skin and hair ramps.
constexpr const char* kEntries[16] = {
    "000000 080808 101010 181818 202020 282828 303030 383838 404040 484848 505050 595959 616161 696969 717171 797979",  // 0
    "818181 898989 919191 999999 a1a1a1 aaaaaa b2b2b2 bababa c2c2c2 cacaca d2d2d2 dadada e2e2e2 eaeaea f2f2f2 ffffff",  // 16
    "382810 3c2c14 443018 48341c 503824 554028 5d442c 614830 694c38 6d553c 755940 795d44 81614c 856550 8d6d55 917159",  // 32
    "997561 9d7965 a58169 aa856d b28975 b68d79 be917d c29981 ca9d89 cea18d d6a591 daae95 e2b29d e6b6a1 eebaa5 f6c2ae",  // 48
    "654c40 695040 6d5544 715948 755d4c 796150 816555 856959 896d5d 8d7161 917565 997965 9d7d69 a1816d a58571 aa8975",  // 64
    "b29179 b6957d ba9981 be9d85 c2a189 caa589 ceaa8d d2ae91 d6b295 dab699 e2ba9d e6bea1 eac2a5 eec6aa f2caae fad2b2",  // 80
    "693838 6d3c3c 714040 754444 794848 7d4c4c 815050 895555 8d5959 915d5d 956161 996565 9d6969 a56d6d aa7171 ae7575",  // 96
    "b27d7d b68181 ba8585 c28989 c68d8d ca9191 ce9595 d29999 d69d9d dea1a1 e2a5a5 e6aaaa eaaeae eeb2b2 f2b6b6 fabebe",  // 112
    "594c48 5d504c 615550 655955 6d5d59 71615d 756561 7d6965 817169 85756d 8d7971 917d75 958179 9d857d a18981 a58d85",  // 128
    "ae958d b29991 b69d95 bea199 c2a59d c6aaa1 ceaea5 d2b2aa d6baae debeb2 e2c2b6 e6c6ba eecabe f2cec2 f6d2c6 ffdace",  // 144
    "85795d 85795d 897d5d 8d8161 8d8161 918565 958965 958969 998d69 9d916d a1916d a19571 a59971 aa9975 aa9d75 aea179",  // 160
    "b2a179 b6a57d baa57d beaa81 c2aa85 caae85 ceae89 d2b28d d6b28d dab691 e2b691 e6ba95 eaba99 eebe99 f2be9d fac2a1",  // 176
    "794840 7d4c44 815048 85554c 895d55 8d6159 95655d 996961 9d7169 a1756d a57971 ae7d75 b2857d b68981 ba8d85 c2958d",  // 192
    "c29991 c69d95 caa199 cea59d d2aaa1 d6b2a5 dab6aa debaae debeb2 e2c2b6 e6caba eacebe eed2c2 f2d6c6 f6daca fae2ce",  // 208
    "595048 5d554c 615950 655d55 6d6159 71655d 756961 7d7165 817569 85796d 897d71 918179 95857d 998d81 a19185 a59589",  // 224
    "aa998d ae9d91 b6a195 baaa99 beae9d c6b2a5 cab6aa cebaae d2beb2 dac6b6 decaba e2cebe ead2c2 eed6c6 f2daca fae2d2",  // 240
};

constexpr uint8_t hexdigit(char c) {
  return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
}

consteval std::array<uint8_t, 16 + 3 * 256> buildpalette() {
  // Type 0x24 (24-bit entries), 256 entries in one row, the 16-bit value 256
  // at offset 8, little-endian like every palette record.
  std::array<uint8_t, 16 + 3 * 256> record{0x24, 0, 0, 0, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01};
  size_t at = 16;
  for (const char* row : kEntries) {
    for (const char* p = row; *p; p += 7) {
      for (int channel = 0; channel < 3; ++channel)
        record[at++] = static_cast<uint8_t>(hexdigit(p[2 * channel]) << 4 | hexdigit(p[2 * channel + 1]));
      if (!p[6]) break;
    }
  }
  if (at != record.size()) throw "the table must hold 256 entries";  // stops the build
  return record;
}

}  // namespace

constinit const std::array<uint8_t, 16 + 3 * 256> faceGamePalette99 = buildpalette();

}  // namespace torvex
