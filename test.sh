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
# The end-to-end tests leave about a quarter of the cores idle while they wait (on Squid,
# PostgreSQL, sleeps): one test more than there are cores fills that time.
test_jobs=$((jobs + 1))

stage "Build (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "$jobs"
stage "Tests"
(cd build && ctest --output-on-failure -j "$test_jobs" --timeout 300)

stage "Build with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMINUTRIX_SANITIZE=asan-ubsan \
  -DMINUTRIX_BUILD_BENCH=OFF >/dev/null
ninja -C build-asan -j "$jobs"
stage "Tests under the sanitizers"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$test_jobs" --timeout 600)
stage "Build with ThreadSanitizer (build-tsan/): the filter under concurrent requests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMINUTRIX_SANITIZE=tsan \
  -DMINUTRIX_BUILD_BENCH=OFF >/dev/null
ninja -C build-tsan -j "$jobs" filter_host_tests minutrix-machine minutrix-db Minutrix
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure --timeout 600 -R 'Concurrent')
stage "All tests passed"
