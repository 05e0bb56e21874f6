#!/usr/bin/env bash
# Builds the Debian package and the portable archive into build-package/:
#   qml47210_<version>_<arch>.deb       install with: apt install ./qml47210_*.deb
#   qml47210-<version>-portable.tar.gz  the program folder, for machines without the package
# and checks the package with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for p in lintian; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" > /dev/null
done
out=build-package
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DQML_TESTS=OFF -DQML_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" > /dev/null
cmake --build "$out" -j "$(nproc)" --target qmlsetup qmlsetup-window packaging_docs
(cd "$out" && cpack -G DEB > /dev/null)
deb=$(ls "$out"/qml47210_*.deb)

# The portable archive: the installed program folder, from a clean staging
# install, with a README.
archive=$(bash scripts/portable.sh "$out" "$out" strip)

echo "$deb"
echo "$archive"
if report=$(lintian --fail-on error "$deb" 2>&1); then clean=1; else clean=0; fi
printf '%s\n' "$report" | grep -v "root privileges" || true
[ "$clean" = 1 ] && echo "lintian: no errors"
