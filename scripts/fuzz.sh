#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/) and runs every target, one at
# a time, seeded from its corpus folder and the real game files.
#
#   scripts/fuzz.sh ci [seconds-in-all]         every target for a share of about 5 minutes
#                                               (300 s in all unless given)
#   scripts/fuzz.sh campaign [seconds-per-target]
#                                               every target until 10 million executions or
#                                               the time given (1800 s unless given), whichever
#                                               comes first, then a table of the figures
#   scripts/fuzz.sh build                       only the build
#   scripts/fuzz.sh TARGET... with FUZZ_SECONDS=n  the targets named (fb, image, ...)
# FUZZ_OPTIONS adds libFuzzer options to every run.
#
# New inputs go to build-fuzz/runs/<mode>/<target>/ (the ci run starts from
# the repository's corpus every time; a campaign goes on from its last grown
# corpus), never into the repository. Any crash, leak, timeout, memory
# overrun or sanitizer report fails the run, and the input that caused it
# is named: copy it into the target's corpus folder, where the replay test
# of every build keeps feeding it, once the reader is mended.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

BUILD=${TORVEX_FUZZ_BUILD:-$root/build-fuzz}
SAMPLES=$root/../shared/samples

# target name, folder of its target.cpp and corpus
targets=(fb:fuzz/fb fbencode:fuzz/fb/encode image:fuzz/image pack:fuzz/pack packwrite:fuzz/packwrite
         patch:fuzz/patch shpi:fuzz/shpi replace:fuzz/replace record:fuzz/record faces:fuzz/faces)

folderof() {
  local t
  for t in "${targets[@]}"; do
    if [ "${t%%:*}" = "$1" ]; then echo "${t#*:}"; return 0; fi
  done
  echo "no fuzz target '$1' (targets: ${targets[*]%%:*})" >&2
  return 1
}

build() {
  local names=() t
  for t in "${targets[@]}"; do names+=("fuzz_${t%%:*}"); done
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEX_FUZZ=ON \
    -DTORVEX_SANITIZE=ON -DTORVEX_TESTS=OFF -DTORVEX_WERROR="${TORVEX_WERROR:-OFF}" >/dev/null
  # Only the fuzz programs (and the libraries under them).
  cmake --build "$BUILD" -j"$(nproc)" --target "${names[@]}"
}

# The closing figures of a libFuzzer log: executions, edges, features,
# corpus, exec/s and peak memory.
figures() {  # log
  local line runs cov ft corp
  line=$(grep -E '^#[0-9]+' "$1" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$1")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
  corp=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$line")
  printf '%s %s %s %s %s %s\n' "${runs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" \
    "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$1")" "$(sed -n 's/^stat::peak_rss_mb: *//p' "$1")"
}

failures=0
summary=()

# Runs one target: mode, name, seconds, most executions (0: no limit).
run() {
  local mode=$1 name=$2 seconds=$3 runs=$4 folder work log status start extra
  folder=$(folderof "$name")
  work=$BUILD/runs/$mode/$name
  log=$BUILD/runs/$mode/$name.log
  # The ci run always starts from the repository's corpus: what an earlier
  # run found must not decide whether this one passes.
  [ "$mode" = ci ] && rm -rf "$work"
  mkdir -p "$work/corpus" "$work/found"
  local seeds=("$root/$folder/corpus")
  if [ -d "$SAMPLES" ]; then
    seeds+=("$SAMPLES")
  elif [ "${CI:-}" = "true" ]; then
    echo "CI=true: $SAMPLES is missing; the targets must be seeded with the real game files" >&2
    return 1
  fi
  local options=(-max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=20
                 -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$work/found/")
  [ "$runs" -gt 0 ] && options+=(-runs="$runs")
  # More libFuzzer options from the environment (FUZZ_OPTIONS="-max_len=4096 ...").
  read -r -a extra <<<"${FUZZ_OPTIONS:-}"
  options+=("${extra[@]}")
  local dict
  for dict in "$root/$folder"/*.dict; do
    [ -f "$dict" ] && options+=(-dict="$dict")
  done
  echo "-- $name: ${seconds} s$([ "$runs" -gt 0 ] && echo ", at most $runs executions")"
  start=$SECONDS
  status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$BUILD/fuzz/${folder#fuzz/}/fuzz_$name" "${options[@]}" "$work/corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  local f
  f=$(figures "$log")
  local r cov ft corp eps rss
  read -r r cov ft corp eps rss <<<"$f"
  summary+=("$(printf '%-10s %12s %8s %6s %7s %14s %6s %5s' "$name" "$r" "$eps" "$cov" "$ft" "$corp" "$rss" "$((SECONDS - start))")")
  local found
  found=$(find "$work/found" -type f | sort)
  if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    failures=$((failures + 1))
    echo "FAILED: fuzz_$name (exit status $status); the end of its log ($log):"
    grep -E 'ERROR|SUMMARY|WARNING|==[0-9]+==|Test unit written|runtime error' "$log" | head -n 20 || true
    tail -n 5 "$log"
    local input
    for input in $found; do
      echo "input saved at $input"
      echo "  (mend the reader, then copy it into $folder/corpus/ so that its replay test keeps it)"
    done
  fi
}

table() {
  echo
  printf '%-10s %12s %8s %6s %7s %14s %6s %5s\n' target executions exec/s edges features corpus MB s
  printf '%s\n' "${summary[@]}"
}

mode=${1:-ci}
case "$mode" in
  build)
    build
    ;;
  ci)
    total=${2:-300}
    build
    share=$((total / ${#targets[@]}))
    for t in "${targets[@]}"; do run ci "${t%%:*}" "$share" 0; done
    table
    ;;
  campaign)
    seconds=${2:-1800}
    build
    for t in "${targets[@]}"; do run campaign "${t%%:*}" "$seconds" 10000000; done
    table
    ;;
  -h | --help | help)
    sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    build
    for name in "$@"; do
      folderof "$name" >/dev/null
      run single "$name" "${FUZZ_SECONDS:-60}" 0
    done
    table
    ;;
esac

if [ "$failures" -gt 0 ]; then
  echo "$failures fuzz target(s) failed"
  exit 1
fi
