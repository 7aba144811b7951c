// The face importer ("-face"): finds the game's version, builds an SHPI file
// for every face picture through the create command's rebuild, and puts
// them into the game's face and photo packs through the pack writer.
//
// Every SHPI file is built before any pack is touched, and every pack is
// checked before anything is built, so a run that stops on bad input leaves
// the game as it was. Only a pack update that fails after an earlier one
// went through leaves the game half-changed; the run then says which packs
// were updated.
#include "faces.h"

#include <algorithm>

#include "common.h"
#include "replacecreate.h"
#include "torvex/faces/faces.h"
#include "torvex/image/image.h"
#include "torvex/platform/files.h"
#include "torvex/platform/text.h"
#include "torvex/shpi/replace.h"
#include "updatedelete.h"

namespace torvex {

namespace {

// The small photo of a version whose size is not fixed and whose own small
// photos cannot tell it.
constexpr FaceSize kFallbackSmallFace = {36, 43};
// A size read from a game file is used only within these bounds.
constexpr int kLargestSmallFace = 1024;

// The face numbers of the command line and the kinds of pictures found.
struct FaceScan {
  std::vector<int> numbers;
  int flags = 0;
};

// Reads the face numbers and looks for their pictures, warning about the
// missing ones. A face number that is not one to four digits ends the run
// before anything is written.
FaceScan scanfaces(std::span<const std::string> arguments) {
  FaceScan scan;
  for (const std::string& argument : arguments) {
    int n = 0;
    switch (parsefacenumber(argument, n)) {
      case FaceNumber::kValid:
        break;
      case FaceNumber::kTooLong:
        fatal("too long filename ('%s')\n", argument.c_str());
      case FaceNumber::kNotANumber:
        fatal("face number '%s' is not a number\n", argument.c_str());
    }
    scan.numbers.push_back(n);

    std::string large = picturebase('L', n);
    if (findpicture(large))
      scan.flags |= kDoLargePhotos;
    else
      message("WARNING: couldn't open large face (%s)\n", large.c_str());
    // A large photo gives the small one when there is none.
    std::string small = picturebase('S', n);
    if (findpicture(small) || (scan.flags & kDoLargePhotos))
      scan.flags |= kDoSmallPhotos;
    else
      message("WARNING: couldn't open small face (%s)\n", small.c_str());
    std::string game = picturebase('G', n);
    if (findpicture(game))
      scan.flags |= kDoGameFaces;
    else
      message("WARNING: couldn't open game face (%s)\n", game.c_str());
  }
  return scan;
}

// Prints what the image code had to say, and stops where it refused.
void passon(const ImageResult& result) {
  for (const std::string& note : result.notes) report("%s", note.c_str());
  if (result.refused()) fatal("%s", result.refusal.c_str());
}

// Makes the small photo `smallbase`.png in the current folder from the
// large photo `largebase` (with the extension it is found with).
void makesmallface(const std::string& smallbase, const std::string& largebase, FaceSize target) {
  std::string large = largebase;
  if (!findpicture(large)) fatal("couldn't read '%s'", largebase.c_str());
  WholeFile file = readwholefile(large.c_str());
  if (file.status == WholeFile::kTooLarge) fatal("%s", toolargetext(large.c_str(), file.size, kMaxBlock).c_str());
  if (file.status != WholeFile::kRead) fatal("couldn't read '%s'", large.c_str());
  Image image;
  const ImageResult loaded = loadimage(image, file.bytes.span());
  passon(loaded);
  if (!loaded) fatal("'%s' is not an image file", large.c_str());

  // loadimage gives every picture its truecolour form, palette pictures too.
  RgbPicture photo;
  photo.width = image.width;
  photo.height = image.height;
  const size_t bytes = static_cast<size_t>(std::max<int>(image.width, 0)) * std::max<int>(image.height, 0) * 3;
  photo.rgb.assign(image.rgb.get(), image.rgb.get() + bytes);
  RgbPicture face;
  if (!cropface(photo, face, target)) fatal("original picture size totally incorrect");

  ShpiPicture picture;
  picture.width = static_cast<int16_t>(face.width);
  picture.height = static_cast<int16_t>(face.height);
  Block rgb = allocblock(static_cast<int32_t>(face.rgb.size() + 4));
  std::copy(face.rgb.begin(), face.rgb.end(), rgb.get());
  picture.rgb = std::move(rgb.data);
  const std::string name = smallbase + ".png";
  const ImageResult saved = saveimage(kFormatPng, smallbase.c_str(), picture);
  passon(saved);
  if (!saved) fatal("couldn't write '%s'", name.c_str());
  message("small face '%s' made from '%s' (%dx%d)\n", name.c_str(), large.c_str(), face.width, face.height);
}

// The size of the record `image` in the SHPI file `path` (a pack path), or
// nothing when it cannot be read.
FaceSize recordsize(const std::string& path, const std::string& image) {
  const std::optional<PackPath> split = splitpackpath(path);
  if (!split) return {};
  OpenedPack pack = openpack(*split, kScanKeepOrder);
  if (!pack) return {};
  for (const PackEntry& m : pack.directory->members())
    if (nameequal(m.name, image)) return {m.width, m.height};
  return {};
}

// The size of the small photos: fixed for '98 and '99; for the later
// versions the size of the game's own small photo of face 1, the template
// of every new one.
FaceSize smallphotosize(int version, const std::string& templ, const std::string& image) {
  const FaceSize fixed = smallfacesize(version);
  if (fixed.width > 0) return fixed;
  const FaceSize own = recordsize(templ, image);
  const bool usable = own.width > 0 && own.height > 0 && own.width <= kLargestSmallFace &&
                      own.height <= kLargestSmallFace;
  return usable ? own : kFallbackSmallFace;
}

// A private folder for files on their way into a pack, removed at the end
// with everything it was given.
struct StagingFolder {
  std::string folder;
  std::vector<std::string> files;
  ~StagingFolder() {
    for (const std::string& f : files)
      if (fileexists(f.c_str())) filedelete(f.c_str());
    if (!folder.empty()) removefolder(folder.c_str());
  }
};

// One pack the run rewrites, and the new files that go into it.
struct PackUpdate {
  std::string pack;   // the pack's path, game folder included
  std::vector<std::string> files;
  std::vector<std::string> shown;  // the files' names in the current folder

