#!/usr/bin/env bash
# Builds kelp-cua twice, normally and with the address and undefined
# behaviour sanitizers, and runs every test in both builds, the desktop tests
# included (the task suite in the normal build only); then runs the request
# fuzzer for 200,000 inputs. Exits non-zero
# when anything fails.
#
# The builds go to build/, build-asan/ and build-fuzz/, or to $KELP_BUILD_DIR,
# $KELP_ASAN_BUILD_DIR and $KELP_FUZZ_BUILD_DIR.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
build=${KELP_BUILD_DIR:-$repo/build}
asan_build=${KELP_ASAN_BUILD_DIR:-$repo/build-asan}

"$repo/scripts/setup.sh"

echo "== normal build ($build)"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELP_SANITIZE=OFF
cmake --build "$build" -j "$jobs"
(cd "$build" && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build ($asan_build)"
cmake -S "$repo" -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELP_SANITIZE=ON -DKELP_BUILD_BENCH=OFF \
  -DKELP_BUILD_ONCE_RUN_TESTS=OFF
cmake --build "$asan_build" -j "$jobs"
# Full stacks on every allocation: the suppressions of the desktop's library
# leaks only match with them (the distribution's GLib has no frame pointers).
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:fast_unwind_on_malloc=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$repo/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The task suite's whole tasks and the GNOME and KDE desktops run once, in
# the normal build: they find faults of behaviour, and the sanitizers see the
# same code in the other desktop tests.
(cd "$asan_build" && ctest --output-on-failure -j "$jobs" -LE "tasks|compositors")

echo "== request fuzzer"
KELP_FUZZ_BUILD_DIR=${KELP_FUZZ_BUILD_DIR:-$repo/build-fuzz} "$repo/scripts/fuzz.sh" --runs 200000

echo "== all tests passed in both builds, and the fuzzer found nothing"
