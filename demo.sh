#!/usr/bin/env bash
# Installs what is missing, builds, and shows the filter library loading in the test host on a
# fresh demonstration machine, with its log.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/prerequisites.sh
ensure_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build

root=$(mktemp -d /tmp/minutrix-demo.XXXXXX)
trap 'rm -rf "$root"' EXIT
export MINUTRIX_ROOT="$root/machine"
./build/minutrix-machine init "$MINUTRIX_ROOT"
mkdir -p "$MINUTRIX_ROOT/c/Minutrix"
cp build/Minutrix.dll "$MINUTRIX_ROOT/c/Minutrix/"
if [ -f build/UserTimesDB/UserTimesDB.mdb ]; then
  mkdir -p "$MINUTRIX_ROOT/c/Minutrix/UserTimesDB"
  cp build/UserTimesDB/UserTimesDB.mdb "$MINUTRIX_ROOT/c/Minutrix/UserTimesDB/"
fi
./build/minutrix-machine reg add 'HKLM\software\Minutrix' /v MinutrixPath /d 'c:\Minutrix\' /f >/dev/null
./build/minutrix-machine reg add 'HKLM\software\Minutrix' /v MinutrixDebug /d 1 /f >/dev/null
echo
./build/minutrix-machine reg query 'HKLM\software\Minutrix'
./build/minutrix-test-host --filter "$MINUTRIX_ROOT/c/Minutrix/Minutrix.dll" \
  --request 'DEMO\alice' 'http://www.example.com/' \
  --request '' 'http://www.example.com/' || true
echo
shopt -s nullglob
for f in "$MINUTRIX_ROOT"/c/Minutrix/MinutrixOutput*.txt "$MINUTRIX_ROOT"/c/Minutrix/Minutrix.sts*; do
  echo "---- $(basename "$f")"
  tr -d '\r' < "$f"
  echo
done