  void add(const std::string& file, const std::string& name) {
    if (std::find(files.begin(), files.end(), file) != files.end()) return;  // a number given twice
    files.push_back(file);
    shown.push_back(name);
  }
};

void build(const std::vector<std::string>& list, int options, const char* output, std::span<const uint8_t> palette,
           int transparency, const char* shown = nullptr) {
  if (!createshpi(list, "", options, output, palette, transparency, shown)) fatal("createshpi failed");
}

// "'a', 'b'" for the closing lines of a run that stopped half-way.
std::string quoted(std::span<const PackUpdate> updates) {
  std::string text;
  for (const PackUpdate& u : updates) text += (text.empty() ? "'" : ", '") + u.pack + "'";
  return text.empty() ? "none" : text;
}

}  // namespace

bool updatefaces(std::string_view gamedir, std::span<const std::string> numbers, std::span<const uint8_t> palette,
                 int transparency) {
  const std::string prefix = gameprefix(gamedir);
  const GameVersion* found = detectversion(prefix);
  if (!found) fatal("can't find face files, wrong directory?");
  const GameVersion& game = *found;

  FaceScan scan = scanfaces(numbers);
  if (scan.flags & kDoGameFaces && game.version >= 2000) {
    message("the %d game has no game faces, skipping them\n", game.version);
    scan.flags &= ~kDoGameFaces;
  }
  if (!scan.flags) {
    message("no files found, exiting..\n");
    return false;
  }

  // Every pack to be rewritten must open as one before anything is made.
  const std::string facepack = format("%s\\%s", game.directory, game.facepack);
  std::vector<PackUpdate> updates;
  PackUpdate* faces = nullptr;
  PackUpdate* large = nullptr;
  PackUpdate* small = nullptr;
  updates.reserve(3);
  if (scan.flags & kDoGameFaces) faces = &updates.emplace_back(PackUpdate{prefix + facepack, {}, {}});
  if (scan.flags & kDoLargePhotos) large = &updates.emplace_back(PackUpdate{prefix + kLargePhotoPack, {}, {}});
  if (scan.flags & (kDoLargePhotos | kDoSmallPhotos))
    small = &updates.emplace_back(PackUpdate{prefix + kSmallPhotoPack, {}, {}});
  for (const PackUpdate& u : updates)
    if (!checkpack(u.pack)) return false;

  const int version = game.version;
  if (faces) {
    message("updating game faces... (%s)\n", facepack.c_str());
    const std::string templ = prefix + facepack + "\\FAC00001.FSH";
    for (int n : scan.numbers) {
      std::string picture = picturebase('G', n);
      if (!findpicture(picture)) continue;  // warned about above
      const FaceNames names = facefilenames(kGameFace, version, n);
      build({templ, names.file, picture, names.image}, kShpiTransparency, nullptr, palette, transparency);
      if (version == 99) {
        // The second image goes into the file just made, which holds the new
        // first one; the game's palette for it is built in.
        const FaceNames second = facefilenames(kSecondGameFace, version, n);
        build({names.file, names.file, picture, second.image}, kShpiTransparency, nullptr, faceGamePalette99,
              transparency);
      }
      faces->add(names.file, names.file);
    }
  }

  if (large) {
    message("updating large faces... (%s)\n", kLargePhotoPack);
    const FaceNames first = facefilenames(kLargePhoto, version, 1);
    const std::string templ = prefix + kLargePhotoPack + "\\" + first.file;
    for (int n : scan.numbers) {
      std::string picture = picturebase('L', n);
      if (!findpicture(picture)) continue;
      const FaceNames names = facefilenames(kLargePhoto, version, n);
      build({templ, names.file, picture, names.image, first.image}, kShpiTransparency | kShpiNewPalette, nullptr,
            palette, transparency);
      large->add(names.file, names.file);
    }
  }

  // The small photos' files are named as the large ones' in the later
  // versions: they wait in a folder of their own until the packs are done.
  StagingFolder staging;
  if (small) {
    message("updating small faces... (%s)\n", kSmallPhotoPack);
    const FaceNames first = facefilenames(kSmallPhoto, version, 1);
    const std::string templ = prefix + kSmallPhotoPack + "\\" + first.file;
    const FaceSize size = smallphotosize(version, templ, first.image);
    staging.folder = maketempfolder();
    if (staging.folder.empty()) fatal("couldn't create a temporary folder for the small faces\n");
    for (int n : scan.numbers) {
      std::string picture = picturebase('S', n);
      if (!findpicture(picture)) {
        std::string photo = picturebase('L', n);
        if (!findpicture(photo)) continue;  // neither photo of this face: warned about above
        makesmallface(picture, picturebase('L', n), size);
        if (!findpicture(picture)) fatal("couldn't read '%s'", picture.c_str());
      }
      const FaceNames names = facefilenames(kSmallPhoto, version, n);
      const std::string staged = staging.folder + "/" + names.file;
      staging.files.push_back(staged);
      build({templ, picture, names.image, first.image}, kShpiTransparency | kShpiNewPalette, staged.c_str(), palette,
            transparency, names.file.c_str());
      small->add(staged, names.file);
    }
  }

  for (size_t i = 0; i < updates.size(); ++i) {
    const PackUpdate& u = updates[i];
    bool updated = false;
    try {
      updated = readingpacks([&u] { return updatepack("", u.pack, u.files, false) ? 1 : 0; }) == 1;
    } catch (const FatalError&) {
      // Its message is out; what remains to say is where the game stands.
    }
    if (!updated) {
      if (i > 0)
        message("packfiles updated: %s; left as they were: %s\n",
                quoted(std::span<const PackUpdate>(updates).first(i)).c_str(),
                quoted(std::span<const PackUpdate>(updates).subspan(i)).c_str());
      return false;
    }
    message("\n");
  }

  // The new files stay in the current folder, as the game faces' and large
  // photos' files do.
  if (small) {
    for (size_t i = 0; i < small->files.size(); ++i) {
      const WholeFile file = readwholefile(small->files[i].c_str());
      if (file.status != WholeFile::kRead || writefile(small->shown[i].c_str(), file.bytes.span()) != FileWrite::kWritten)
        message("WARNING: couldn't write '%s'\n", small->shown[i].c_str());
    }
  }
  return true;
}

}  // namespace torvex
