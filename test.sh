#!/usr/bin/env bash
# Installs what is missing (as root, from Debian), builds, and runs every test through ctest;
# then builds and runs the suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/prerequisites.sh
# Squid (Debian's OpenSSL build, for SslBump; it replaces the package squid), openssl, nginx, curl
# and htpasswd for the end-to-end tests through a real proxy; clang-format for the formatting check;
# Chromium with its WebDriver and Selenium for the console's test in a real browser; debhelper,
# lintian, shellcheck and logrotate for the Debian package's build and checks; PostgreSQL 15 for
# the tests of the store on a database server (each test runs a server of its own).
ensure_packages squid-openssl openssl nginx-light curl apache2-utils clang-format chromium \
  chromium-driver python3-selenium debhelper lintian shellcheck logrotate postgresql-15

# Each stage says when it starts, so that a slow one shows in CI's log.
stage() { echo "== $* ($(date -u +%H:%M:%S), ${SECONDS}s in)"; }
stage Formatting
scripts/check-format.sh

jobs=$(nproc)
# The end-to-end tests spend about a third of their time waiting (on Squid, PostgreSQL, sleeps):
# the next stage's build runs beside them at the lowest CPU and disk priority, so it takes only
# the time they leave idle and the tests' own timing is left alone.
background=
background_log=
in_background() {  # LOG COMMAND...: starts COMMAND at the lowest priority, its output in LOG
  background_log=$1
  shift
  local idle_io=(ionice -c 3)
  "${idle_io[@]}" true 2>/dev/null || idle_io=()
  nice -n 19 "${idle_io[@]}" "$@" >"$background_log" 2>&1 &
  background=$!
}
wait_background() {  # waits for the background build; its log when it failed
  local status=0
  wait "$background" || status=$?
  background=
  if [ "$status" -ne 0 ]; then
    cat "$background_log"
    echo "== The build in $background_log failed" >&2
    exit "$status"
  fi
  tail -n 1 "$background_log"
}
stop_background() { [ -z "$background" ] || kill "$background" 2>/dev/null || true; }
trap stop_background EXIT

stage "Build (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "$jobs"

stage "Tests, with the AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/) beside them"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMINUTRIX_SANITIZE=asan-ubsan \
  -DMINUTRIX_BUILD_BENCH=OFF >/dev/null
in_background build-asan/ninja-output.log ninja -C build-asan -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)
stage "The rest of the sanitizer build"
wait_background

stage "Tests under the sanitizers, with the ThreadSanitizer build (build-tsan/) beside them"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMINUTRIX_SANITIZE=tsan \
  -DMINUTRIX_BUILD_BENCH=OFF >/dev/null
in_background build-tsan/ninja-output.log \
  ninja -C build-tsan -j "$jobs" filter_host_tests minutrix-machine minutrix-db Minutrix
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs" --timeout 600)
stage "ThreadSanitizer: the filter under concurrent requests"
wait_background
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure --timeout 600 -R 'Concurrent')
stage "All tests passed"
