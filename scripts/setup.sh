#!/usr/bin/env bash
# Installs what building and testing torvex needs on Debian (as root), and
# builds it. Usage: scripts/setup.sh [plain|sanitize|both]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config libgtest-dev libpng-dev libjpeg-dev zlib1g-dev
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
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

case "${1:-plain}" in
  plain) build build ;;
  sanitize) build build-sanitize -DTORVEX_SANITIZE=ON ;;
  both) build build; build build-sanitize -DTORVEX_SANITIZE=ON ;;
esac
