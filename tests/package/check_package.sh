#!/usr/bin/env bash
# The Debian package as CPack makes it from this build: the files an installed
# program needs are in it, and it depends on runtime packages only.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" > /dev/null)
deb=$(ls "$out"/qml47210_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/lib/qml47210/qmlsetup ./usr/lib/qml47210/qmlsetup-window ./usr/bin/qmlsetup ./usr/lib/qml47210/setcom.ini \
         ./usr/lib/qml47210/installed.txt \
         ./usr/lib/qml47210/FRH10.ini ./usr/lib/qml47210/debug.ini \
         ./usr/lib/qml47210/defaults/setcom.ini ./usr/lib/qml47210/defaults/FRH10.ini \
         ./usr/lib/qml47210/defaults/debug.ini \
         ./usr/lib/qml47210/lang/ja/dispname.ini ./usr/lib/qml47210/lang/ja/message.ini \
         ./usr/lib/qml47210/lang/en/dispname.ini ./usr/lib/qml47210/lang/en/message.ini \
         ./usr/share/applications/qml47210.desktop \
         ./usr/share/icons/hicolor/scalable/apps/qml47210.svg \
         ./usr/share/doc/qml47210/copyright ./usr/share/man/man1/qmlsetup.1.gz \
         ./usr/share/doc/qml47210/users-guide.md ./usr/share/doc/qml47210/users-guide.ja.md \
         ./usr/share/doc/qml47210/example-plan.ini ./usr/share/doc/qml47210/example-plan.ja.ini; do
  grep -qx -- "$f" <<< "$files" || { echo "missing from the package: $f"; exit 1; }
done
# No stray text files at the top of the program folder: the languages live in lang/.
if grep -qx -- "./usr/lib/qml47210/dispname.ini" <<< "$files"; then
  echo "dispname.ini beside the program would fix the language"; exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q "libqt6widgets6" <<< "$depends" && grep -q "fonts-ipafont-gothic" <<< "$depends" \
  && grep -q "libqt6sql6-sqlite" <<< "$depends" && grep -q "libqrencode4" <<< "$depends" \
  || { echo "runtime dependencies missing"; exit 1; }
# A team's server is a choice, not a need.
grep -q "libqt6sql6-psql" <<< "$(dpkg-deb -f "$deb" Suggests)" || { echo "the PostgreSQL driver not suggested"; exit 1; }
if grep -qE -- "-dev|cmake|g\+\+|qt6-tools" <<< "$depends"; then
  echo "a build tool among the dependencies"; exit 1
fi
# Unpacked, the desktop entry's command starts the window.
. "$(dirname "$0")/starts_window.sh"
dpkg-deb -x "$deb" "$out/root"
exec_line=$(sed -n 's/^Exec=//p' "$out/root/usr/share/applications/qml47210.desktop")
[ "$exec_line" = qmlsetup ] || { echo "the desktop entry runs $exec_line, not qmlsetup"; exit 1; }
starts_window "$out" "$out/root/usr/bin/$exec_line" \
  || { echo "the desktop entry's qmlsetup did not start the window"; exit 1; }
# The network plan's format where operators look for it: each section and
# key heads an item of the manual page's NETWORK PLAN and of network --help,
# and is written out in the user's guide, in either language.
page=$(zcat "$out/root/usr/share/man/man1/qmlsetup.1.gz" | sed -n '/^\.SH NETWORK PLAN/,/^\.SH [^N]/s/^\.B /|/p' | sed 's/\\-/-/g')
help=$("$build/app/qmlsetup" network --help | sed -n '/^Network plan:/,/^For example/s/^  \+/|/p')
guide=$(sed 's/`/|/g' "$out/root/usr/share/doc/qml47210/users-guide.md")
guide_ja=$(sed 's/`/|/g' "$out/root/usr/share/doc/qml47210/users-guide.ja.md")
for key in '[network]' '[node' format site band channel antenna bit-rate data-length parity stop-bits flow type port; do
  [[ $key == \[* ]] || key="$key ="
  for where in page help guide guide_ja; do
    grep -qF -- "|$key" <<< "${!where}" || { echo "the plan's '$key' is not in the $where"; exit 1; }
  done
done
echo "package ok: $(basename "$deb")"
