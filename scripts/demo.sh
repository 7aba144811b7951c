#!/usr/bin/env bash
# Installs what is missing, builds torvex and runs it on a sample that the
# project generates itself, in the folder demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# TORVEX_DEMO_COMMAND runs another build instead (the Windows suite: Wine and
# torvex.exe), in the folder TORVEX_DEMO_DIR.
if [ -n "${TORVEX_DEMO_COMMAND:-}" ]; then
  read -ra tv <<<"$TORVEX_DEMO_COMMAND"
else
  scripts/setup.sh plain
  tv=("$root/build/bin/torvex")
fi
demo=${TORVEX_DEMO_DIR:-demo}
rm -rf "$demo" && mkdir -p "$demo" && cd "$demo"
run() { echo; echo "\$ torvex $*"; "${tv[@]}" "$@"; }

run

# Compression: a small file the demo writes itself, there and back.
for i in $(seq 1 40); do echo "Period $((i % 3 + 1)): the home team shoots, the goalie saves."; done > rink.txt
run -real -compress rink.txt rink.fb
run -decompress rink.fb rink.out
cmp rink.txt rink.out && echo "rink.out is rink.txt again"

# Pictures: a small game folder whose pack and SHPI files are written by a
# generator from the formats' byte tables; list the pack, list an SHPI file
# inside it, and extract its pictures as PNG files.
python3 "$root/scripts/makedemo.py" game
cd game
run -l pack.viv
run -l 'pack.viv\pics.fsh'
run -epng 'pack.viv\pics.fsh'
run -l 'pack.viv\icons.qfs'
echo; echo "\$ ls *.png"; ls *.png
cd ..

# Replacing a picture: a modder paints a new "spot" as a PNG file and puts it
# into pack.viv\pics.fsh; its colours are fitted to the record's palette.
mkdir -p replace && cd replace
python3 "$root/scripts/makedemo.py" . >/dev/null
/usr/bin/python3 - <<'PY'
from PIL import Image, ImageDraw
im = Image.new("RGB", (48, 48), (255, 0, 255))
d = ImageDraw.Draw(im)
d.ellipse((4, 4, 43, 43), fill=(230, 120, 20), outline=(250, 220, 40), width=4)
d.rectangle((20, 12, 27, 35), fill=(160, 40, 10))
im.save("newspot.png")
PY
run -r 'pack.viv\pics.fsh' newspot.png spot
run -l 'pack.viv\pics.fsh'
run -epng 'pack.viv\pics.fsh' spot
# A new SHPI file, compressed (the 1 in -c1p), with "logo" replaced and a
# record "lgo2" added in the place of "grad", with its own palette (the p).
run -c1p 'pack.viv\pics.fsh' new.qfs newspot.png logo newspot.png lgo2 grad
run -l new.qfs
cd ..

# Patches: what the modder changed in replace/ (the new "spot" picture in
# pack.viv\pics.fsh), against a fresh copy of the game as the reference. The
# patch carries only that picture; applied to another fresh copy, it gives
# the modder's pictures.
python3 "$root/scripts/makedemo.py" reference >/dev/null
python3 "$root/scripts/makedemo.py" friend >/dev/null
cd replace
printf '; what the patch is for\r\n!message\r\nA new spot for the demo game.\r\n!message\r\npack.viv\r\n' > spot.txt
run -makepatch spot.txt ../spot.viv ../reference/
cd ..
run -l spot.viv
run -patch spot.viv friend
run -l 'friend\pack.viv\pics.fsh'

# Faces: a sample game folder of each version ('98, '99, 2000, 2001), written
# by the generator, and the pictures of a new face 5 in pictures/: the game
# face G0005.png and the large photo L0005.png (the small photo is made from
# it). The face goes into the '99 game; then its packs are listed and the new
# face file extracted.
python3 "$root/scripts/makedemo.py" --games games
cd games/pictures
run -face '..\game99' 5
run -l '..\game99\gamedata\FACES99.VIV'
run -l '..\game99\PHOTOS\SPHOTO.VIV\0005.fsh'
run -epng '..\game99\gamedata\FACES99.VIV\FAC00005.FSH'
echo; echo "\$ ls"; ls
cd ../..
