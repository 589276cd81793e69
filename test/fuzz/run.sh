#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz and runs each for
# FUZZ_SECONDS (default 60) on a scratch copy of its seed corpus. Fails on the first crash;
# the crashing input is kept under build-fuzz/fuzz-artifacts/ (add it to the corpus as a
# regression seed once fixed).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD:-$here/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
third_party=${VX_THIRD_PARTY_DIR:-$here/build/third_party}

# name:corpus, in the order they run
targets=(
  "fuzz_get_credentials:$here/test/fuzz/corpus/get_credentials"
  "fuzz_url_encode:$here/test/fuzz/corpus/url_encode"
  "fuzz_server_core:$here/test/http_server/fuzz_corpus"
)

stage() { printf '== %s\n' "$*"; }
now() { date +%s; }

start=$(now)
stage "configure and build $build (clang, address,undefined)"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DVX_BUILD_FUZZ=ON -DVX_SANITIZE=address,undefined \
  -DVX_BUILD_BENCH=OFF -DVX_THIRD_PARTY_DIR="$third_party" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target "${targets[@]%%:*}"
printf '   build: %ss\n' $(($(now) - start))

# log4cxx frees appender internals with a mismatched type; everything else stays checked.
export ASAN_OPTIONS=${ASAN_OPTIONS:-new_delete_type_mismatch=0:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/fuzz-artifacts"
scratch=$(mktemp -d /tmp/vx-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
status=0
for entry in "${targets[@]}"; do
  name=${entry%%:*} corpus=${entry#*:}
  mkdir -p "$scratch/$name"
  cp -r "$corpus/." "$scratch/$name/"
  stage "$name: ${seconds}s on $(ls "$corpus" | wc -l) seeds"
  began=$(now)
  binary=$(find "$build/test" -type f -name "$name" | head -n 1)
  log="$build/fuzz-artifacts/$name.log"
  if "$binary" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-artifacts/$name-" "$scratch/$name" >"$log" 2>&1; then
    result="ok, $(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$') runs"
  else
    result="CRASH, see $log"
    status=1
    grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -n 5 || true
  fi
  printf '   %s: %ss, %s\n' "$name" $(($(now) - began)) "$result"
done
printf '== total %ss\n' $(($(now) - start))
exit $status
