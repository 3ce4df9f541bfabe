#!/usr/bin/env bash
# Builds the fuzzers with clang (ASan + UBSan + float-cast-overflow) and runs each for a bounded time on
# a scratch copy of its corpus, so CI never changes the corpus in the repository.
#
#   fuzz/run.sh [SECONDS_PER_FUZZER] [FUZZER...]     default 60 s, every fuzzer
#
# A finding stops that fuzzer; its input is kept as build-fuzz/findings/<fuzzer>/crash-* and the script
# ends with status 1. Turn a finding into a regression input once fixed: copy it into
# fuzz/corpus/<fuzzer>/ (each harness's ctest runs that corpus in the fuzz build).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=${ZELVIK_FUZZ_BUILD:-build-fuzz}
fuzzers=("$@")
if [ ${#fuzzers[@]} -eq 0 ]; then
  fuzzers=($(ls fuzz/corpus))
fi

cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELVIK_BUILD_FUZZERS=ON -DZELVIK_BUILD_TESTS=OFF -DZELVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${fuzzers[@]}"

status=0
for fuzzer in "${fuzzers[@]}"; do
  work="$build/fuzz-work/$fuzzer"
  findings="$build/findings/$fuzzer"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  cp -r "fuzz/corpus/$fuzzer/." "$work/"
  echo "== $fuzzer: ${seconds} s =="
  if ! "$build/fuzz/$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$work" 2>"$build/$fuzzer.log"; then
    status=1
    echo "$fuzzer found a fault: see $build/$fuzzer.log and $findings/"
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^Done [0-9]+ runs" "$build/$fuzzer.log" || true
done
exit $status
