#!/usr/bin/env bash
# The host as a real Flatpak, offline: a runtime made of this machine's own
# files (the host's libraries and the data GTK reads) is exported to a local
# repository, the host is built into an app with the manifest's own finish
# arguments, and both are installed into a user installation of this test's.
# On a private session (Xvfb, a session bus, the permission store, the
# document portal, xdg-desktop-portal with the GTK backend's Notification
# portal, and the recording notification server of portal_stand_ins.py)
# `flatpak run` starts it. Checked from outside:
#   * the process serving the socket runs in a sandbox of its own, whose
#     /.flatpak-info names the app;
#   * the socket lies in the folder Flatpak shares with the session, and
#     dravelctl finds it there without --socket;
#   * a notification shown through the Notification portal: the sandbox may
#     not talk to the notification server itself, and what reaches it names
#     the app as the portal does.
#
#   flatpak_run_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
app=app.dravel.Dravel
manifest=$source/packaging/flatpak/$app.json
libexec=/usr/libexec

T=$(mktemp -d)
chmod 755 "$T"
pids=()
cleanup() {
  set +e
  local i
  # Unmounted while the document portal still serves it.
  mountpoint -q "$T/run/doc" && fusermount3 -u "$T/run/doc"
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  wait 2>/dev/null
  chmod -R u+w "$T" 2>/dev/null
  rm -rf "$T"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for log in "$T"/log/*.log; do
    [ -s "$log" ] && { echo "== $(basename "$log")"; tail -20 "$log"; }
  done
  exit 1
}
# in_background NAME CMD...: CMD with its output in log/NAME.log.
in_background() {
  local name=$1
  shift
  "$@" >"$T/log/$name.log" 2>&1 &
  pids+=($!)
}
has_owner() {
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}
# wait_until SECONDS CMD...: polls CMD every 0.1 s.
wait_until() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}

mkdir -p "$T/home" "$T/run" "$T/log" "$T/portals"
chmod 700 "$T/run"
export HOME=$T/home XDG_RUNTIME_DIR=$T/run
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_CURRENT_DESKTOP=dravel-ci XDG_DESKTOP_PORTAL_DIR=$T/portals
export GSETTINGS_BACKEND=memory GIO_USE_VFS=local NO_AT_BRIDGE=1
export FLATPAK_USER_DIR=$T/flatpak DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
unset WAYLAND_DISPLAY FLATPAK_ID

# The session: an X server, a bus that starts nothing by itself, the
# services the portals need, the GTK backend and a notification server.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$T/display" >"$T/log/xvfb.log" 2>&1 &
pids+=($!)
wait_until 10 test -s "$T/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -1 "$T/display")
cat >"$T/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
in_background bus dbus-daemon --config-file="$T/bus.conf" --nofork
wait_until 10 test -S "$XDG_RUNTIME_DIR/bus" || fail "the session bus did not start"
in_background permission-store "$libexec/xdg-permission-store" --replace
wait_until 10 has_owner org.freedesktop.impl.portal.PermissionStore || fail "no permission store"
in_background document-portal "$libexec/xdg-document-portal" --replace
wait_until 10 has_owner org.freedesktop.portal.Documents || fail "no document portal"
in_background stand-ins /usr/bin/python3 "$source/tests/support/portal_stand_ins.py" \
  "$T/stand-ins.jsonl"
wait_until 10 has_owner org.freedesktop.Notifications || fail "no notification server"
cat >"$T/portals/gtk.portal" <<EOF
[portal]
DBusName=org.freedesktop.impl.portal.desktop.gtk
Interfaces=org.freedesktop.impl.portal.Notification;
UseIn=dravel-ci
EOF
GDK_BACKEND=x11 in_background portal-gtk "$libexec/xdg-desktop-portal-gtk" --replace
wait_until 20 has_owner org.freedesktop.impl.portal.desktop.gtk || fail "no GTK portal backend"
in_background portal "$libexec/xdg-desktop-portal" --replace
wait_until 20 has_owner org.freedesktop.portal.Desktop || fail "xdg-desktop-portal did not start"

# The runtime: the host's libraries, the dynamic loader and the data GTK
# reads, laid out as the runtime's /usr.
rt=$T/runtime
mkdir -p "$rt/files"
printf '[Runtime]\nname=org.example.HostFiles\nruntime=org.example.HostFiles/x86_64/1\nsdk=org.example.HostFiles/x86_64/1\n' >"$rt/metadata"
into_runtime() {
  local file
  for file in "$@"; do
    [ -e "$file" ] || continue
    file=${file/#\/lib/\/usr\/lib}
    mkdir -p "$rt/files/$(dirname "${file#/usr/}")"
    cp -a "$file" "$rt/files/$(dirname "${file#/usr/}")/"
  done
}
pixbuf=$(pkg-config --variable=gdk_pixbuf_binarydir gdk-pixbuf-2.0)
libs=$(ldd "$build/app/dravel-host" "$pixbuf"/loaders/*.so | awk '/=> \//{print $3} /^\t\/lib/{print $1}' | sort -u)
for lib in $libs; do
  into_runtime "$lib" "$(readlink -f "$lib")"
done
into_runtime /usr/lib64/ld-linux-x86-64.so.2 "$pixbuf" /usr/share/glib-2.0/schemas/gschemas.compiled
flatpak build-export --runtime --files=files --no-update-summary "$T/repo" "$rt" 1 \
  >"$T/log/export.log" 2>&1 || fail "the runtime was not exported"

# The app: the host, finished with the manifest's command and finish arguments.
mapfile -t finish < <(jq -r '."finish-args"[]' "$manifest")
command=$(jq -r .command "$manifest")
flatpak build-init "$T/app" "$app" org.example.HostFiles org.example.HostFiles 1 \
  >"$T/log/build.log" 2>&1 || true  # the runtime is not installed yet: checked below
{
  flatpak build-update-repo "$T/repo" &&
    flatpak --user remote-add --no-gpg-verify local "$T/repo" &&
    flatpak --user install -y --noninteractive local org.example.HostFiles//1 &&
    rm -rf "$T/app" &&
    flatpak build-init "$T/app" "$app" org.example.HostFiles org.example.HostFiles 1 &&
    install -D "$build/app/dravel-host" "$T/app/files/bin/$command" &&
    flatpak build-finish "$T/app" --command="$command" "${finish[@]}" &&
    flatpak build-export --no-update-summary "$T/repo" "$T/app" master &&
    flatpak build-update-repo "$T/repo" &&
    flatpak --user install -y --noninteractive local "$app"
} >>"$T/log/build.log" 2>&1 || fail "the app was not built and installed"

in_background host flatpak run "$app"
socket=$XDG_RUNTIME_DIR/app/$app/host.sock
wait_until 60 test -S "$socket" || fail "no socket at $socket"

# Who serves the socket: the listener's pid, as the kernel tells it.
listener=$(/usr/bin/python3 -c '
import socket, struct, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
print(struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0])' "$socket")
[ "$(readlink "/proc/$listener/ns/mnt")" != "$(readlink /proc/self/ns/mnt)" ] ||
  fail "the host serving $socket is not in a sandbox of its own"
grep -qx "name=$app" "/proc/$listener/root/.flatpak-info" ||
  fail "the sandbox's /.flatpak-info does not name $app"
[ "$(readlink "/proc/$listener/exe")" = "/app/bin/$command" ] ||
  fail "the listener is $(readlink "/proc/$listener/exe"), not the app's $command"

# dravelctl finds it without --socket; the notification goes through the
# portal.
"$build/app/dravelctl" --timeout 30 call dravel/notifications show \
  '{"title": "Screenshot saved", "body": "shot-001.png", "id": "shot-001"}' >"$T/shown.json" \
  2>"$T/log/dravelctl.log" || fail "dravelctl could not show a notification"
[ "$(tr -d ' \n' <"$T/shown.json")" = true ] || fail "the host answered $(cat "$T/shown.json")"
notified() {
  jq -e --arg app "$app" 'select(.call == "Notify") | .args |
    select(.[3] == "Screenshot saved" and .[4] == "shot-001.png" and .[6]["desktop-entry"] == $app)' \
    "$T/stand-ins.jsonl" >/dev/null
}
wait_until 10 notified ||
  fail "the notification server was not asked for $app: $(cat "$T/stand-ins.jsonl" 2>/dev/null)"
echo "flatpak run: the sandboxed host serves $socket; its notification came through the portal"
