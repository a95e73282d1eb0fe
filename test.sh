#!/usr/bin/env bash
# Installs what is missing (as root, from Debian), builds, and runs every test through ctest;
# then builds and runs the suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/prerequisites.sh
ensure_packages

jobs=$(nproc)
echo "== Build (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "$jobs"
echo "== Tests"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)

echo "== Build with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMINUTRIX_SANITIZE=asan-ubsan \
  -DMINUTRIX_BUILD_BENCH=OFF >/dev/null
ninja -C build-asan -j "$jobs"
echo "== Tests under the sanitizers"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs" --timeout 600)
echo "== All tests passed"
