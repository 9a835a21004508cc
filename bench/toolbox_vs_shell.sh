#!/usr/bin/env bash
# The tools of agents that look at the screen, beside the shell commands such
# an agent would run otherwise, in one private headless desktop (Xvfb
# 1920x1080, gtk3-widget-factory in front):
#   - "pointer" click at a point          vs  xdotool mousemove X Y click 1
#   - "screenshot" of a 400x300 region    vs  import -window root -crop 400x300+X+Y jpg:- | base64
#   - "clipboard" set, then read          vs  xclip -i, then xclip -o
#   - "wait" for an element already there (no peer: the cost of one look)
#
#   bench/toolbox_vs_shell.sh [REPEATS]      REPEATS defaults to 20
#
# Each kelp-cua request is timed from writing it to reading its reply, in one
# kelp-cua in server mode; each shell command from start to end. The two
# alternate in rounds ($KELP_BENCH_ROUNDS, default 3). The point clicked is an
# empty spot of the window, so the clicks change nothing.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-20}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage
for tool in xdotool import xclip; do
  command -v "$tool" >/dev/null 2>&1 || { echo "toolbox_vs_shell: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua >/dev/null

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-bench-toolbox
desktop_start_app widget-factory gtk3-widget-factory

version="$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
/usr/bin/python3 - "$build/kelp-cua" "$repeats" "${KELP_BENCH_ROUNDS:-3}" "$repo/bench" "$version" <<'PY'
import statistics
import subprocess
import sys
import time

helper_path, repeats, rounds, bench, version = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
per_round = -(-repeats // rounds)
with open("/proc/loadavg") as load:
    print("toolbox_vs_shell: %s, %d of each in %d rounds, load average %s, kelp-cua %s" % (
        time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()), rounds * per_round, rounds,
        " ".join(load.read().split()[:3]), version))
sys.path.insert(0, bench)
from time_requests import Helper  # noqa: E402

X, Y = 1700, 1000  # inside the factory's window, on no control
TEXT = "한글 😀 clipboard"
CASES = [
    ("pointer click", [{"cmd": "pointer", "action": "click", "x": X, "y": Y}],
     ["xdotool mousemove %d %d click 1" % (X, Y)]),
    ("region 400x300", [{"cmd": "screenshot", "region": {"x": 300, "y": 200, "w": 400, "h": 300}}],
     ["import -window root -crop 400x300+300+200 -quality 62 jpg:- | base64 -w0 >/dev/null"]),
    ("clipboard set+read", [{"cmd": "clipboard", "text": TEXT}, {"cmd": "clipboard"}],
     ["printf %%s '%s' | xclip -i -selection clipboard 2>/dev/null" % TEXT, "xclip -o -selection clipboard >/dev/null"]),
    ("wait, met at once", [{"cmd": "wait", "app": "gtk3-widget-factory",
                            "locator": {"role": "AXCheckBox", "label": "checkbutton"}}], []),
]

times = {name: ([], []) for name, _, _ in CASES}
helper = Helper(helper_path)
try:
    for _ in range(rounds):
        for name, requests, commands in CASES:
            ours, theirs = times[name]
            for _ in range(per_round):
                start = time.perf_counter()
                for request in requests:
                    reply, _ = helper.ask(request)
                    if not reply.get("ok") or reply["result"].get("met") is False:
                        sys.exit("toolbox_vs_shell: %s: %s" % (name, str(reply)[:300]))
                ours.append((time.perf_counter() - start) * 1000.0)
            for _ in range(per_round if commands else 0):
                start = time.perf_counter()
                for command in commands:
                    subprocess.run(["sh", "-c", command], check=True, stdout=subprocess.DEVNULL)
                theirs.append((time.perf_counter() - start) * 1000.0)
finally:
    helper.close()

print("%-20s %12s %12s %8s" % ("", "kelp-cua", "shell", "ratio"))
for name, (ours, theirs) in times.items():
    mine = statistics.median(ours)
    other = statistics.median(theirs) if theirs else None
    print("%-20s %10.1fms %12s %8s" % (name, mine, "%.1fms" % other if other else "-",
                                       "%.1fx" % (other / mine) if other else "-"))
PY
