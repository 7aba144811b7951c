#!/usr/bin/env bash
# Installs what is missing, builds torvex plain and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh both
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for dir in build build-sanitize; do
  echo "== tests in $dir"
  (cd "$dir" && ctest -j"$(nproc)" --output-on-failure --timeout 600) || status=1
done
exit $status
