#!/usr/bin/env bash
# Installs what building and testing torvex needs on Debian (as root), and
# builds it. Usage: scripts/setup.sh [packages|plain|sanitize|both]
#   packages  only the packages
#   plain     build/, Release, with GCC
#   sanitize  build-sanitize/, with clang, AddressSanitizer and
#             UndefinedBehaviorSanitizer
# TORVEX_WERROR=ON makes compiler warnings errors (the CI run sets it).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config clang libclang-rt-14-dev libgtest-dev libpng-dev libjpeg-dev zlib1g-dev
          python3 python3-pil netpbm imagemagick pngcheck libjpeg-turbo-progs pngquant)
packages+=(default-jdk-headless)  # javac for the launcher's loader class, java for its tests
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build() {  # folder, extra cmake flags...
  local dir=$1; shift
  cmake -S . -B "$dir" -DTORVEX_WERROR="${TORVEX_WERROR:-OFF}" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}
plain() { CC=gcc CXX=g++ build build -DCMAKE_BUILD_TYPE=Release; }
sanitize() { CC=clang CXX=clang++ build build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEX_SANITIZE=ON; }

case "${1:-plain}" in
  packages) ;;
  plain) plain ;;
  sanitize) sanitize ;;
  both) plain; sanitize ;;
  *) echo "usage: scripts/setup.sh [packages|plain|sanitize|both]" >&2; exit 2 ;;
esac
