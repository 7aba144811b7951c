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

# Compression: a small file the demo writes itself, there and back.
for i in $(seq 1 40); do echo "Period $((i % 3 + 1)): the home team shoots, the goalie saves."; done > rink.txt
run -real -compress rink.txt rink.fb
run -decompress rink.fb rink.out
cmp rink.txt rink.out && echo "rink.out is rink.txt again"

# Pictures: a small game folder whose pack and SHPI files are written by a
# generator from the formats' byte tables; list the pack, list an SHPI file
# inside it, and extract its pictures as PNG files.
python3 ../scripts/makedemo.py game
cd game
run -l pack.viv
run -l 'pack.viv\pics.fsh'
run -epng 'pack.viv\pics.fsh'
run -l 'pack.viv\icons.qfs'
echo; echo "\$ ls *.png"; ls *.png
cd ..
