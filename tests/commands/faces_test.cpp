// "-face" end to end on the sample game folders that scripts/makedemo.py
// writes from the formats' byte tables: the packs are listed afterwards with
// our own "-l", the new faces extracted with "-epng" and compared with the
// pictures they were made from by Pillow.
#include <gtest/gtest.h>

#include <map>

#include "support.h"
#include "torvex/faces/faces.h"

namespace torvex {
namespace {

using test::RunResult;
namespace fs = std::filesystem;

using Snapshot = std::map<std::string, std::vector<uint8_t>>;

class FaceImport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::havepillow()) GTEST_SKIP() << "Pillow is not installed";
    pictures = games / "pictures";
  }

  // Writes the game folders of `versions` and pictures/ (G0005.png,
  // L0005.png) into games/.
  void makegames(const std::string& versions) {
    const fs::path script = test::fixturesdir().parent_path().parent_path() / "scripts" / "makedemo.py";
    const RunResult r =
        test::runshell("/usr/bin/python3 '" + script.string() + "' --games '" + games.string() + "' " + versions);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }

  // torvex in pictures/, the current folder of a modder's run.
  RunResult run(const std::vector<std::string>& args, const fs::path& cwd = {}) {
    return test::runtorvex(args, cwd.empty() ? pictures : cwd);
  }
  RunResult face(const std::string& game, const std::vector<std::string>& numbers, uint64_t filelimit = 0) {
    std::vector<std::string> args = {"-face", "..\\" + game};
    args.insert(args.end(), numbers.begin(), numbers.end());
    return test::runtorvex(args, pictures, filelimit);
  }

  // Every file of a game folder, by its path inside it.
  Snapshot snapshot(const std::string& game) {
    Snapshot files;
    for (const auto& e : fs::recursive_directory_iterator(games / game))
      if (e.is_regular_file()) files[fs::relative(e.path(), games / game).string()] = test::readbytes(e.path());
    return files;
  }

  // Runs a Pillow script in pictures/ that prints "ok" when its checks hold.
  void check(const std::string& script) {
    const RunResult r = test::runpython("from PIL import Image\n" + script, pictures);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ok\n") << r.err;
  }

  // Extracts the pictures of an SHPI file into a new folder below pictures/.
  fs::path extract(const std::string& path, const std::string& folder) {
    fs::create_directories(pictures / folder);
    const RunResult r = run({"-epng", "..\\..\\" + path}, pictures / folder);
    EXPECT_EQ(r.status, 0) << r.out;
    return pictures / folder;
  }

  test::TempDir dir;
  fs::path games = dir / "games";
  fs::path pictures;
};

// Python: the mean difference of two RGB pictures of one size, channel by channel.
const char* kMeanDifference =
    "def diff(a, b):\n"
    "    a, b = a.convert('RGB'), b.convert('RGB')\n"
    "    assert a.size == b.size, (a.size, b.size)\n"
    "    pa, pb = a.tobytes(), b.tobytes()\n"
    "    return sum(abs(x - y) for x, y in zip(pa, pb)) / len(pa)\n";

// A face picture unlike the sample game's faces (a mean difference of about
// 50 from face 2's), in colours that both palettes of a '99 face hold.
const char* kStripes =
    "im = Image.new('RGB', (64, 64), (5, 5, 5))\n"
    "for y in range(8, 56):\n"
    "    for x in range(8, 56):\n"
    "        im.putpixel((x, y), [(200, 150, 110), (70, 45, 20), (240, 200, 170)][(x // 8) % 3])\n"
    "im.save('G0002.png')\n";

