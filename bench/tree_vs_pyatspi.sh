#!/usr/bin/env bash
# How long kelp-cua's "tree" and "find" take on real applications of every
# toolkit, beside a reference walk of the same elements through pyatspi.
#
#   bench/tree_vs_pyatspi.sh [REPEATS]      REPEATS defaults to 15
#
# It builds kelp-cua in build/ (or in $KELP_BUILD_DIR), starts a private
# headless desktop (Xvfb, its own D-Bus session, the accessibility bus,
# openbox) with gtk3-widget-factory and mousepad (GTK 3), gnome-calculator
# (GTK 4), featherpad (Qt 5), qt6ct (Qt 6), Chromium and Firefox on a page
# of 2,000 form controls, and LibreOffice Writer, and for each application,
# in the same run:
#   - sends "tree" (max $KELP_TREE_MAX, default 400) and then "find" of a
#     word REPEATS times each to kelp-cua in server mode (one process per
#     round), timing each request from writing it to reading its reply
#     (bench/time_requests.py);
#   - walks the same elements REPEATS times with bench/reference_walk.py,
#     reading role, name, description, text or value, states, extents and
#     children, with pyatspi's cache cleared before each walk.
# The measurements alternate in rounds ($KELP_BENCH_ROUNDS, default 3). It
# prints the medians side by side with their ratio; "ping" is the round trip
# of a request that does no accessibility work. Below each application's
# "tree" line, "bus" tells what one "tree" costs on the accessibility bus
# (build/bench/kelp_tree_traffic): the messages sent and the times the
# helper waited for answers, cold (the first request of a process) and warm
# (a later one), and the methods that took most of the warm messages.
# Once every application shows its elements it waits, up to $KELP_BENCH_SETTLE
# seconds (default 60), for the load average to fall below 0.5.
# $KELP_BENCH_APPS limits it to
# some of the applications (names as in the first column).
# Everything it starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-15}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage
max=${KELP_TREE_MAX:-400}

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
python=/usr/bin/python3
"$repo/scripts/setup.sh" >/dev/null
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua kelp_tree_traffic >/dev/null
helper="$build/kelp-cua"
traffic="$build/bench/kelp_tree_traffic"

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-bench
# The applications read the switch when they start.
desktop_accessibility on

# A page of 2,000 form controls for the browsers.
page="$desktop_state/form-2000.html"
{
  echo '<!doctype html><html><head><meta charset="utf-8"><title>2000 controls</title></head><body><form>'
  for ((i = 0; i < 1000; i++)); do
    echo "<p><label for=\"f$i\">Field $i</label> <input id=\"f$i\" type=\"text\"></p>"
  done
  for ((i = 0; i < 500; i++)); do echo "<label><input type=\"checkbox\"> Option $i</label>"; done
  for ((i = 0; i < 500; i++)); do echo "<button type=\"button\">Action $i</button>"; done
  echo '</form></body></html>'
} >"$page"
firefox_profile="$desktop_state/firefox"
mkdir -p "$firefox_profile"
printf 'user_pref("%s", %s);\n' browser.startup.homepage_override.mstone '"ignore"' \
  browser.aboutwelcome.enabled false startup.homepage_welcome_url '""' \
  datareporting.policy.dataSubmissionEnabled false browser.shell.checkDefaultBrowser false >"$firefox_profile/user.js"

