#!/usr/bin/env bash
# Installs every Debian package that building kelp-cua, its tests and its
# benchmarks need, and the npm packages of the MCP client test at the versions
# its lock file pins. Does nothing when all of them are installed already.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config g++
  nlohmann-json3-dev libicu-dev libglib2.0-dev libatspi2.0-dev
  libx11-dev libxrandr-dev libxtst-dev libxi-dev libxext-dev libxfixes-dev libpixman-1-dev
  libturbojpeg0-dev
  # the self-test's own window
  libgtk-3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the request fuzzer: clang and its libFuzzer runtime
  clang libclang-rt-14-dev
  # the private desktop of the desktop tests, and the applications they drive
  xvfb openbox at-spi2-core dbus dbus-x11 x11-utils xdotool
  gtk-3-examples zenity mousepad
  # the other toolkits: GTK 4, Qt 5 and 6, Chromium, Firefox, LibreOffice
  gnome-calculator featherpad qt6ct chromium firefox-esr libreoffice-writer libreoffice-gtk3
  # the reference walk the tree benchmark compares with
  python3-pyatspi
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

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages are installed"
  install_client_packages
  exit 0
fi

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
install_client_packages
