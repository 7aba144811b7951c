#!/usr/bin/env bash
# The Windows build of torvex and of the quorvanta launcher: mingw-w64 cross
# compiler, static libraries built from Debian's source packages, and Wine
# (with Xvfb for the launcher's dialogs) to run the tests.
#
#   scripts/windows.sh setup   install the cross compiler and Wine; build static libpng and
#                              libjpeg-turbo for 64-bit Windows (each step only once)
#   scripts/windows.sh build   setup, then build-windows/bin/torvex.exe, quorvanta.exe and
#                              quorvanta-record.exe
#   scripts/windows.sh test    build, then the Wine test suite (needs the Linux build in build/,
#                              which it builds when it is missing)
#   scripts/windows.sh i686    a compile check of the 32-bit program (it cannot run here)
#
# Debian 12, as root. Nothing is fetched but Debian packages and Debian source packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

BUILD=${TORVEX_WINDOWS_BUILD:-$root/build-windows}
CONFIG=${TORVEX_WINDOWS_CONFIG:-Release}
JOBS=${JOBS:-$(nproc)}
# One Wine prefix per work tree, beside the build: its server is ours to stop.
export WINEPREFIX=${WINEPREFIX:-$root/build-windows-wine}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -y -q -o DPkg::Lock::Timeout=600 --no-install-recommends)

started=$SECONDS
step() { echo "== [$((SECONDS - started)) s] $*"; }

missingpackages() {  # prints the packages of "$@" that are not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# ---- Packages -------------------------------------------------------------------------------

arches() { echo "x86_64${WITH_I686:+ i686}"; }
compilerpackage() { echo "g++-mingw-w64-${1//_/-}-posix"; }  # x86_64 -> g++-mingw-w64-x86-64-posix

installpackages() {
  # Never wine32: with it, Debian's wine chooses the 32-bit loader, which cannot
  # start on hosts without 32-bit support, and 64-bit programs stop working too.
  local want=(dpkg-dev cmake make googletest libz-mingw-w64-dev wine wine64) a
  want+=(xvfb python3-pefile)  # a display for the launcher's dialogs; a PE reader for its resources
  for a in $(arches); do want+=("$(compilerpackage "$a")"); done
  local missing
  missing=$(missingpackages "${want[@]}")
  if [ -n "$missing" ]; then
    step "installing: $(echo $missing)"
    apt-get -q -o DPkg::Lock::Timeout=600 update >/dev/null
    "${APT[@]}" install $missing >/dev/null
  fi
}

# ---- Static libraries from Debian's source packages ------------------------------------------

SRC=${TORVEX_WINDOWS_SOURCES:-/var/cache/torvex-windows}   # shared by every work tree of the machine

fetchsource() {  # source package, folder under $SRC
  [ -d "$SRC/$2" ] && return 0
  local v
  # The newest version is tried first; a security update can be listed before
  # the mirror has its files, so older ones follow.
  for v in $(apt-cache showsrc "$1" | awk '/^Version:/{print $2}' | sort -rVu); do
    rm -rf "$SRC/tmp" && mkdir -p "$SRC/tmp"
    if (cd "$SRC/tmp" && apt-get -q source --download-only "$1=$v" >/dev/null 2>&1 &&
        dpkg-source -x "${1}_${v#*:}.dsc" "$2" >/dev/null 2>&1); then
      mv "$SRC/tmp/$2" "$SRC/$2"
      rm -rf "$SRC/tmp"
      echo "   $1 $v"
      return 0
    fi
  done
  echo "cannot fetch the source package $1" >&2
  return 1
}

fetchsources() {
  [ -d "$SRC/libpng" ] && [ -d "$SRC/libjpeg-turbo" ] && return 0
  step "Debian source packages of libpng1.6 and libjpeg-turbo"
  mkdir -p "$SRC"
  # Source entries for this step only, made from the binary ones.
  local list=/etc/apt/sources.list.d/zz-torvex-windows-src
  trap "rm -f $list.sources $list.list" EXIT
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$list.sources"
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$list.list"
  fi
  apt-get -q -o DPkg::Lock::Timeout=600 update >/dev/null
  fetchsource libpng1.6 libpng
  fetchsource libjpeg-turbo libjpeg-turbo
  rm -f "$list.sources" "$list.list"
  trap - EXIT
  apt-get -q -o DPkg::Lock::Timeout=600 update >/dev/null
}

# The libraries go into the compiler's sysroot, where zlib already is: every
# CMake project given cmake/mingw-<arch>.cmake finds them (torvex, the launcher).
buildlibraries() {  # arch
  local a=$1 t=$1-w64-mingw32
  local sysroot=/usr/$t tc=$root/cmake/mingw-$a.cmake work=$SRC/build-$a
  if [ -f "$sysroot/lib/libpng16.a" ] && [ -f "$sysroot/lib/libjpeg.a" ]; then return 0; fi
  fetchsources
  step "libjpeg-turbo for $t"
  cmake -S "$SRC/libjpeg-turbo" -B "$work/jpeg" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$sysroot" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DWITH_SIMD=OFF >/dev/null
  cmake --build "$work/jpeg" -j"$JOBS" --target jpeg-static >/dev/null
  # Only the library and its headers: the tools would be Windows programs.
  install -m 644 "$work/jpeg/libjpeg.a" "$sysroot/lib/"
  install -m 644 "$SRC/libjpeg-turbo/jpeglib.h" "$SRC/libjpeg-turbo/jmorecfg.h" "$SRC/libjpeg-turbo/jerror.h" \
    "$work/jpeg/jconfig.h" "$sysroot/include/"
  step "libpng for $t"
  cmake -S "$SRC/libpng" -B "$work/png" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$sysroot" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$sysroot/lib/libz.a" -DZLIB_INCLUDE_DIR="$sysroot/include" >/dev/null
  cmake --build "$work/png" -j"$JOBS" >/dev/null
  cmake --install "$work/png" >/dev/null
}

wineprefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  step "Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX" >&2; return 1; }
}

