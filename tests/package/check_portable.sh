#!/usr/bin/env bash
# The portable archive holds the program folder as the package installs it,
# README.txt and nothing else: not what the build folder gathered in use.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
# What an operator leaves in the folder in use: a saved unit, a log, an own
# caption table; only what is not there already, and removed again.
planted=()
for f in "$build/app/unit-COM1-20261207.ini" "$build/app/dispname.ini" "$build/app/Log20261207120000.log"; do
  [ -e "$f" ] || { echo "an operator's file" > "$f"; planted+=("$f"); }
done
trap 'rm -rf "$out"; rm -f "${planted[@]}" "$build/install_manifest.txt"' EXIT
archive=$(bash "$src/scripts/portable.sh" "$build" "$out")
(cd "$build" && cpack -G DEB -B "$out" > /dev/null)
deb=$(ls "$out"/qml47210_*.deb)
name=$(basename "$archive" -portable.tar.gz)
in_archive=$(tar -tzf "$archive" | grep -v '/$' | sed "s|^$name/||" | sort)
in_package=$( (dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' \
               | sed -n 's|^\./usr/lib/qml47210/||p' | grep -vx installed.txt; echo README.txt) | sort)
if [ "$in_archive" != "$in_package" ]; then
  echo "the archive differs from the package's program folder:"
  diff <(echo "$in_package") <(echo "$in_archive") || true
  exit 1
fi
# Unpacked, qmlsetup without a command starts the window.
. "$(dirname "$0")/starts_window.sh"
mkdir "$out/unpacked"
tar -xzf "$archive" -C "$out/unpacked"
starts_window "$out/unpacked/$name" ./qmlsetup || { echo "the archive's qmlsetup did not start the window"; exit 1; }
# Without /proc (a chroot, a bare container) it finds the window program by
# the path it was started with.
if [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2> /dev/null; then
  starts_window "$out/unpacked/$name" unshare --mount --propagation private \
    sh -c 'mount -t tmpfs none /proc && exec ./qmlsetup' \
    || { echo "without /proc the archive's qmlsetup did not start the window"; exit 1; }
fi
echo "portable ok: $(basename "$archive") ($(wc -l <<< "$in_archive") files)"
