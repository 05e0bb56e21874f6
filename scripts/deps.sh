#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# when any is missing. The site book's drivers for SQLite and PostgreSQL are
# plugins of their own; its server tests start a real PostgreSQL from
# /usr/lib/postgresql/15/bin. The handover document's QR codes come from
# libqrencode; its tests print it in Chromium, read the PDF with poppler and
# its codes with zbar.
set -euo pipefail
packages=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          qt6-tools-dev qt6-l10n-tools dpkg-dev libqrencode-dev
          fonts-ipafont-gothic fonts-dejavu-core xvfb xauth
          libqt6sql6-sqlite libqt6sql6-psql postgresql
          chromium poppler-utils zbar-tools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
