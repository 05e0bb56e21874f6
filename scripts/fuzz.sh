#!/usr/bin/env bash
# Runs every fuzz target under libFuzzer (clang, with ASan and UBSan) for
# SECONDS each, default 60:  bash scripts/fuzz.sh 60
# Each target starts from its corpus in fuzz/corpus/<target>/; what it finds
# goes to build-fuzz/corpus/<target>/. An input that fails is saved in
# build-fuzz/crashes/<target>/: once fixed, copy it into fuzz/corpus/<target>/,
# where the test suite replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh
for p in clang libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "$p"
  fi
done
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQML_FUZZ=ON -DQML_SANITIZE=ON > /dev/null
targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
cmake --build build-fuzz -j "$(nproc)" --target $targets
export ASAN_OPTIONS="detect_leaks=1"
failed=()
for t in $targets; do
  name=${t#fuzz_}
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/crashes/$name"
  echo "== $name: $seconds s"
  if ! build-fuzz/fuzz/"$t" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/crashes/$name/" \
      "build-fuzz/corpus/$name" "fuzz/corpus/$name" > "build-fuzz/$name.log" 2>&1; then
    failed+=("$name")
    tail -n 30 "build-fuzz/$name.log"
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "build-fuzz/$name.log" | sed 's/^/   /'
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Failed: ${failed[*]} (inputs in build-fuzz/crashes/)"
  exit 1
fi
echo "All targets ran $seconds s without a failure."
