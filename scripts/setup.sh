#!/usr/bin/env bash
# Installs every Debian package that building kelp-cua, its tests and its
# benchmarks need, and the npm packages of the MCP client test at the versions
# its lock file pins, and creates the system user that runs sway for the
# Wayland desktop tests. Does nothing when all of them are there already.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config g++
  nlohmann-json3-dev libicu-dev libglib2.0-dev libatspi2.0-dev
  libx11-dev libxrandr-dev libxtst-dev libxi-dev libxext-dev libxfixes-dev libpixman-1-dev
  libturbojpeg0-dev
  # the Wayland backend: the client library, the protocols' XML, keymaps
  libwayland-dev wayland-protocols libxkbcommon-dev
  # GNOME on Wayland: pictures come over PipeWire
  libpipewire-0.3-dev
  # the self-test's own window
  libgtk-3-dev
  # the Debian package: cpack's scan of the libraries it links (dpkg-shlibdeps)
  dpkg-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the request fuzzer: clang and its libFuzzer runtime
  clang libclang-rt-14-dev
  # the private desktop of the desktop tests, and the applications they drive
  xvfb openbox at-spi2-core dbus dbus-x11 x11-utils xdotool
  # the Wayland desktop: headless sway, run as a user of its own (setpriv),
  # and grim to read its screen
  sway grim util-linux
  gtk-3-examples zenity mousepad
  # GNOME and KDE Plasma on Wayland, headless: the compositors, PipeWire for
  # GNOME's screen cast, and setcap to run KWin in a container
  gnome-shell mutter pipewire wireplumber kwin-wayland libcap2-bin
  # the other toolkits: GTK 4, Qt 5 and 6, Chromium, Firefox, LibreOffice
  gnome-calculator featherpad qt6ct chromium firefox-esr libreoffice-writer libreoffice-gtk3
  # the applications of the task suite, and what reads the files they write
  libreoffice-calc nautilus gnome-text-editor xfce4-terminal unzip
  # the other programs the clipboard is shared with, on X11 and on Wayland
  xclip wl-clipboard
  # the reference walk the tree benchmark compares with
  python3-pyatspi
  # the shell pipelines the screenshot benchmarks compare with (import, convert)
  imagemagick
)
# The MCP client test runs the official SDK on Node.js. A machine may bring its
# own Node.js from elsewhere than Debian; any with npm, 18 or later, will do.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

install_client_packages() {
  # npm ls fails when a pinned package is missing or at another version.
  if ! npm ls --prefix "$repo/tests/mcp_client" >/dev/null 2>&1; then
    echo "setup: installing the MCP client test's npm packages"
    npm ci --prefix "$repo/tests/mcp_client" --no-audit --no-fund
  fi
}

# Sway refuses to run as root, so tests that run as root start it as this
# user (tests/desktop/harness.cc); tests that run as an ordinary user run it
# as themselves and need no such user.
sway_user=kelpdesk

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
user_missing=false
id -u "$sway_user" >/dev/null 2>&1 || user_missing=true

if ((${#missing[@]} == 0)) && ! $user_missing; then
  echo "setup: all ${#packages[@]} packages are installed, and the user $sway_user exists"
  install_client_packages
  exit 0
fi

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  if ((${#missing[@]})); then
    echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
  fi
  # Only root needs the user: this caller runs sway as itself.
  echo "setup: all ${#packages[@]} packages are installed; no user $sway_user (only tests run as root need it)"
  install_client_packages
  exit 0
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
if $user_missing; then
  echo "setup: creating the system user $sway_user"
  "${as_root[@]}" useradd --system --user-group --create-home --home-dir "/var/lib/$sway_user" --shell /usr/sbin/nologin \
    "$sway_user"
fi
install_client_packages