TEST_F(FaceImport, NinetyNineFaceGetsBothImagesNewAlsoForANumberThePackLacked) {
  makegames("99");
  check(std::string(kStripes) + "print('ok')\n");
  test::writebytes(pictures / "game99.pal",
                   std::vector<uint8_t>(faceGamePalette99.begin() + 16, faceGamePalette99.end()));
  // Face 2 replaces a file of the pack, face 5 is new. After each run both
  // images of the face's file show the new picture: FAC1 in its own palette,
  // FAC8 in the game's built-in one.
  for (const char* n : {"2", "5"}) {
    SCOPED_TRACE(n);
    const std::string number(n);
    const RunResult r = face("game99", {number});
    ASSERT_EQ(r.status, 0) << r.out;
    const RunResult list = run({"-l", "..\\game99\\gamedata\\FACES99.VIV"});
    EXPECT_NE(list.out.find(" FAC0000" + number + ".FSH\n"), std::string::npos) << list.out;
    extract("game99\\gamedata\\FACES99.VIV\\FAC0000" + number + ".FSH", "x" + number);
    check(std::string(kMeanDifference) +
          "new = Image.open('G000" + number + ".png')\n"
          "fac1 = Image.open('x" + number + "/FAC1.png')\n"
          "assert diff(fac1, new) < 12, diff(fac1, new)\n"
          "fac8 = Image.open('x" + number + "/FAC8.png')\n"
          "assert fac8.mode == 'P', fac8.mode\n"
          "fac8.putpalette(open('game99.pal', 'rb').read())\n"
          "assert diff(fac8, new) < 12, diff(fac8, new)\n"
          "print('ok')\n");
  }
}

