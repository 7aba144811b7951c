#!/usr/bin/env bash
# The whole CI run: installs what is missing, then builds and tests in two
# steps, the second only after the first has passed:
#   1. build/ (Release, GCC) and every test in it;
#   2. build-sanitize/ (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
#      and every test in it;
#   3. build-fuzz/ (clang, libFuzzer with both sanitizers) and a short run of
#      every fuzz target, about 5 minutes in all (scripts/fuzz.sh ci): a
#      crash, leak, hang or memory overrun fails the run;
#   4. the Windows programs, cross-built with mingw-w64, and their suite under
#      Wine (scripts/windows.sh test).
# Warnings are errors here (TORVEX_WERROR=OFF in the environment turns that
# off for a local run). Tests that skip are listed with their reasons after
# each step; with CI=true a skipped test fails the run, so that the tests of
# the real game files in ../shared/samples can never silently stop running.
set -euo pipefail
cd "$(dirname "$0")/.."
export TORVEX_WERROR=${TORVEX_WERROR:-ON}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

step() {  # name, command...
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "== $name: $((SECONDS - start)) s"
}

tests() {  # build folder
  local status=0
  (cd "$1" && ctest -j"$(nproc)" --output-on-failure --timeout 600) || status=1
  if grep -q '^skipped: ' "$1/Testing/Temporary/LastTest.log"; then
    echo "skipped tests, and why:"
    grep -h '^skipped: ' "$1/Testing/Temporary/LastTest.log" | sort -u | sed 's/^skipped: /  /'
    if [ "${CI:-}" = "true" ]; then
      echo "CI=true: a skipped test fails the run"
      status=1
    fi
  fi
  return $status
}

step "packages" scripts/setup.sh packages
step "plain build" scripts/setup.sh plain
step "plain tests" tests build
step "sanitized build" scripts/setup.sh sanitize
step "sanitized tests" tests build-sanitize
step "fuzz" scripts/fuzz.sh ci
step "windows" scripts/windows.sh test
