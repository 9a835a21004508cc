#!/usr/bin/env bash
# A long run of one kelp-cua in server mode, to show whether its memory grows.
# A benchmark to run by hand, not a test of the CI.
#
#   bench/soak.sh [COUNT]      COUNT defaults to 100000
#
# It starts a private headless desktop (Xvfb 1920x1080, its own D-Bus session,
# the accessibility bus, openbox; scripts/desktop-lib.sh) with
# gtk3-widget-factory and mousepad, then ONE kelp-cua in server mode, and
# sends it COUNT requests, one in flight at a time (bench/soak_driver.py), in
# a repeating cycle of ten:
#   tree (of gtk3-widget-factory and of mousepad in turn), ping, find "File"
#   in mousepad, act focus of gtk3-widget-factory's first text field, ping,
#   screenshot, menu File of mousepad listed, ping, find, ping.
# Each reply must be one JSON line with the request's id and a boolean "ok";
# the first missing or malformed one ends the run. It prints the helper's
# resident memory (VmRSS from /proc/PID/status) after the first 1,000
# requests and at the end, the growth, the requests and ok:false replies of
# each command, and progress (count, elapsed time, VmRSS) to stderr every
# 5,000 requests. At the end it closes the helper's input and checks that
# it ends with status 0.
#
# Exit status: 0 when the memory grew by less than 5 MB (1 MB = 1024 kB, as
# /proc counts), every reply came and was well formed, and the helper ended
# with status 0; 1 otherwise. Replies with "ok":false are counted and shown,
# not fatal. A full run takes some 20 to 40 minutes on two busy cores.
#
# It needs a built kelp-cua: build/kelp-cua, or the one $KELP_CUA names (it
# builds nothing). It needs python3, Xvfb, openbox, at-spi2-core, dbus,
# x11-utils, xdotool, gtk-3-examples (gtk3-widget-factory) and mousepad;
# scripts/setup.sh installs all of them. $KELP_SOAK_REPLY_TIMEOUT is the
# seconds a reply may take (default 120).
# Everything it starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [COUNT]" >&2; exit 2; }
(($# <= 1)) || usage
count=${1:-100000}
[[ "$count" =~ ^[1-9][0-9]*$ ]] || usage

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
helper=${KELP_CUA:-$repo/build/kelp-cua}
python=/usr/bin/python3
[[ -x "$helper" ]] || { echo "soak: no kelp-cua at $helper; build it (cmake --build build) or set \$KELP_CUA" >&2; exit 1; }
helper=$(cd "$(dirname "$helper")" && pwd)/$(basename "$helper")

missing=()
for command in python3 Xvfb openbox dbus-daemon gdbus xprop xdotool gtk3-widget-factory mousepad; do
  command -v "$command" >/dev/null 2>&1 || missing+=("$command")
done
if ((${#missing[@]})); then
  echo "soak: missing: ${missing[*]} (scripts/setup.sh installs everything)" >&2
  exit 1
fi

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-soak
desktop_start_app widget-factory gtk3-widget-factory
desktop_start_app mousepad mousepad

# On screen is not yet on the accessibility bus.
shows() {
  printf '{"cmd":"find","app":"%s","q":"%s"}\n' "$1" "$2" | "$helper" 2>/dev/null | grep -q '"ref":'
}
for app_word in "gtk3-widget-factory button" "mousepad File"; do
  read -r app word <<<"$app_word"
  deadline=$((SECONDS + 60))
  until shows "$app" "$word"; do
    ((SECONDS < deadline)) || { echo "soak: $app shows nothing on the accessibility bus" >&2; exit 1; }
    sleep 0.5
  done
done

echo "soak: $(date -u +%Y-%m-%dT%H:%M:%SZ), $count requests, $helper" \
  "(kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes'))," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
# shellcheck disable=SC2154 # set by desktop_start
log="$desktop_state/kelp-cua.log"
status=0
"$python" "$repo/bench/soak_driver.py" "$helper" "$count" "$log" || status=$?
if ((status != 0)) && [[ -s "$log" ]]; then
  echo "soak: the last lines kelp-cua wrote to stderr:" >&2
  tail -n 20 "$log" >&2
fi
exit "$status"
