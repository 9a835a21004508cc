#!/usr/bin/env bash
# kelp-cua on GNOME and KDE Plasma: how long "screenshot" and "typetext" of
# 200 characters (half of them Hangul, into mousepad) take on headless GNOME
# Shell and on headless KWin, beside each compositor's own screenshot
# interface (GNOME Shell's org.gnome.Shell.Screenshot, KWin's ScreenShot2),
# in one run.
#
#   bench/compositors_vs_own.sh [REPEATS]      REPEATS defaults to 20
#
# It builds kelp-cua and the bench program in build/ (or $KELP_BUILD_DIR);
# the program starts each desktop with the test harness (its own buses,
# PipeWire for GNOME, kelp-cua's shell extension and KDE desktop entry) with
# mousepad in front, keeps one kelp-cua in server mode for all requests, and
# prints the medians. Everything it starts is stopped when it ends.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-20}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua kelp_compositors_bench >/dev/null

echo "compositors_vs_own: $(date -u +%Y-%m-%dT%H:%M:%SZ), $(gnome-shell --version 2>/dev/null || echo 'no GNOME Shell')," \
  "KWin $(dpkg-query -W -f '${Version}' kwin-wayland 2>/dev/null || echo '?'), 1920x1080 headless," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
exec "$build/bench/kelp_compositors_bench" "$repeats"
