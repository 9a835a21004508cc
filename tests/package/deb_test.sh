#!/usr/bin/env bash
# The Debian package made from a build: cpack builds it into a scratch folder,
# the helper it holds runs from an unpacked root, and its Depends names the
# packages of every library the helper links and no development package.
#
# Usage: deb_test.sh BUILD_DIR SCRATCH_DIR VERSION
set -euo pipefail

build=$1 scratch=$2 version=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root"
# -B keeps cpack's staging and package out of the build folder, where a
# person's own cpack and other tests write.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  fail "cpack failed"
fi
deb=$scratch/out/kelp-cua_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "cpack made no $(basename "$deb"), only: $(ls "$scratch/out")"

dpkg -x "$deb" "$scratch/root"
helper=$scratch/root/usr/bin/kelp-cua
"$helper" doctor >"$scratch/doctor.out"
python3 - "$scratch/doctor.out" "$(realpath "$helper")" <<'PY' || fail "doctor's reply: $(cat "$scratch/doctor.out")"
import json, sys
text = open(sys.argv[1], encoding="utf-8").read()
assert text.endswith("\n") and text.count("\n") == 1, "not exactly one line"
reply = json.loads(text)
assert reply["ok"] is True, "not ok"
# The unpacked helper answered, not one installed elsewhere.
assert reply["result"]["helperPath"] == sys.argv[2], reply["result"]["helperPath"]
PY

# What a person sets up once on GNOME and KDE comes along: KWin's grant
# names the installed helper, and the extension installs from the package
# in the form each GNOME Shell takes.
entry=$scratch/root/usr/share/applications/kelp-cua.desktop
[[ -f $entry ]] || fail "no desktop entry for KWin's grant"
grep -qx 'Exec=/usr/bin/kelp-cua' "$entry" || fail "the desktop entry does not name /usr/bin/kelp-cua"
grep -q '^X-KDE-Wayland-Interfaces=.*org_kde_kwin_fake_input' "$entry" || fail "the desktop entry grants no fake input"
installer=$scratch/root/usr/share/kelp-cua/install-gnome-extension.sh
[[ -x $installer ]] || fail "no executable install-gnome-extension.sh"
for version in 43 46; do
  # No settings to write here: the script says so and fails after copying.
  KELP_GNOME_SHELL_VERSION=$version GSETTINGS_BACKEND=memory sh "$installer" "$scratch/data-$version" \
    >"$scratch/install-$version.log" 2>&1 || true
  extension=$scratch/data-$version/gnome-shell/extensions/kelp-cua@kelp.dev
  [[ -f $extension/metadata.json && -f $extension/extension.js && -f $extension/service.js ]] \
    || fail "GNOME Shell $version: the extension was not installed: $(cat "$scratch/install-$version.log")"
  if ((version >= 45)); then
    grep -q '^export default' "$extension/extension.js" || fail "GNOME Shell $version needs the ES module form"
  else
    ! grep -q '^export' "$extension/extension.js" || fail "GNOME Shell $version needs the old form"
  fi
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Package names alone: alternatives split, versions and architectures dropped.
names=$(tr ',|' '\n' <<<"$depends" | sed -E 's/\(.*\)//; s/:.*//; s/[[:space:]]//g' | sed '/^$/d' | sort -u)
dev=$(grep -- '-dev$' <<<"$names" || true)
[[ -z $dev ]] || fail "Depends names development packages: $dev"
grep -qx at-spi2-core <<<"$names" || fail "Depends does not name at-spi2-core"

needed=$(objdump -p "$helper" | awk '$1 == "NEEDED" { print $2 }')
[[ -n $needed ]] || fail "found no linked libraries in $helper"
for soname in $needed; do
  owners=$(dpkg-query -S "*/$soname" 2>/dev/null | grep -v '^diversion' | sed -E 's|: /.*||' | tr ', ' '\n' \
    | sed -E 's/:.*//; /^$/d' | sort -u || true)
  [[ -n $owners ]] || fail "no installed package holds $soname"
  [[ -n $(comm -12 <(echo "$owners") <(echo "$names")) ]] \
    || fail "$soname comes from ${owners//$'\n'/ }, which Depends does not name"
done
echo "package: $(basename "$deb"); doctor ok; Depends covers $(wc -w <<<"$needed") linked libraries"
