// The picture half of the extraction commands: an SHPI picture member
// decoded and saved as a picture file named after it.
#include "shpi.h"

namespace torvex {

PictureSave savepicture(const PackEntry& member, std::span<const uint8_t> content, int format) {
  ShpiPicture picture;
  if (!loadpicture(member, content, picture)) return {PictureSave::kNotAPicture, {}};
  const ImageResult saved = saveimage(static_cast<int16_t>(format), member.name.c_str(), picture);
  if (saved.refused()) return {PictureSave::kRefused, saved.refusal};
  if (!saved) return {PictureSave::kWriteFailed, {}};
  return {};
}

}  // namespace torvex
