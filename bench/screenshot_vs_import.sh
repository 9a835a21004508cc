#!/usr/bin/env bash
# How long kelp-cua's "screenshot" takes, beside the common shell pipeline
# that makes the same picture: ImageMagick's `import` of the root window,
# resized to 1024 wide, JPEG at quality 62, as base-64.
#
#   bench/screenshot_vs_import.sh [REPEATS]      REPEATS defaults to 30
#
# It builds kelp-cua in build/ (or in $KELP_BUILD_DIR), starts a private
# headless desktop (Xvfb 1920x1080, its own D-Bus session, the accessibility
# bus, openbox) with gtk3-widget-factory in front, and in the same run:
#   - sends "screenshot" REPEATS times to one kelp-cua in server mode, each
#     timed from writing the request to reading the last byte of its reply;
#   - runs `import -window root -resize 1024x -quality 62 jpg:- | base64 -w0`
#     REPEATS times, each timed from start to end.
# The two alternate in rounds ($KELP_BENCH_ROUNDS, default 3), so that both
# see the same load. It prints both medians and their ratio, then the
# median of each stage of a capture (bench/screenshot_stages_bench.cc, in the
# same desktop, $KELP_BENCH_STAGE_REPEATS repetitions, default 9).
# Everything it starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-30}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage

missing=()
command -v import >/dev/null 2>&1 || missing+=(imagemagick)
command -v base64 >/dev/null 2>&1 || missing+=(coreutils)
if ((${#missing[@]})); then
  echo "screenshot_vs_import: missing package(s): ${missing[*]} (apt-get install imagemagick)" >&2
  exit 1
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
python=/usr/bin/python3
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua kelp_bench >/dev/null
helper="$build/kelp-cua"
stages="$build/bench/kelp_bench"

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-bench
desktop_start_app widget-factory gtk3-widget-factory

rounds=${KELP_BENCH_ROUNDS:-3}
per_round=$(((repeats + rounds - 1) / rounds))

echo "screenshot_vs_import: $(date -u +%Y-%m-%dT%H:%M:%SZ), $((rounds * per_round)) of each" \
  "in $rounds alternating rounds, 1920x1080 screen, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
"$python" - "$helper" "$rounds" "$per_round" "$repo/bench" <<'PY'
import base64
import json
import statistics
import subprocess
import sys
import time

helper_path, rounds, per_round, bench = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
sys.path.insert(0, bench)
from time_requests import Helper  # noqa: E402

PIPELINE = "import -window root -resize 1024x -quality 62 jpg:- | base64 -w0"


def jpeg_size(text):
    """Width and height from a base-64 JPEG's first frame header."""
    data = base64.b64decode(text)
    i = 2
    while i + 9 < len(data):
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    return None


kelp, reference, pings = [], [], []
kelp_size = reference_size = None
helper = Helper(helper_path)
try:
    first = None
    for _ in range(rounds):
        for _ in range(per_round):
            reply, elapsed = helper.ask({"cmd": "screenshot"})
            if not reply.get("ok"):
                print("screenshot_vs_import: kelp-cua: %s" % json.dumps(reply), file=sys.stderr)
                sys.exit(1)
            kelp.append(elapsed * 1000.0)
            first = kelp[0] if first is None else first
            kelp_size = jpeg_size(reply["result"]["jpegBase64"])
        pings += [helper.ask({"cmd": "ping"})[1] * 1000.0 for _ in range(5)]
        for _ in range(per_round):
            start = time.perf_counter()
            done = subprocess.run(["sh", "-c", PIPELINE], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            reference.append((time.perf_counter() - start) * 1000.0)
            if done.returncode != 0 or not done.stdout:
                print("screenshot_vs_import: the import pipeline failed", file=sys.stderr)
                sys.exit(1)
            reference_size = jpeg_size(done.stdout)
finally:
    helper.close()

kelp_median = statistics.median(kelp)
reference_median = statistics.median(reference)
print("%-12s %10s %10s %10s %10s %10s" % ("", "median", "min", "max", "first", "picture"))
print("%-12s %8.1fms %8.1fms %8.1fms %8.1fms %10s" % (
    "kelp-cua", kelp_median, min(kelp), max(kelp), first, "%dx%d" % kelp_size))
print("%-12s %8.1fms %8.1fms %8.1fms %10s %10s" % (
    "import", reference_median, min(reference), max(reference), "", "%dx%d" % reference_size))
print("ratio %.1fx (import median / kelp-cua median; above 1: kelp-cua is faster); ping %.3fms" % (
    reference_median / kelp_median, statistics.median(pings)))
PY

"$stages" --benchmark_filter='^BM_Shot_' --benchmark_repetitions="${KELP_BENCH_STAGE_REPEATS:-9}" \
  --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null |
  "$python" -c '
import json, sys
print("stages (median of %s repetitions, ms):" % sys.argv[1])
for run in json.load(sys.stdin)["benchmarks"]:
    if run.get("aggregate_name") == "median":
        name = run["run_name"].removeprefix("BM_Shot_").split("/")[0]
        print("  %-16s %8.3f" % (name, run["real_time"]))
' "${KELP_BENCH_STAGE_REPEATS:-9}"
