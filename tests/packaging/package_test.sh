#!/usr/bin/env bash
# Builds the Debian package from a build directory into a temporary folder
# and checks what it holds: the programs, the desktop entry (valid), the icon,
# the documentation, the manual pages, and library dependencies that name
# GTK; lintian finds nothing to say of it. Then the host
# unpacked from it serves the X11 desktop this runs on (the test desktop):
# the client unpacked with it takes a screenshot of the primary monitor.
set -euo pipefail
build=$(cd "$1" && pwd)
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
  /usr/share/doc/dravel-host/copyright /usr/share/doc/dravel-host/changelog.gz \
  /usr/share/man/man1/dravel-host.1.gz /usr/share/man/man1/dravelctl.1.gz \
  /usr/share/dravel-host/scenarios/default.json; do
  if ! grep -qx "$path" "$work/contents"; then
    echo "missing from the package: $path"
    status=1
  fi
done
# Debian's own checks: nothing to report, errors and warnings alike.
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  echo "lintian reports:"
  cat "$work/lintian.log"
  status=1
fi
if grep -E '^/usr/(lib|include)/' "$work/contents" | grep -v '^/usr/lib/$'; then
  echo "the package holds libraries or headers it should not"
  status=1
fi

dpkg-deb -x "$deb" "$work/root"
entry="$work/root/usr/share/applications/app.dravel.Dravel.desktop"
desktop-file-validate "$entry" || status=1
# KWin hands screen pixels only to the program whose installed path an
# entry's Exec= names (a bare name on PATH is not matched) and that lists
# the interface.
grep -qx 'Exec=/usr/bin/dravel-host' "$entry" || { echo "Exec= does not name /usr/bin/dravel-host"; status=1; }
grep -qx 'X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2' "$entry" ||
  { echo "the entry does not grant KWin's ScreenShot2"; status=1; }
[ -x "$work/root/usr/bin/dravel-host" ] || { echo "dravel-host is not executable"; status=1; }
"$work/root/usr/bin/dravel-host" --help >/dev/null 2>&1 || { echo "the installed host does not run"; status=1; }

# The unpacked programs on the real screen.
host="$work/root/usr/bin/dravel-host"
ctl="$work/root/usr/bin/dravelctl"
"$host" --platform x11 --socket "$work/host.sock" >"$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do [ -S "$work/host.sock" ] && break; sleep 0.1; done
if "$ctl" --socket "$work/host.sock" screenshot -o "$work/shot.png"; then
  # The PNG header's width and height against the primary monitor's.
  size=$(od -An -tu1 -j16 -N8 "$work/shot.png" | awk '{print ($1*2^24+$2*2^16+$3*2^8+$4) "x" ($5*2^24+$6*2^16+$7*2^8+$8)}')
  primary=$(xrandr --listmonitors | awk '$2 ~ /\*/ {split($3, a, "[/x+]"); print a[1] "x" a[3]}')
  [ "$size" = "$primary" ] || { echo "screenshot is $size, the primary monitor $primary"; status=1; }
else
  echo "the unpacked client could not take a screenshot"; cat "$work/host.log"; status=1
fi
kill "$host_pid"; wait "$host_pid" || true

[ "$(dpkg-deb -f "$deb" Package)" = dravel-host ] || { echo "wrong package name"; status=1; }
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libgtk-3-0*) ;;
  *) echo "Depends does not name GTK: $depends"; status=1 ;;
esac
exit $status