TEST_F(FaceImport, PhotoNamesAndTheSmallPhotoMadeFromTheLargeOne) {
  makegames("98 99");
  fs::copy_file(pictures / "L0005.png", pictures / "L1234.png");
  struct Case {
    std::string game;
    const char* large[2];  // file\image of faces 5 and 1234
    const char* small[2];
    const char* smallsize;  // of the made small photo
  };
  const Case cases[] = {
      {"game98", {"L005.FSH\\l005", "L1234.FSH\\1234"}, {"S005.FSH\\s005", "S1234.FSH\\1234"}, "(55, 74)"},
      {"game99", {"0005.fsh\\0005", "1234.fsh\\1234"}, {"0005.fsh\\0005", "1234.fsh\\1234"}, "(36, 43)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.game);
    for (const char* made : {"S0005.png", "S1234.png"}) fs::remove(pictures / made);
    const RunResult r = face(c.game, {"5", "1234"});
    ASSERT_EQ(r.status, 0) << r.out;
    // No small photo was there: the large one gave it, and the warning
    // about the small photo is not given.
    EXPECT_EQ(r.out.find("couldn't open small face"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("small face 'S0005.png' made from 'L0005.png'"), std::string::npos) << r.out;

    const std::pair<const char*, const char* const*> packs[] = {{"BPHOTO.VIV", c.large}, {"SPHOTO.VIV", c.small}};
    for (const auto& [pack, names] : packs) {
      for (int i = 0; i < 2; ++i) {
        const std::string name(names[i]);
        const std::string file = name.substr(0, name.find('\\')), image = name.substr(name.find('\\') + 1);
        const std::string path = "..\\" + c.game + "\\PHOTOS\\" + pack;
        EXPECT_NE(run({"-l", path}).out.find(" " + file + "\n"), std::string::npos) << pack << " " << file;
        const RunResult inner = run({"-l", path + "\\" + file});
        EXPECT_NE(inner.out.find(" " + image + " "), std::string::npos) << inner.out;
      }
    }
    // The small photo stays in the current folder, and is what went in.
    const std::string small(c.small[0]);
    extract(c.game + "\\PHOTOS\\SPHOTO.VIV\\" + small.substr(0, small.find('\\')), "s" + c.game);
    check(std::string(kMeanDifference) +
          "made = Image.open('S0005.png')\n"
          "assert made.size == " + c.smallsize + ", made.size\n"
          "inpack = Image.open('s" + c.game + "/" + small.substr(small.find('\\') + 1) + ".png')\n"
          "assert diff(inpack, made) < 6, diff(inpack, made)\n"
          "print('ok')\n");
  }
}

TEST_F(FaceImport, LaterVersionsMakeNoGameFacesAndTakeTheSmallPhotoSizeFromTheGame) {
  makegames("2000 2001");
  for (const char* game : {"game2000", "game2001"}) {
    SCOPED_TRACE(game);
    const std::string pack = std::string(game) == "game2000" ? "FACES00.VIV" : "FACES01.VIV";
    const Snapshot before = snapshot(game);
    const RunResult r = face(game, {"5"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("the " + std::string(game).substr(4) + " game has no game faces, skipping them\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("updating game faces"), std::string::npos) << r.out;
    const Snapshot after = snapshot(game);
    EXPECT_EQ(after.at("gamedata/" + pack), before.at("gamedata/" + pack));
    EXPECT_NE(after.at("PHOTOS/BPHOTO.VIV"), before.at("PHOTOS/BPHOTO.VIV"));
    // The game's own small photos are 40 x 48.
    const RunResult inner = run({"-l", "..\\" + std::string(game) + "\\PHOTOS\\SPHOTO.VIV\\0005.fsh"});
    EXPECT_NE(inner.out.find(" 0005 40*48 "), std::string::npos) << inner.out;
    fs::remove(pictures / "S0005.png");
  }
}

TEST_F(FaceImport, AFaceIsLeftOutOfTheKindsItHasNoPictureFor) {
  makegames("99 2000");
  fs::copy_file(pictures / "G0005.png", pictures / "G0007.png");  // face 7: a game face only
  const RunResult r = face("game99", {"5", "7"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("WARNING: couldn't open large face (L0007)\n"), std::string::npos) << r.out;
  const std::pair<const char*, std::vector<std::pair<const char*, bool>>> packs[] = {
      {"gamedata\\FACES99.VIV", {{"FAC00005.FSH", true}, {"FAC00007.FSH", true}}},
      {"PHOTOS\\BPHOTO.VIV", {{"0005.fsh", true}, {"0007.fsh", false}}},
      {"PHOTOS\\SPHOTO.VIV", {{"0005.fsh", true}, {"0007.fsh", false}}},
  };
  for (const auto& [pack, members] : packs) {
    const RunResult list = run({"-l", std::string("..\\game99\\") + pack});
    for (const auto& [name, there] : members)
      EXPECT_EQ(list.out.find(std::string(" ") + name + "\n") != std::string::npos, there) << pack << " " << name;
  }

  // The 2000 game has no game faces: a face with nothing else has nothing to
  // import, and the run says so.
  const Snapshot before = snapshot("game2000");
  const RunResult nothing = face("game2000", {"7"});
  EXPECT_EQ(nothing.status, 1) << nothing.out;
  EXPECT_NE(nothing.out.find("no files found, exiting..\n"), std::string::npos) << nothing.out;
  EXPECT_EQ(snapshot("game2000"), before);
}

TEST_F(FaceImport, VersionOrderAndTheSpellingsOfTheGameFolder) {
  makegames("98 99");
  // A '98 folder that also holds the '99 face pack stays a '98 folder.
  fs::copy(games / "game99" / "gamedata", games / "game98" / "gamedata", fs::copy_options::recursive);
  const std::vector<uint8_t> faces99 = test::readbytes(games / "game98" / "gamedata" / "FACES99.VIV");
  RunResult r = face("game98", {"5"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("updating game faces... (required\\FACES.VIV)\n"), std::string::npos) << r.out;
  EXPECT_EQ(test::readbytes(games / "game98" / "gamedata" / "FACES99.VIV"), faces99);

  // Names in other letter cases, as a folder copied from Windows may have.
  fs::rename(games / "game99" / "gamedata", games / "game99" / "GameData");
  fs::rename(games / "game99" / "GameData" / "FACES99.VIV", games / "game99" / "GameData" / "faces99.viv");
  fs::rename(games / "game99" / "PHOTOS", games / "game99" / "Photos");
  fs::rename(games / "game99" / "Photos" / "BPHOTO.VIV", games / "game99" / "Photos" / "bphoto.viv");
  const fs::path game99 = games / "game99";
  for (const char* name : {"G0005.png", "L0005.png"}) fs::copy_file(pictures / name, game99 / name);
  struct Case {
    std::vector<std::string> args;
    fs::path cwd;
  };
  const Case cases[] = {
      {{"-face", "..\\game99", "5"}, pictures},
      {{"-face", "..\\game99\\", "5"}, pictures},
      {{"-face", "../game99/", "5"}, pictures},
      {{"-face", ".", "5"}, game99},  // one character, a folder all the same
      {{"-face", "", "5"}, game99},   // the current folder
  };
  for (const Case& c : cases) {
    r = run(c.args, c.cwd);
    EXPECT_EQ(r.status, 0) << c.args[1] << "\n" << r.out;
    size_t updated = 0;
    for (size_t at = 0; (at = r.out.find("' updated successfully\n", at)) != std::string::npos; ++at) ++updated;
    EXPECT_EQ(updated, 3u) << c.args[1] << "\n" << r.out;
  }
  EXPECT_TRUE(fs::exists(game99 / "GameData" / "faces99.viv"));
  EXPECT_FALSE(fs::exists(game99 / "gamedata"));
}

TEST_F(FaceImport, BadInputChangesNoPack) {
  makegames("99");
  const fs::path pristine = dir / "pristine";
  fs::copy(games / "game99", pristine, fs::copy_options::recursive);
  const fs::path game = games / "game99";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    void (*spoil)(const fs::path& game, const fs::path& pictures);
    const char* said;
  };
  const Case cases[] = {
      {"no pictures", {"7"}, nullptr, "no files found, exiting..\n"},
      {"five digits", {"5", "12345"}, nullptr, "-- too long filename ('12345')\n"},
      {"not a number", {"5", "5a"}, nullptr, "-- face number '5a' is not a number\n"},
      {"no game", {}, [](const fs::path& g, const fs::path&) { fs::remove_all(g / "gamedata"); },
       "-- can't find face files, wrong directory?\n"},
      {"small photo pack missing", {}, [](const fs::path& g, const fs::path&) { fs::remove(g / "PHOTOS/SPHOTO.VIV"); },
       "-- couldn't open packfile '..\\game99\\PHOTOS\\SPHOTO.VIV'\n"},
      {"large photo pack damaged", {},
       [](const fs::path& g, const fs::path&) { test::writetext(g / "PHOTOS/BPHOTO.VIV", "BIGX not a pack"); },
       "couldn't scan packfile '..\\game99\\PHOTOS\\BPHOTO.VIV'\n"},
      {"face template missing", {},
       [](const fs::path& g, const fs::path&) {
         // FAC00001.FSH renamed in the face pack's directory.
         auto bytes = test::readbytes(g / "gamedata/FACES99.VIV");
         const std::string name = "FAC00001.FSH";
         auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
         at[3] = 'X';
         test::writebytes(g / "gamedata/FACES99.VIV", bytes);
       },
       "-- createshpi failed"},
      {"unreadable picture", {},
       [](const fs::path&, const fs::path& p) { test::writetext(p / "G0005.png", "not a picture"); },
       "-- unsupported or corrupt image 'G0005.png'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(game);
    fs::copy(pristine, game, fs::copy_options::recursive);
    for (const auto& e : fs::directory_iterator(pictures))
      if (e.path().filename() != "G0005.png" && e.path().filename() != "L0005.png") fs::remove_all(e.path());
    const std::vector<uint8_t> picture = test::readbytes(pictures / "G0005.png");
    if (c.spoil) c.spoil(game, pictures);
    const Snapshot before = snapshot("game99");
    const RunResult r = face("game99", c.args.empty() ? std::vector<std::string>{"5"} : c.args);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_EQ(snapshot("game99"), before);
    // Nothing was made in the current folder either.
    EXPECT_FALSE(fs::exists(pictures / "FAC00005.FSH"));
    EXPECT_FALSE(fs::exists(pictures / "0005.fsh"));
    test::writebytes(pictures / "G0005.png", picture);
  }
}

TEST_F(FaceImport, APackUpdateFailingHalfWaySaysWhichPacksWereUpdated) {
  makegames("99");
  const Snapshot before = snapshot("game99");
  // Room for every new SHPI file (the large photo's is 33 KB) and for the
  // new face pack (27 KB), but not for the new large photo pack (54 KB).
  const RunResult r = face("game99", {"5"}, 40000);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("packfiles updated: '..\\game99\\gamedata\\FACES99.VIV'; left as they were: "
                       "'..\\game99\\PHOTOS\\BPHOTO.VIV', '..\\game99\\PHOTOS\\SPHOTO.VIV'\n"),
            std::string::npos)
      << r.out;
  const Snapshot after = snapshot("game99");
  EXPECT_NE(after.at("gamedata/FACES99.VIV"), before.at("gamedata/FACES99.VIV"));
  EXPECT_EQ(after.at("PHOTOS/BPHOTO.VIV"), before.at("PHOTOS/BPHOTO.VIV"));
  EXPECT_EQ(after.at("PHOTOS/SPHOTO.VIV"), before.at("PHOTOS/SPHOTO.VIV"));
  EXPECT_EQ(after.size(), before.size());  // no temporary file left
}

}  // namespace
}  // namespace torvex
