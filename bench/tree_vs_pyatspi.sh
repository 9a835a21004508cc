#!/usr/bin/env bash
# How long kelp-cua's "tree" takes on real applications, beside a reference
# walk of the same elements through pyatspi.
#
#   bench/tree_vs_pyatspi.sh [REPEATS]      REPEATS defaults to 30
#
# It builds kelp-cua in build/ (or in $KELP_BUILD_DIR), starts a private
# headless desktop (Xvfb, its own D-Bus session, the accessibility bus,
# openbox) with gtk3-widget-factory and mousepad, and for each application,
# in the same run:
#   - sends "tree" (max $KELP_TREE_MAX, default 300) REPEATS times to
#     kelp-cua in server mode (one process per round), timing each request
#     from writing it to reading its reply (bench/time_requests.py);
#   - walks the same elements REPEATS times with bench/reference_walk.py,
#     reading role, name, description, text or value, states, extents and
#     children, with pyatspi's cache cleared before each walk.
# The two alternate in rounds ($KELP_BENCH_ROUNDS, default 3). It prints the
# medians side by side with their ratio; "ping" is the round trip of a
# request that does no accessibility work.
# Everything it starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-30}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage
max=${KELP_TREE_MAX:-300}

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
python=/usr/bin/python3
"$repo/scripts/setup.sh" >/dev/null
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua >/dev/null
helper="$build/kelp-cua"

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-bench
# The applications read the switch when they start.
desktop_accessibility on

apps=(gtk3-widget-factory mousepad)
desktop_start_app widget-factory gtk3-widget-factory
desktop_start_app mousepad mousepad

# On screen is not yet on the accessibility bus.
shows_elements() {
  printf '{"cmd":"tree","app":"%s","max":1}\n' "$1" | "$helper" | grep -q '"ref":0'
}
for app in "${apps[@]}"; do desktop_wait_until "$app on the accessibility bus" shows_elements "$app"; done

# The machine may be busy with other work; alternating rounds of the two
# measurements lets both see the same conditions.
rounds=${KELP_BENCH_ROUNDS:-3}
per_round=$(((repeats + rounds - 1) / rounds))

# Medians and other figures of the rounds' JSON results, one per line.
summarize() {
  "$python" -c '
import json, statistics, sys
kelp, reference = [], []
for line in sys.stdin:
    result = json.loads(line)
    (kelp if "ping_median_ms" in result else reference).append(result)
kelp_times = [t for r in kelp for t in r["times_ms"]]
reference_times = [t for r in reference for t in r["times_ms"]]
kelp_median = statistics.median(kelp_times)
reference_median = statistics.median(reference_times)
elements = sorted({n for r in kelp for n in r["elements"]})
print("%-20s %9s %10.2fms %10.2fms %10.3fms %10s %10.2fms %8.1fx" % (
    sys.argv[1], ",".join(map(str, elements)), kelp[0]["first_ms"], kelp_median,
    statistics.median(r["ping_median_ms"] for r in kelp),
    ",".join(sorted({str(r["recorded"]) for r in reference})), reference_median,
    reference_median / kelp_median))
' "$1"
}

echo "tree_vs_pyatspi: $(date -u +%Y-%m-%dT%H:%M:%SZ), $((rounds * per_round)) walks per application" \
  "in $rounds alternating rounds, max $max, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
printf '%-20s %9s %12s %12s %12s %10s %12s %9s\n' application elements kelp-first kelp-median kelp-ping \
  recorded pyatspi ratio
for app in "${apps[@]}"; do
  results=()
  for ((round = 0; round < rounds; round++)); do
    results+=("$("$python" "$repo/bench/time_requests.py" "$helper" "$app" "$max" "$per_round")")
    results+=("$("$python" "$repo/bench/reference_walk.py" "$app" "$max" "$per_round")")
  done
  if printf '%s\n' "${results[@]}" | grep -q '"error"'; then
    echo "tree_vs_pyatspi: $app: ${results[*]}" >&2
    exit 1
  fi
  printf '%s\n' "${results[@]}" | summarize "$app"
done
echo "medians over all rounds; kelp-first: the first request of the first round;" \
  "ratio = pyatspi median / kelp-cua median (above 1: kelp-cua is faster)"
