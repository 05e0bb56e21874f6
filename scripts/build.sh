#!/usr/bin/env bash
# Configures and builds everything into build/; the program folder is build/app/.
# With SANITIZE=1 the build goes to build-asan/, under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SANITIZE:-0}" = 1 ]; then
  dir=build-asan
  options=(-DQML_SANITIZE=ON)
else
  dir=build
  options=(-DQML_SANITIZE=OFF)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" > /dev/null
cmake --build "$dir" -j "$(nproc)"
