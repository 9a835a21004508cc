# shellcheck shell=bash
# A private headless desktop for scripts: Xvfb on a display it picks itself
# with openbox, or headless sway; a D-Bus session bus of its own and the
# accessibility bus. Nothing of it is shared with the machine's own desktop.
#
# Source this file from a bash script that runs with `set -euo pipefail`, then:
#
#   desktop_start PREFIX            starts the X11 desktop; exports DISPLAY,
#                                   DBUS_SESSION_BUS_ADDRESS and the rest
#   desktop_start_sway PREFIX [WIDTH HEIGHT]
#                                   starts sway on one headless output
#                                   (1920x1080 unless told), as the user
#                                   kelpdesk when run as root (sway refuses
#                                   root); exports WAYLAND_DISPLAY, SWAYSOCK,
#                                   DBUS_SESSION_BUS_ADDRESS and the rest, no
#                                   DISPLAY
#   desktop_start_app LOG ARGV...   starts an application, waits until its
#                                   window is on screen and in front, and
#                                   sets desktop_app_pid
#   desktop_accessibility on|off    flips the accessibility switch
#
# desktop_start installs a trap that stops everything the desktop started
# (also what its daemons started on their own) when the script ends, however
# it ends. A script with its own EXIT work calls desktop_cleanup from it.

desktop_groups=()
desktop_state=
desktop_marker=
desktop_app_pid=
desktop_server=
desktop_sway_dir=

# Processes (other than this shell) whose environment carries the marker.
desktop_marked_processes() {
  local dir
  [[ -n "$desktop_marker" ]] || return 0
  for dir in /proc/[0-9]*; do
    [[ "${dir#/proc/}" == "$$" ]] && continue
    if tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "$desktop_marker"; then echo "${dir#/proc/}"; fi
  done
}

desktop_cleanup() {
  local i pid signal
  trap - EXIT INT TERM
  for ((i = ${#desktop_groups[@]} - 1; i >= 0; i--)); do
    kill -TERM -- "-${desktop_groups[i]}" 2>/dev/null || true
  done
  for signal in TERM KILL; do
    for _ in $(seq 40); do
      [[ -z "$(desktop_marked_processes)" ]] && break
      sleep 0.05
    done
    for pid in $(desktop_marked_processes); do kill "-$signal" "$pid" 2>/dev/null || true; done
  done
  wait 2>/dev/null || true
  [[ -n "$desktop_state" ]] && rm -rf "$desktop_state"
  [[ -n "$desktop_sway_dir" ]] && rm -rf "$desktop_sway_dir"
  desktop_groups=()
  desktop_state=
  desktop_sway_dir=
}

# Polls a command until it succeeds, for at most 20 seconds.
desktop_wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + 20))
  until "$@" >/dev/null 2>&1; do
    if ((SECONDS >= deadline)); then
      echo "desktop: timed out waiting for $what; logs are in $desktop_state/*.log:" >&2
      tail -n 5 "$desktop_state"/*.log >&2 || true
      exit 1
    fi
    sleep 0.05
  done
}

desktop_file_has_line() { [[ -s "$1" ]] && [[ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" == '\n' ]]; }

# Each part runs in a process group of its own (setsid), ended as a whole.
desktop_spawn() {
  local log=$1
  shift
  setsid "$@" >>"$desktop_state/$log.log" 2>&1 </dev/null &
  desktop_groups+=("$!")
}

desktop_accessibility() {
  local value
  case "$1" in
    on) value=true ;;
    off) value=false ;;
    *) echo "desktop_accessibility: on or off, not $1" >&2; return 2 ;;
  esac
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<$value>" >/dev/null
}

# The state directory, the marker, the traps and the environment that every
# kind of desktop shares.
desktop_prepare() {
  local prefix=$1
  desktop_state=$(mktemp -d "${TMPDIR:-/tmp}/$prefix.XXXXXX")
  mkdir -m 700 "$desktop_state/runtime" "$desktop_state/home"
  # Every process of the desktop carries this, also those its daemons start,
  # so that the cleanup finds what escaped the process groups.
  desktop_marker="KELP_DESKTOP_SESSION=$desktop_state"
  trap desktop_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  export KELP_DESKTOP_SESSION="$desktop_state"
  export XDG_RUNTIME_DIR="$desktop_state/runtime" HOME="$desktop_state/home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
  export GSETTINGS_BACKEND=memory GTK_USE_PORTAL=0 GDK_BACKEND=x11
  unset WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS XAUTHORITY SESSION_MANAGER NO_AT_BRIDGE DISPLAY DBUS_SESSION_BUS_ADDRESS
  unset WAYLAND_SOCKET SWAYSOCK I3SOCK QT_QPA_PLATFORM
}

desktop_start() {
  desktop_prepare "${1:-kelp-desktop}"
  desktop_server=x11

  setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$desktop_state/display" \
    >"$desktop_state/xvfb.log" 2>&1 </dev/null &
  desktop_groups+=("$!")
  desktop_wait_until "Xvfb to report its display" desktop_file_has_line "$desktop_state/display"
  DISPLAY=":$(head -n 1 "$desktop_state/display")"
  export DISPLAY
  desktop_wait_until "the X server on $DISPLAY" xprop -root -display "$DISPLAY"

  desktop_start_buses
  # Published on the root window, as a full X11 session does: Qt reads it there.
  local address
  address=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress |
    sed -e "s/^('//" -e "s/',)\$//")
  xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "$address"
  desktop_accessibility on

  desktop_spawn openbox openbox --sm-disable
  desktop_wait_until "openbox" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
}

# The session bus and the accessibility bus, for either kind of desktop.
desktop_start_buses() {
  # A session bus that activates nothing of the machine's own.
  cat >"$desktop_state/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=$desktop_state/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  setsid dbus-daemon --config-file="$desktop_state/session.conf" --nofork --nopidfile --print-address=3 \
    3>"$desktop_state/bus-address" >"$desktop_state/dbus.log" 2>&1 </dev/null &
  desktop_groups+=("$!")
  desktop_wait_until "the session bus" desktop_file_has_line "$desktop_state/bus-address"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$desktop_state/bus-address")
  export DBUS_SESSION_BUS_ADDRESS

  # The accessibility bus, turned on as a person does in the settings.
  local launcher='' candidate
  for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
    [[ -x "$candidate" ]] && launcher=$candidate && break
  done
  [[ -n "$launcher" ]] || { echo "desktop: at-spi-bus-launcher not found (package at-spi2-core)" >&2; exit 1; }
  desktop_spawn at-spi "$launcher" --launch-immediately
  desktop_wait_until "the accessibility bus" \
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress
}

desktop_sway_sockets_ready() {
  local dir=$1 socket
  WAYLAND_DISPLAY='' SWAYSOCK=''
  for socket in "$dir"/wayland-* "$dir"/sway-ipc.*.sock; do
    [[ -S "$socket" ]] || continue
    case "$socket" in
      */wayland-*) WAYLAND_DISPLAY=$socket ;;
      *) SWAYSOCK=$socket ;;
    esac
  done
  [[ -n "$WAYLAND_DISPLAY" && -n "$SWAYSOCK" ]]
}

