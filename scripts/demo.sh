#!/usr/bin/env bash
# Installs what is missing, builds torvex and runs it on a sample that the
# project generates itself, in the folder demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh plain
tv=$PWD/build/bin/torvex
rm -rf demo && mkdir -p demo && cd demo
run() { echo; echo "\$ torvex $*"; "$tv" "$@"; }

run

# Replacing a picture: a modder paints a new "logo" as a PNG file and puts it
# into pack.viv\pics.fsh; its colours are fitted to the file's "!pal".
mkdir -p replace && cd replace
python3 ../../scripts/makedemo.py . >/dev/null
/usr/bin/python3 - <<'PY'
from PIL import Image, ImageDraw
im = Image.new("RGB", (48, 48), (0, 0, 0))
d = ImageDraw.Draw(im)
d.ellipse((4, 4, 43, 43), fill=(230, 40, 30), outline=(250, 220, 40), width=3)
d.rectangle((18, 12, 29, 35), fill=(250, 250, 250))
im.save("newlogo.png")
PY
run -r 'pack.viv\pics.fsh' newlogo.png logo
run -l 'pack.viv\pics.fsh'
# A new SHPI file with "logo" replaced and a record "lgo2" added in the
# place of "spot", compressed (1) and with the picture's own palette (p).
run -c1p 'pack.viv\pics.fsh' new.qfs newlogo.png logo newlogo.png lgo2 spot
run -l new.qfs
cd ..
