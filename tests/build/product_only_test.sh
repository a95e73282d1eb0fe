#!/usr/bin/env bash
# Configures the tree as a machine without GoogleTest and Google Benchmark would (find_package of
# either refused) and checks that every deliverable and tool is still a target, and no test is.
set -euo pipefail
source_dir=$1 cmake=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! "$cmake" -S "$source_dir" -B "$scratch" -G Ninja -DMINUTRIX_BUILD_TESTS=OFF \
  -DMINUTRIX_BUILD_BENCH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$scratch/configure.log" 2>&1; then
  echo "FAIL: the product does not configure without the test frameworks"
  cat "$scratch/configure.log"
  exit 1
fi
targets=$(ninja -C "$scratch" -t targets all | sed 's/:.*//')
for wanted in Minutrix.dll setup minutrix-machine minutrix-db minutrix-cmd minutrix-squid-helper \
  minutrix-test-host; do
  grep -qx "$wanted" <<<"$targets" || { echo "FAIL: no target $wanted"; exit 1; }
done
if grep -q '_tests$\|store_bench' <<<"$targets"; then
  echo "FAIL: tests or benchmarks are built though switched off"
  exit 1
fi
echo "PASS"
