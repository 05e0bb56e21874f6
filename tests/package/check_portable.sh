#!/usr/bin/env bash
# The portable archive holds the program folder as the package installs it,
# README.txt and nothing else: not what the build folder gathered in use.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
stray=("$build/app/unit-COM1-20261207.ini" "$build/app/dispname.ini" "$build/app/Log20261207120000.log")
trap 'rm -rf "$out"; rm -f "${stray[@]}"' EXIT
for f in "${stray[@]}"; do echo "an operator's file" > "$f"; done
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
echo "portable ok: $(basename "$archive") ($(wc -l <<< "$in_archive") files)"
