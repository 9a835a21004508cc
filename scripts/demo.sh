#!/usr/bin/env bash
# Shows kelp-cua at work on a private headless desktop (Xvfb, its own D-Bus
# session, the accessibility bus, openbox) with the GTK widget factory.
#
#   scripts/demo.sh                 sends a few sample requests, prints the replies
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

state=$(mktemp -d "${TMPDIR:-/tmp}/kelp-demo.XXXXXX")
mkdir -m 700 "$state/runtime" "$state/home"
# Every process of the demo carries this, also those its daemons start.
marker="KELP_DESKTOP_SESSION=$state"
groups=()

marked_processes() {
  local dir
  for dir in /proc/[0-9]*; do
    [[ "${dir#/proc/}" == "$$" ]] && continue
    if tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "$marker"; then echo "${dir#/proc/}"; fi
  done
}

cleanup() {
  local i pid signal
  trap - EXIT INT TERM
  for ((i = ${#groups[@]} - 1; i >= 0; i--)); do kill -TERM -- "-${groups[i]}" 2>/dev/null || true; done
  for signal in TERM KILL; do
    for _ in $(seq 40); do
      [[ -z "$(marked_processes)" ]] && break
      sleep 0.05
    done
    for pid in $(marked_processes); do kill "-$signal" "$pid" 2>/dev/null || true; done
  done
  wait 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Polls a command until it succeeds, for at most 20 seconds.
wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + 20))
  until "$@" >/dev/null 2>&1; do
    if ((SECONDS >= deadline)); then
      echo "demo: timed out waiting for $what; logs are in $state/*.log:" >&2
      tail -n 5 "$state"/*.log >&2 || true
      exit 1
    fi
    sleep 0.05
  done
}

file_has_line() { [[ -s "$1" ]] && [[ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" == '\n' ]]; }

export KELP_DESKTOP_SESSION="$state"
export XDG_RUNTIME_DIR="$state/runtime" HOME="$state/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
export GSETTINGS_BACKEND=memory GTK_USE_PORTAL=0 GDK_BACKEND=x11
unset WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS XAUTHORITY SESSION_MANAGER NO_AT_BRIDGE DISPLAY DBUS_SESSION_BUS_ADDRESS

# Each part runs in a process group of its own (setsid), ended as a whole.
start() {
  local log=$1
  shift
  setsid "$@" >>"$state/$log.log" 2>&1 </dev/null &
  groups+=("$!")
}

# X server on a display it picks itself.
setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$state/display" >"$state/xvfb.log" 2>&1 </dev/null &
groups+=("$!")
wait_until "Xvfb to report its display" file_has_line "$state/display"
DISPLAY=":$(head -n 1 "$state/display")"
export DISPLAY
wait_until "the X server on $DISPLAY" xprop -root -display "$DISPLAY"

# A session bus that activates nothing of the machine's own.
cat >"$state/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=$state/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
setsid dbus-daemon --config-file="$state/session.conf" --nofork --nopidfile --print-address=3 \
  3>"$state/bus-address" >"$state/dbus.log" 2>&1 </dev/null &
groups+=("$!")
wait_until "the session bus" file_has_line "$state/bus-address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$state/bus-address")
export DBUS_SESSION_BUS_ADDRESS

# The accessibility bus, turned on as a person does in the settings.
launcher=
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [[ -x "$candidate" ]] && launcher=$candidate && break
done
[[ -n "$launcher" ]] || { echo "demo: at-spi-bus-launcher not found (package at-spi2-core)" >&2; exit 1; }
start at-spi "$launcher" --launch-immediately
a11y=(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus)
wait_until "the accessibility bus" "${a11y[@]}" --method org.a11y.Bus.GetAddress
"${a11y[@]}" --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null

# The window manager.
start openbox openbox --sm-disable
wait_until "openbox" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

# The application, on screen and in front.
start widget-factory gtk3-widget-factory
app=${groups[-1]}
wait_until "gtk3-widget-factory's window" xdotool search --onlyvisible --pid "$app"
wait_until "gtk3-widget-factory in front" \
  sh -c "[ \"\$(xdotool getactivewindow getwindowpid)\" = $app ]"

echo "demo: private desktop on $DISPLAY with gtk3-widget-factory (pid $app)"
if ((interactive)); then
  echo "demo: type one JSON request per line, e.g. {\"cmd\":\"apps\",\"id\":1}; end with Ctrl-D"
  "$helper"
else
  requests=(
    '{"cmd":"doctor","id":1}'
    '{"cmd":"displays","id":2}'
    '{"cmd":"apps","id":3}'
    '{"cmd":"ping","id":4}'
  )
  mapfile -t replies < <(printf '%s\n' "${requests[@]}" | "$helper")
  for i in "${!requests[@]}"; do
    echo "> ${requests[i]}"
    echo "< ${replies[i]:-(no reply)}"
  done
fi
