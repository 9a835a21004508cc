#!/usr/bin/env bash
# Shows kelp-cua at work on a private headless desktop (Xvfb, its own D-Bus
# session, the accessibility bus, openbox) with the GTK widget factory:
# first its self-test, which operates a window of its own, then sample
# requests against the factory.
#
#   scripts/demo.sh                 runs the self-test and sample requests, prints the replies
#   scripts/demo.sh --interactive   lets you type request lines yourself
#
# It builds kelp-cua in build/ (or in $KELP_BUILD_DIR).
# Everything the demo starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [--interactive]" >&2; exit 2; }
interactive=0
case "${1:-}" in
  "") ;;
  --interactive) interactive=1 ;;
  *) usage ;;
esac

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
"$repo/scripts/setup.sh"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua
helper="$build/kelp-cua"

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-demo

# The application, on screen and in front.
desktop_start_app widget-factory gtk3-widget-factory
app=$desktop_app_pid

echo "demo: private desktop on $DISPLAY with gtk3-widget-factory (pid $app)"
echo "demo: kelp-cua selftest"
"$helper" selftest
if ((interactive)); then
  echo "demo: type one JSON request per line, e.g. {\"cmd\":\"apps\",\"id\":1}; end with Ctrl-D"
  "$helper"
else
  requests=(
    '{"cmd":"doctor","id":1}'
    '{"cmd":"displays","id":2}'
    '{"cmd":"apps","id":3}'
    '{"cmd":"ping","id":4}'
    '{"cmd":"tree","app":"gtk3-widget-factory","max":5,"id":5}'
    '{"cmd":"find","app":"gtk3-widget-factory","q":"checkbutton","id":6}'
    '{"cmd":"act","app":"gtk3-widget-factory","locator":{"role":"AXTextField","label":"comboboxentry"},"action":"type","text":"hello from kelp-cua","id":7}'
    '{"cmd":"act","app":"gtk3-widget-factory","locator":{"role":"AXTextField","label":"hello from kelp-cua"},"action":"focus","id":8}'
    '{"cmd":"key","key":"end","id":9}'
    '{"cmd":"typetext","text":" — 안녕 😀","id":10}'
    '{"cmd":"windowtitles","id":11}'
    '{"cmd":"window","app":"gtk3-widget-factory","frame":{"x":40,"y":30},"id":12}'
  )
  mapfile -t replies < <(printf '%s\n' "${requests[@]}" | "$helper")
  for i in "${!requests[@]}"; do
    echo "> ${requests[i]}"
    echo "< ${replies[i]:-(no reply)}"
  done
fi
