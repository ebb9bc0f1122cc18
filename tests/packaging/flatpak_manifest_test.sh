#!/usr/bin/env bash
# The Flatpak manifest as flatpak-builder reads it (the runtime itself cannot
# be had here): it parses, names the app and the freedesktop runtime, builds
# every module the runtime lacks from a release archive named by version and
# checksum, and asks for what the host needs and no more: Wayland with X11
# as the fallback, IPC, no filesystem, no whole bus, and no bus name a
# portal stands for.
#
#   flatpak_manifest_test.sh SOURCE_DIR
set -euo pipefail
manifest=$(cd "$1" && pwd)/packaging/flatpak/app.dravel.Dravel.json
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
  echo "$*"
  status=1
}

# flatpak-builder's own reading of it, run where nothing is built.
(cd "$work" && flatpak-builder --show-manifest "$manifest") >"$work/manifest.json" ||
  { echo "flatpak-builder cannot read $manifest"; exit 1; }
read_manifest() { jq -r "$1" "$work/manifest.json"; }

[ "$(read_manifest .id)" = app.dravel.Dravel ] || fail "the id is not the desktop entry's"
[ "$(read_manifest .runtime)" = org.freedesktop.Platform ] || fail "not the freedesktop runtime"
[ "$(read_manifest .sdk)" = org.freedesktop.Sdk ] || fail "not the freedesktop SDK"
[[ "$(read_manifest '."runtime-version"')" =~ ^[0-9]{2}\.08$ ]] || fail "no runtime branch"
[ "$(read_manifest .command)" = dravel-host ] || fail "the command is not the host"

# Every archive: https, a version in its name, a sha256.
while IFS=$'\t' read -r module type url sha; do
  case "$type" in
    archive | file)
      [[ "$url" =~ ^https:// ]] || fail "$module: $url is not fetched over https"
      [[ "$url" =~ [0-9]+\.[0-9]+(\.[0-9]+)? ]] || fail "$module: $url names no version"
      [[ "$sha" =~ ^[0-9a-f]{64}$ ]] || fail "$module: $url has no sha256"
      ;;
    dir) [ "$module" = dravel-host ] || fail "$module: only the host is built from this tree" ;;
    *) fail "$module: a $type source (archives with checksums only)" ;;
  esac
done < <(read_manifest '.modules[] | .name as $m | .sources[] |
  [$m, .type, (.url // .path), (.sha256 // "")] | @tsv')
[ "$(read_manifest '.modules[-1].name')" = dravel-host ] || fail "the host is not built last"
[[ $'\n'$(read_manifest '.modules[-1]."config-opts"[]')$'\n' == *$'\n'-DDRAVEL_TESTS=OFF$'\n'* ]] ||
  fail "the host's module builds the tests (GoogleTest is not in the runtime)"

# The sandbox's permissions.
mapfile -t finish < <(read_manifest '."finish-args"[]')
for wanted in --socket=wayland --socket=fallback-x11 --share=ipc; do
  [[ " ${finish[*]} " == *" $wanted "* ]] || fail "missing $wanted"
done
for arg in "${finish[@]}"; do
  case "$arg" in
    --socket=x11) fail "$arg: X11 only as the fallback to Wayland" ;;
    --socket=session-bus | --socket=system-bus) fail "$arg: the whole bus" ;;
    --filesystem=* | --device=all | --share=network) fail "$arg: more than the host needs" ;;
    --talk-name=org.freedesktop.portal.* | --talk-name=org.freedesktop.Notifications | \
      --talk-name=org.freedesktop.FileManager1 | --talk-name=org.freedesktop.Flatpak | \
      --talk-name=org.freedesktop.secrets)
      fail "$arg: a portal stands for it" ;;
  esac
done
exit $status
