#!/usr/bin/env bash
# Builds the Debian package from a build directory into a temporary folder
# and checks what it holds: the programs, the desktop entry (valid), the icon,
# the documentation, and library dependencies that name GTK.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"
  exit 1
}
deb=$(ls "$work"/out/dravel-host_*.deb)
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"

status=0
for path in /usr/bin/dravel-host /usr/bin/dravelctl \
  /usr/share/applications/app.dravel.Dravel.desktop \
  /usr/share/icons/hicolor/scalable/apps/app.dravel.Dravel.svg \
  /usr/share/doc/dravel-host/README.md /usr/share/doc/dravel-host/architecture.md \
  /usr/share/dravel-host/scenarios/default.json; do
  if ! grep -qx "$path" "$work/contents"; then
    echo "missing from the package: $path"
    status=1
  fi
done
if grep -E '^/usr/(lib|include)/' "$work/contents" | grep -v '^/usr/lib/$'; then
  echo "the package holds libraries or headers it should not"
  status=1
fi

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/app.dravel.Dravel.desktop" || status=1
[ -x "$work/root/usr/bin/dravel-host" ] || { echo "dravel-host is not executable"; status=1; }
"$work/root/usr/bin/dravel-host" --help >/dev/null 2>&1 || { echo "the installed host does not run"; status=1; }

[ "$(dpkg-deb -f "$deb" Package)" = dravel-host ] || { echo "wrong package name"; status=1; }
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libgtk-3-0*) ;;
  *) echo "Depends does not name GTK: $depends"; status=1 ;;
esac
exit $status