# name for kelp-cua | name fragment for pyatspi | word to find | command
# Chromium 156 drops its page's elements a while after it started unless its
# accessibility is forced on, and the helper's first look no longer brings
# them back: the benchmark forces it, as it measures the walk, not the wake.
# It runs as root, where Chromium insists on --no-sandbox.
specs=(
  "gtk3-widget-factory|gtk3-widget-factory|button|gtk3-widget-factory"
  "mousepad|mousepad|save|mousepad"
  "gnome-calculator|gnome-calculator|7|gnome-calculator"
  "featherpad|featherpad|tab|featherpad"
  "qt6ct|qt6ct|style|qt6ct"
  "chromium|chromium|field 1|chromium --force-renderer-accessibility --no-sandbox --disable-gpu --no-first-run --disable-background-networking --disable-component-update --disable-sync --user-data-dir=$desktop_state/chromium file://$page"
  "firefox|firefox|field 1|firefox-esr --new-instance --profile $firefox_profile file://$page"
  "soffice|soffice|paragraph|libreoffice --writer --norestore --nologo"
)
apps=()
declare -A fragment query
for spec in "${specs[@]}"; do
  IFS='|' read -r name frag word command <<<"$spec"
  if [[ -n "${KELP_BENCH_APPS:-}" && " $KELP_BENCH_APPS " != *" $name "* ]]; then continue; fi
  apps+=("$name")
  fragment[$name]=$frag
  query[$name]=$word
  # shellcheck disable=SC2086
  desktop_spawn "$name" $command
done

# On screen is not yet on the accessibility bus, and a browser's page comes
# after its window.
shows_elements() {
  printf '{"cmd":"find","app":"%s","q":"%s","max":%s}\n' "$1" "${query[$1]}" "$max" | "$helper" | grep -q '"ref":'
}
for app in "${apps[@]}"; do
  deadline=$((SECONDS + 90))
  until shows_elements "$app"; do
    ((SECONDS < deadline)) || { echo "tree_vs_pyatspi: $app shows nothing" >&2; exit 1; }
    sleep 0.5
  done
done
# Showing elements is not being done with starting: the browsers and the
# office suite go on loading for a while, and the first rows measured
# would share the machine with them.
wait_for_quiet() {
  local deadline=$((SECONDS + ${KELP_BENCH_SETTLE:-60}))
  while ((SECONDS < deadline)); do
    awk '{ exit !($1 < 0.5) }' /proc/loadavg && return
    sleep 2
  done
}
wait_for_quiet

# The machine may be busy with other work; alternating rounds of the two
# measurements lets both see the same conditions.
rounds=${KELP_BENCH_ROUNDS:-3}
per_round=$(((repeats + rounds - 1) / rounds))

echo "tree_vs_pyatspi: $(date -u +%Y-%m-%dT%H:%M:%SZ), $((rounds * per_round)) requests per application and mode" \
  "in $rounds alternating rounds, max $max, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
printf '%-26s %9s %12s %12s %12s %10s %12s %9s\n' application elements kelp-first kelp-median kelp-ping \
  recorded pyatspi ratio
for app in "${apps[@]}"; do
  for mode in tree find; do
    words=()
    [[ $mode == find ]] && words=("${query[$app]}")
    results=()
    for ((round = 0; round < rounds; round++)); do
      results+=("$("$python" "$repo/bench/time_requests.py" "$helper" "$app" "$max" "$per_round" "${words[@]}")")
      results+=("$("$python" "$repo/bench/reference_walk.py" "${fragment[$app]}" "$max" "$per_round")")
    done
    if printf '%s\n' "${results[@]}" | grep -q '"error"'; then
      echo "tree_vs_pyatspi: $app: ${results[*]}" >&2
      exit 1
    fi
    printf '%s\n' "${results[@]}" | "$python" "$repo/bench/summarize_rounds.py" "$app $mode" 26 --ping
    if [[ $mode == tree ]]; then
      "$traffic" "$app" "$max" 3 | "$python" -c '
import json, sys
r = json.load(sys.stdin)
print("  bus: cold %d messages, %d waits; warm %d messages, %d waits" % (
    r["cold"]["messages"], r["cold"]["waits"], r["warm"]["messages"], r["warm"]["waits"]))
top = sorted(r["warm"]["byMethod"].items(), key=lambda item: -item[1])[:6]
print("  warm by method: " + ", ".join("%s %d" % item for item in top))'
    fi
  done
done
echo "medians over all rounds; kelp-first: the first request of the first round; find: the same walk, kept"\
  "to the elements whose label or value holds the word;" \
  "ratio = pyatspi median / kelp-cua median (above 1: kelp-cua is faster)"
