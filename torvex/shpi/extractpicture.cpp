// The picture half of the extraction commands: an SHPI picture member
// decoded and saved as a picture file named after it.
#include "shpi.h"

namespace torvex {

namespace {

constexpr const char* kNotAnImage = "'%s' is corrupt or not an image or has unknown format";
constexpr const char* kWriteFailed = "image '%s' write failed";

}  // namespace

int16_t savepicture(const PackEntry& member, std::span<const uint8_t> content, int format) {
  ShpiPicture picture;
  if (member.contentkind() == kContentWholeFile || !decodepicture(content, picture, paletteof(member)))
    fatal(kNotAnImage, member.name.c_str());
  const ImageResult saved = saveimage(static_cast<int16_t>(format), member.name.c_str(), picture);
  if (saved.refused()) fatal("%s", saved.refusal.c_str());
  if (!saved) fatal(kWriteFailed, member.name.c_str());
  return 1;
}

}  // namespace torvex
