#!/bin/sh
# Installs kelp-cua's GNOME Shell extension (kelp-cua@kelp.dev) for the user
# who runs it and turns it on. Through it kelp-cua lists windows with their
# places, brings one forward and places it; GNOME has no stock interface an
# ordinary program may ask for that. GNOME Shell reads new extensions only
# when it starts: log out and in again afterwards.
#
#   scripts/install-gnome-extension.sh [DATA_HOME]
#
# DATA_HOME is where the extension goes (default: $XDG_DATA_HOME, else
# ~/.local/share); a test desktop passes its own. The form follows the
# installed GNOME Shell: 43 and 44 take the old one, 45 and later ES modules.
# Set KELP_GNOME_SHELL_VERSION to choose it without asking gnome-shell.
set -eu

UUID=kelp-cua@kelp.dev
here=$(cd "$(dirname "$0")" && pwd)
# From the source tree, or from where the package puts the extension.
source_dir=""
for candidate in "$here/../data/gnome-shell" "$here/gnome-shell" /usr/share/kelp-cua/gnome-shell; do
  if [ -f "$candidate/service.js" ]; then source_dir=$candidate; break; fi
done
if [ -z "$source_dir" ]; then
  echo "kelp-cua's GNOME Shell extension was not found beside this script" >&2
  exit 1
fi

data_home=${1:-${XDG_DATA_HOME:-$HOME/.local/share}}
version=${KELP_GNOME_SHELL_VERSION:-}
if [ -z "$version" ]; then
  if ! command -v gnome-shell >/dev/null 2>&1; then
    echo "gnome-shell is not installed here; set KELP_GNOME_SHELL_VERSION to install anyway" >&2
    exit 1
  fi
  version=$(gnome-shell --version | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
fi
case "$version" in
  ''|*[!0-9]*) echo "cannot tell the GNOME Shell version ('$version')" >&2; exit 1 ;;
esac
if [ "$version" -lt 43 ]; then
  echo "GNOME Shell $version is older than 43, which kelp-cua's extension needs" >&2
  exit 1
fi
form=43
[ "$version" -ge 45 ] && form=45

target="$data_home/gnome-shell/extensions/$UUID"
mkdir -p "$target"
cp "$source_dir/$form/extension.js" "$source_dir/$form/metadata.json" "$target/"
if [ "$form" = 45 ]; then
  # One source for both forms: the ES module form exports what the old
  # form's loader finds by itself.
  { cat "$source_dir/service.js"; printf '\nexport {INTERFACE, OBJECT_PATH, makeService};\n'; } > "$target/service.js"
else
  cp "$source_dir/service.js" "$target/"
fi
echo "installed the extension into $target"

# gnome-extensions asks the running shell, which does not know an extension
# installed since it started; the setting is read at its next start.
enabled=$(gsettings get org.gnome.shell enabled-extensions 2>/dev/null || echo "@as []")
case "$enabled" in
  *"'$UUID'"*) ;;
  "@as []"|"[]") gsettings set org.gnome.shell enabled-extensions "['$UUID']" 2>/dev/null || true ;;
  *) gsettings set org.gnome.shell enabled-extensions "$(echo "$enabled" | sed "s/]\$/, '$UUID']/")" 2>/dev/null || true ;;
esac
# The shell leaves out whatever disabled-extensions names, which turning the
# extension off once in the Extensions app puts there.
disabled=$(gsettings get org.gnome.shell disabled-extensions 2>/dev/null || echo "@as []")
case "$disabled" in
  *"'$UUID'"*)
    disabled=$(echo "$disabled" | sed "s/'$UUID'//; s/\[, /[/; s/, ,/,/; s/, \]/]/")
    case "$disabled" in "[]") disabled="@as []" ;; esac
    gsettings set org.gnome.shell disabled-extensions "$disabled" 2>/dev/null || true ;;
esac
gsettings set org.gnome.shell disable-user-extensions false 2>/dev/null || true
# gsettings succeeds even where dconf could not keep the change (no
# session bus): read it back.
case "$(gsettings get org.gnome.shell enabled-extensions 2>/dev/null)" in
  *"'$UUID'"*) on=true ;;
  *) on=false ;;
esac
case "$(gsettings get org.gnome.shell disabled-extensions 2>/dev/null)" in
  *"'$UUID'"*) on=false ;;
esac
if $on; then
  echo "turned it on; log out and in again so that GNOME Shell loads it"
else
  echo "could not turn it on (no GNOME session here?): in your GNOME session run" >&2
  echo "  gnome-extensions enable $UUID" >&2
  echo "after logging in again" >&2
  exit 1
fi
