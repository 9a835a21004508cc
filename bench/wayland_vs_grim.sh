#!/usr/bin/env bash
# kelp-cua on Wayland: how long "screenshot" takes on sway, beside the common
# shell pipeline that makes the same picture there (grim's copy of the
# output, resized by ImageMagick to 1024 wide, JPEG at quality 62, as
# base-64), and how long "typetext" of 200 characters into the GTK widget
# factory's entry takes.
#
#   bench/wayland_vs_grim.sh [REPEATS]      REPEATS defaults to 30
#
# It builds kelp-cua in build/ (or in $KELP_BUILD_DIR), starts a private
# headless sway (one 1920x1080 output, its own D-Bus session, the
# accessibility bus; as the user kelpdesk when run as root) with
# gtk3-widget-factory as a Wayland client in front, and in the same run:
#   - sends "screenshot" REPEATS times to one kelp-cua in server mode, each
#     timed from writing the request to reading the last byte of its reply;
#   - runs `grim -t ppm - | convert - -resize 1024x -quality 62 jpg:- |
#     base64 -w0` REPEATS times, each timed from start to end;
#   - sends "typetext" with 200 characters (half of them Hangul) REPEATS
#     times into the factory's entry, which it focuses first and whose text
#     is selected before each, so that it does not grow.
# The screenshot pair alternates in rounds ($KELP_BENCH_ROUNDS, default 3),
# so that both see the same load. It prints the medians and the ratio. When
# kelp-cua cannot do the Wayland half (a build without the Wayland backend),
# it says why, still prints the grim figures, and exits with status 1.
# Everything it starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-30}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage

# Debian's own ImageMagick binary, so that the pipeline times ImageMagick
# itself and not whatever else answers to the name earlier in PATH.
convert=/usr/bin/convert
[[ -x "$convert" ]] || convert=$(command -v convert || true)
missing=()
[[ -n "$convert" ]] || missing+=(imagemagick)
for program in sway swaymsg grim; do
  command -v "$program" >/dev/null 2>&1 || missing+=("$program")
done
command -v base64 >/dev/null 2>&1 || missing+=(coreutils)
if ((${#missing[@]})); then
  echo "wayland_vs_grim: missing: ${missing[*]} (scripts/setup.sh installs them)" >&2
  exit 1
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
python=/usr/bin/python3
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua >/dev/null
helper="$build/kelp-cua"

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start_sway kelp-bench-wayland 1920 1080
desktop_start_app widget-factory gtk3-widget-factory

rounds=${KELP_BENCH_ROUNDS:-3}
per_round=$(((repeats + rounds - 1) / rounds))

echo "wayland_vs_grim: $(date -u +%Y-%m-%dT%H:%M:%SZ), $((rounds * per_round)) screenshots of each" \
  "in $rounds alternating rounds and $repeats typetext, sway $(swaymsg -t get_version -r | "$python" -c \
    'import json, sys; print(json.load(sys.stdin)["human_readable"])') 1920x1080 headless," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
status=0
"$python" - "$helper" "$rounds" "$per_round" "$repeats" "$repo/bench" "$convert" <<'PY' || status=$?
import base64
import json
import statistics
import subprocess
import sys
import time

helper_path, rounds, per_round, repeats, bench, convert = (
    sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6])
sys.path.insert(0, bench)
from time_requests import Helper  # noqa: E402

PIPELINE = "grim -t ppm - | %s - -resize 1024x -quality 62 jpg:- | base64 -w0" % convert
APP = "gtk3-widget-factory"
TYPED = "".join("가" if i % 2 else "a" for i in range(200))
# How long the factory may take to show its entry on the accessibility bus.
TREE_PATIENCE_S = 20


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


def ask_ok(helper, request):
    reply, elapsed = helper.ask(request)
    if not reply.get("ok"):
        raise RuntimeError("%s: %s" % (request["cmd"], json.dumps(reply, ensure_ascii=False)[:400]))
    return reply, elapsed


def factory_entry(helper):
    """The factory's first enabled entry outside a combo box, once it shows."""
    deadline = time.monotonic() + TREE_PATIENCE_S
    while True:
        reply, _ = ask_ok(helper, {"cmd": "tree", "app": APP, "max": 400})
        for node in reply["result"]["elements"]:
            # Disabled copies of the controls accept a value but not the focus.
            if (node["role"] == "AXTextField" and node.get("enabled")
                    and "AXComboBox" not in node.get("path", "")):
                return node
        if time.monotonic() > deadline:
            raise RuntimeError("no entry in %s's tree: %s" % (APP, json.dumps(reply)[:400]))
        time.sleep(0.2)


def row(name, times, first="", picture=""):
    print("%-12s %8.1fms %8.1fms %8.1fms %10s %10s" % (
        name, statistics.median(times), min(times), max(times), first, picture))


kelp, reference, pings, typing = [], [], [], []
kelp_size = reference_size = None
kelp_failure = None
typed_reply = None
helper = Helper(helper_path)
try:
    for _ in range(rounds):
        if kelp_failure is None:
            try:
                for _ in range(per_round):
                    reply, elapsed = ask_ok(helper, {"cmd": "screenshot"})
                    kelp.append(elapsed * 1000.0)
                    kelp_size = jpeg_size(reply["result"]["jpegBase64"])
                pings += [helper.ask({"cmd": "ping"})[1] * 1000.0 for _ in range(5)]
            except RuntimeError as error:
                kelp_failure = str(error)
        for _ in range(per_round):
            start = time.perf_counter()
            done = subprocess.run(["sh", "-c", PIPELINE], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            reference.append((time.perf_counter() - start) * 1000.0)
            if done.returncode != 0 or not done.stdout:
                print("wayland_vs_grim: the grim pipeline failed: %s" % done.stderr.decode(errors="replace"),
                      file=sys.stderr)
                sys.exit(2)
            reference_size = jpeg_size(done.stdout)
    if kelp_failure is None:
        try:
            entry = factory_entry(helper)
            ask_ok(helper, {"cmd": "act", "app": APP, "ref": entry["ref"], "action": "focus"})
            for _ in range(repeats):
                ask_ok(helper, {"cmd": "key", "key": "a", "mods": ["ctrl"]})
                typed_reply, elapsed = ask_ok(helper, {"cmd": "typetext", "text": TYPED})
                typing.append(elapsed * 1000.0)
        except RuntimeError as error:
            kelp_failure = str(error)
finally:
    try:
        helper.close()
    except Exception:  # a helper that hangs is ended with the desktop
        pass

print("%-12s %10s %10s %10s %10s %10s" % ("screenshot", "median", "min", "max", "first", "picture"))
if kelp:
    row("kelp-cua", kelp, "%8.1fms" % kelp[0], "%dx%d" % kelp_size)
row("grim", reference, "", "%dx%d" % reference_size)
if kelp:
    print("ratio %.1fx (grim median / kelp-cua median; above 1: kelp-cua is faster); ping %.3fms" % (
        statistics.median(reference) / statistics.median(kelp), statistics.median(pings)))
if typing:
    result = typed_reply["result"]
    print("%-12s %10s %10s %10s" % ("typetext", "median", "min", "max"))
    row("%d chars" % len(TYPED), typing)
    print("last typetext: landed %s in %s, %s characters in the field" % (
        result.get("landed"), result.get("into"), result.get("valueLen")))
if kelp_failure is not None:
    print("wayland_vs_grim: kelp-cua could not do its half on sway: %s" % kelp_failure, file=sys.stderr)
    sys.exit(1)
PY
exit "$status"
