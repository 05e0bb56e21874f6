#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless, the fuzz corpora
# included. With SANITIZE=1, all of it under ASan and UBSan (in build-asan/);
# any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
if [ "${SANITIZE:-0}" = 1 ]; then
  cd build-asan
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$PWD/../scripts/lsan.supp:print_suppressions=0"
else
  cd build
fi
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
