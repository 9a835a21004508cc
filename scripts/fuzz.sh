#!/usr/bin/env bash
# Builds the request fuzzer with clang (libFuzzer, address and undefined
# behaviour sanitizers) and runs it over the seed corpus in tests/fuzz/corpus.
#
#   scripts/fuzz.sh                 # until stopped (Ctrl-C)
#   scripts/fuzz.sh --seconds 600   # for ten minutes
#   scripts/fuzz.sh --runs 200000   # for that many executions
#
# What it learns stays in $KELP_FUZZ_BUILD_DIR/corpus (build-fuzz/ by
# default) for the next run; an input that breaks a promise is written to
# build-fuzz/findings/ and the script exits non-zero. Keep each such input in
# tests/fuzz/corpus once it is fixed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_FUZZ_BUILD_DIR:-$repo/build-fuzz}
limit=()
case "${1:-}" in
  --seconds) limit=(-max_total_time="${2:?--seconds needs a number}") ;;
  --runs) limit=(-runs="${2:?--runs needs a number}") ;;
  "") ;;
  *) echo "usage: $0 [--seconds N | --runs N]" >&2; exit 2 ;;
esac

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELP_FUZZ=ON >/dev/null
cmake --build "$build" --target kelp_request_fuzzer -j "$(nproc 2>/dev/null || echo 2)"

mkdir -p "$build/corpus" "$build/findings"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# New inputs go to the first folder only: the seeds in the tree stay as they are.
"$build/tests/fuzz/kelp_request_fuzzer" "${limit[@]}" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -dict="$repo/tests/fuzz/requests.dict" -artifact_prefix="$build/findings/" \
  "$build/corpus" "$repo/tests/fuzz/corpus"
