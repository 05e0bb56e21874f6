#!/usr/bin/env bash
# The portable archive from a build folder: the program folder exactly as the
# package installs it (no installed.txt, which would send every user to a
# folder of their own), with README.txt. Made from a clean staging install,
# so nothing the build folder gathered while it was used (saved unit files,
# an edited setcom.ini, logs, an operator's own text tables) gets in.
#   bash scripts/portable.sh BUILD OUT [strip]  -> OUT/qml47210-<version>-portable.tar.gz
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=qml47210-$version
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
strip=()
[ "${3:-}" = strip ] && strip=(--strip)
DESTDIR="$stage/root" cmake --install "$build" --prefix /usr "${strip[@]}" > /dev/null
mv "$stage/root/usr/lib/qml47210" "$stage/$name"
rm -f "$stage/$name/installed.txt"
[ -L "$stage/$name/qmlsetup" ] && { echo "portable.sh: the program is a link"; exit 1; }
cp "$src/packaging/README-portable.txt" "$stage/$name/README.txt"
tar -C "$stage" --owner=0 --group=0 --sort=name -czf "$out/$name-portable.tar.gz" "$name"
echo "$out/$name-portable.tar.gz"