setup() {
  step "setup"
  installpackages
  local a
  for a in $(arches); do buildlibraries "$a"; done
  wineprefix
}

# ---- Build --------------------------------------------------------------------------------------

checkimports() {  # exe: only DLLs every Windows has
  local dlls bad
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/{print $3}')
  bad=$(echo "$dlls" | grep -viE '^(kernel32|msvcrt|user32|advapi32|shell32|gdi32|comdlg32|ole32)\.dll$' || true)
  echo "   $(basename "$1") imports: $(echo $dlls)"
  if [ -n "$bad" ]; then
    echo "$1 needs DLLs Windows does not have: $(echo $bad)" >&2
    return 1
  fi
}

build() {  # [target]: the programs by default, "all" for the test programs too
  setup
  local targets=${1:-torvex quorvanta quorvanta-record} exe
  step "build $targets"
  cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE="$CONFIG" -DTORVEX_LINUX_BUILD="$root/build" >/dev/null
  cmake --build "$BUILD" -j"$JOBS" --target $targets
  for exe in torvex quorvanta quorvanta-record; do
    checkimports "$BUILD/bin/$exe.exe"
    echo "   $BUILD/bin/$exe.exe"
  done
}

i686() {
  WITH_I686=1 setup
  step "compile check of the 32-bit torvex.exe, quorvanta.exe and quorvanta-record.exe"
  cmake -S . -B "$BUILD-i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE="$CONFIG" -DTORVEX_TESTS=OFF >/dev/null
  cmake --build "$BUILD-i686" -j"$JOBS" --target torvex quorvanta quorvanta-record
  file "$BUILD-i686"/bin/*.exe 2>/dev/null || true
}

# ---- Tests ----------------------------------------------------------------------------------------

# The launcher's dialogs need a display, and Wine decides whether it has one
# when its server's session starts: Xvfb first (it picks a free display
# number), then a new server.
xvfb=
startdisplay() {
  local number=$BUILD/xvfb-display i
  rm -f "$number"
  Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$number" >/dev/null 2>&1 &
  xvfb=$!
  for i in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
  [ -s "$number" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(cat "$number")
}
stopwine() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
}

winetests() {
  # torvex.exe, and the fuzz replay programs, which feed every parser of the
  # Windows build the fixtures and samples.
  build all
  # The Linux build's test programs run torvex.exe through Wine for their
  # end-to-end tables.
  if [ ! -f build/CMakeCache.txt ]; then
    step "the Linux build (its test programs drive torvex.exe)"
    scripts/setup.sh plain
  else
    step "the Linux build's test programs"
    cmake --build build -j"$JOBS"
  fi
  step "Wine suite"
  # One Wine server for the whole run, so that each program starts in a tenth
  # of a second. The first program of a server starts Wine's helper
  # processes, which keep its output open as long as the server lives: that
  # one runs with its output detached, not in a test.
  wineserver -k 2>/dev/null || true  # a server of this prefix from before may have no display
  wineserver -w 2>/dev/null || true
  startdisplay
  trap stopwine EXIT
  wineserver -p
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  # Without a window manager Wine draws the dialogs' frames and captions
  # itself. Its desktop process, started by the first program that opens a
  # window, keeps that program's error output open as well: started here.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
  local status=0
  # One test at a time: the last one checks that the others left nothing in
  # Windows' temporary folder.
  ctest --test-dir "$BUILD" --output-on-failure --timeout 900 || status=1
  step "done"
  return $status
}

case "${1:-build}" in
  setup) setup ;;
  build) build ;;
  test) winetests ;;
  i686) i686 ;;
  *) echo "usage: scripts/windows.sh [setup|build|test|i686]" >&2; exit 2 ;;
esac
