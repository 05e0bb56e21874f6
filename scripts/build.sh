#!/usr/bin/env bash
# Configures and builds everything into build/; the program folder is build/app/.
# With SANITIZE=1 the build goes to build-asan/, under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
# The plain build without debug information, the sanitized one with it (for
# its reports) but without the benchmarks: both fit the suite's time on two cores.
if [ "${SANITIZE:-0}" = 1 ]; then
  dir=build-asan
  # -O1 and line tables: what the sanitizers' reports need, built faster.
  options=(-DQML_SANITIZE=ON -DQML_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
           "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
else
  dir=build
  options=(-DQML_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release)
fi
cmake -S . -B "$dir" "${options[@]}" > /dev/null
cmake --build "$dir" -j "$(nproc)"
