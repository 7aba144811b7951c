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