desktop_start_sway() {
  desktop_prepare "${1:-kelp-desktop}"
  desktop_server=sway
  local width=${2:-1920} height=${3:-1080} user=kelpdesk home
  local -a as_user=()
  # Sway's own runtime directory, its user's and private, as sway demands,
  # outside the state directory, which that user cannot enter; the programs
  # of the desktop keep theirs ($XDG_RUNTIME_DIR).
  desktop_sway_dir=$(mktemp -d "${TMPDIR:-/tmp}/kelp-sway.XXXXXX")
  local sway_dir=$desktop_sway_dir
  home=$HOME
  if ((EUID == 0)); then
    id -u "$user" >/dev/null 2>&1 ||
      { echo "desktop: no user $user to run sway as (scripts/setup.sh creates it)" >&2; exit 1; }
    home=$(getent passwd "$user" | cut -d: -f6)
    chown "$user:" "$sway_dir"
    # The change of user clears the parent-death signal; set it again, so
    # that sway ends with this script even when no trap runs.
    as_user=(setpriv "--reuid=$user" "--regid=$user" --init-groups --pdeathsig=KILL)
  fi
  cat >"$sway_dir/config" <<CONF
output HEADLESS-1 resolution ${width}x${height} position 0 0
for_window [app_id=".*"] floating enable
xwayland disable
CONF
  chmod 644 "$sway_dir/config"
  setsid env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$sway_dir" "$desktop_marker" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    "${as_user[@]}" sway -c "$sway_dir/config" >"$desktop_state/sway.log" 2>&1 </dev/null &
  desktop_groups+=("$!")
  desktop_wait_until "sway's sockets in $sway_dir" desktop_sway_sockets_ready "$sway_dir"
  desktop_sway_sockets_ready "$sway_dir"
  export WAYLAND_DISPLAY SWAYSOCK GDK_BACKEND=wayland QT_QPA_PLATFORM=wayland
  desktop_wait_until "sway to answer on $SWAYSOCK" swaymsg -t get_version

  desktop_start_buses
  desktop_accessibility on
}

# Whether sway shows a view of process $1 (or of a child of it), focused.
desktop_sway_focuses() {
  swaymsg -r -t get_tree | python3 -c '
import json, sys

def descends(pid, ancestor):
    while pid > 1:
        if pid == ancestor:
            return True
        try:
            with open("/proc/%d/stat" % pid) as stat:
                pid = int(stat.read().rpartition(")")[2].split()[1])
        except OSError:
            return False
    return False

def views(node):
    if "pid" in node:
        yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from views(child)

ancestor = int(sys.argv[1])
sys.exit(0 if any(v["focused"] and descends(v["pid"], ancestor) for v in views(json.load(sys.stdin))) else 1)
' "$1"
}

desktop_start_app() {
  local log=$1
  shift
  desktop_spawn "$log" "$@"
  desktop_app_pid=${desktop_groups[-1]}
  if [[ "$desktop_server" == sway ]]; then
    desktop_wait_until "$1's window, focused" desktop_sway_focuses "$desktop_app_pid"
    return
  fi
  desktop_wait_until "$1's window" xdotool search --onlyvisible --pid "$desktop_app_pid"
  desktop_wait_until "$1 in front" \
    sh -c "[ \"\$(xdotool getactivewindow getwindowpid)\" = $desktop_app_pid ]"
}
