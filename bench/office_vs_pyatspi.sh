#!/usr/bin/env bash
# "tree" and "find" of LibreOffice with real work open, beside a cold pyatspi
# walk of the same elements, and what the requests cost LibreOffice's memory:
# Calc with a sheet open, and Writer with its Options dialog in front.
#
#   bench/office_vs_pyatspi.sh [REPEATS]      REPEATS defaults to 15
#
# For each case, in one run: the resident memory of soffice.bin, then "tree"
# and "find" (bench/time_requests.py) and the reference walk
# (bench/reference_walk.py) in alternating rounds, then 100 more requests
# (tree and find in turn), then the resident memory again, after a pause for
# anything the requests set going. Writer is measured twice: the whole
# application as the plain requests walk it, and the window in front
# ("window":"front", "menus":false) beside a reference walk of the active
# window. The helper is built in build/ (or $KELP_BUILD_DIR); everything the
# script starts is stopped when it ends, however it ends.
set -euo pipefail

usage() { echo "usage: $0 [REPEATS]" >&2; exit 2; }
repeats=${1:-15}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || usage
max=${KELP_TREE_MAX:-400}
rounds=3
per_round=$(((repeats + rounds - 1) / rounds))

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELP_BUILD_DIR:-$repo/build}
python=/usr/bin/python3
"$repo/scripts/setup.sh" >/dev/null
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kelp-cua >/dev/null
helper="$build/kelp-cua"

# shellcheck source=scripts/desktop-lib.sh
source "$repo/scripts/desktop-lib.sh"
desktop_start kelp-office-bench
desktop_accessibility on

# A profile of its own, without the tip of the day and the first-run bar.
profile() {
  mkdir -p "$1/user"
  cat >"$1/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse"><value>7.4</value></prop></item>
</oor:items>
XCU
  echo "file://$1"
}

work="$desktop_state/office"
mkdir -p "$work"
{
  echo "Item,Amount"
  for ((i = 1; i <= 40; i++)); do echo "Item $i,$((i * 37 % 500))"; done
} >"$work/sales.csv"
soffice -env:UserInstallation="$(profile "$work/convert")" --headless --convert-to xlsx --outdir "$work" \
  "$work/sales.csv" >/dev/null 2>&1

ask() { printf '%s\n' "$@" | "$helper"; }
# The pid of soffice.bin that shows a window titled with $1.
office_pid() {
  local line
  line=$(ask '{"cmd":"windowtitles"}' | "$python" -c '
import json, sys
for window in json.load(sys.stdin)["result"]["windows"]:
    if sys.argv[1] in window["title"]:
        print(window["pid"]); break' "$1")
  [[ -n "$line" ]] && echo "$line"
}
rss_mb() { awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
await() {
  local what=$1
  shift
  local deadline=$((SECONDS + 90))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || { echo "office_vs_pyatspi: $what did not come" >&2; exit 1; }
    sleep 0.5
  done
}

desktop_spawn calc soffice -env:UserInstallation="$(profile "$work/calc")" --norestore --nologo --calc "$work/sales.xlsx"
await "Calc's window" office_pid "sales.xlsx"
calc=$(office_pid "sales.xlsx")
desktop_spawn writer soffice -env:UserInstallation="$(profile "$work/writer")" --norestore --nologo --writer
await "Writer's window" office_pid "LibreOffice Writer"
writer=$(office_pid "LibreOffice Writer")
ask "{\"cmd\":\"key\",\"pid\":$writer,\"key\":\"f12\",\"mods\":[\"alt\"]}" >/dev/null
await "Writer's Options dialog" office_pid "Options - LibreOffice"

# name | pid | word to find | request fields | reference root
cases=(
  "calc-sheet|$calc|amount|{}|app"
  "writer-options|$writer|load/save|{}|app"
  "writer-options-front|$writer|load/save|{\"window\":\"front\",\"menus\":false}|front"
)
echo "office_vs_pyatspi: $(date -u +%Y-%m-%dT%H:%M:%SZ), $((rounds * per_round)) requests per case and mode," \
  "max $max, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "kelp-cua $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')$(git -C "$repo" diff --quiet 2>/dev/null || echo '+changes')"
printf '%-34s %9s %12s %12s %10s %12s %9s\n' case elements kelp-first kelp-median recorded pyatspi ratio
declare -A memory
for spec in "${cases[@]}"; do
  IFS='|' read -r name pid word fields root <<<"$spec"
  before=$(rss_mb "$pid")
  for mode in tree find; do
    words=()
    [[ $mode == find ]] && words=("$word")
    results=()
    for ((round = 0; round < rounds; round++)); do
      results+=("$(KELP_REQUEST_FIELDS=$fields "$python" "$repo/bench/time_requests.py" "$helper" "pid:$pid" "$max" \
        "$per_round" "${words[@]}")")
      results+=("$(KELP_REFERENCE_ROOT=$root "$python" "$repo/bench/reference_walk.py" "pid:$pid" "$max" "$per_round")")
    done
    if printf '%s\n' "${results[@]}" | grep -q '"error"'; then
      echo "office_vs_pyatspi: $name: ${results[*]}" >&2
      exit 1
    fi
    printf '%s\n' "${results[@]}" | "$python" "$repo/bench/summarize_rounds.py" "$name $mode" 34
  done
  KELP_REQUEST_FIELDS=$fields "$python" "$repo/bench/time_requests.py" "$helper" "pid:$pid" "$max" 50 >/dev/null
  KELP_REQUEST_FIELDS=$fields "$python" "$repo/bench/time_requests.py" "$helper" "pid:$pid" "$max" 50 "$word" >/dev/null
  sleep 10
  memory[$name]="$before MB -> $(rss_mb "$pid") MB"
done
echo
echo "resident memory of soffice.bin before the case's requests and 10 s after its last (100 more requests):"
for spec in "${cases[@]}"; do
  name=${spec%%|*}
  echo "  $name: ${memory[$name]}"
done
echo "medians over all rounds; kelp-first: the first request of the first round;" \
  "ratio = pyatspi median / kelp-cua median (above 1: kelp-cua is faster)"
