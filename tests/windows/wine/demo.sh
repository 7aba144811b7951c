#!/usr/bin/env bash
# The demo game folder's whole script, once with the Linux program and once
# with torvex.exe under Wine: both must print the same (apart from the "\r"
# Windows puts before each line end) and leave the same files, byte for byte.
# Usage: demo.sh <Linux torvex> <emulator> <torvex.exe>
set -euo pipefail
linux=$1 emulator=$2 exe=$3
root=$(cd "$(dirname "$0")/../../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rundemo() {  # name, command
  TORVEX_DEMO_COMMAND="$2" TORVEX_DEMO_DIR="$work/$1" bash "$root/scripts/demo.sh" >"$work/$1.out"
  (cd "$work/$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$work/$1.files"
}
rundemo linux "$linux"
rundemo windows "$emulator $exe"
sed -i 's/\r$//' "$work/windows.out"
diff -u "$work/linux.out" "$work/windows.out"
diff -u "$work/linux.files" "$work/windows.files"
echo "torvex.exe printed the demo's $(wc -l <"$work/linux.out") lines and wrote its $(wc -l <"$work/linux.files") files as the Linux program does"
