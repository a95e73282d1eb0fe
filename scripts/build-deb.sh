#!/usr/bin/env bash
# Builds the Debian package minutrix_VERSION_amd64.deb from a copy of the source, so that the
# source folder stays as it is. VERSION is the project's one version (CMakeLists.txt), which
# debian/changelog must carry too.
set -euo pipefail

usage() {
  cat <<'TXT'
Usage: scripts/build-deb.sh [--prebuilt BUILD_DIR] [--version-suffix SUFFIX] OUT_DIR

Builds minutrix_VERSION_amd64.deb into OUT_DIR (dpkg-buildpackage -us -uc -b on a copy of the
source). VERSION is the project's version from CMakeLists.txt; debian/changelog must agree.

  --prebuilt BUILD_DIR    package the programs of this tree, already configured and built from
                          this source (./test.sh's build/), instead of building the product
                          again (no debug-symbol package then)
  --version-suffix S      append S to the version (such as +rebuild1, which dpkg counts as
                          newer): a rebuild to try an upgrade with
TXT
}

prebuilt="" suffix="" out=""
while [ $# -gt 0 ]; do
  case $1 in
    --prebuilt) [ $# -ge 2 ] || { usage >&2; exit 2; }; prebuilt=$(realpath "$2"); shift 2 ;;
    --version-suffix) [ $# -ge 2 ] || { usage >&2; exit 2; }; suffix=$2; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "build-deb.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) [ -z "$out" ] || { usage >&2; exit 2; }; out=$1; shift ;;
  esac
done
[ -n "$out" ] || { usage >&2; exit 2; }
if [ -n "$suffix" ] && ! printf '%s' "$suffix" | grep -Eqx '[+~.][A-Za-z0-9.+~]+'; then
  echo "build-deb.sh: the suffix '$suffix' must start with + ~ or . and hold letters, digits, . + ~" >&2
  exit 2
fi
if [ -n "$prebuilt" ] && [ ! -f "$prebuilt/CMakeCache.txt" ]; then
  echo "build-deb.sh: $prebuilt is no build tree (no CMakeCache.txt)" >&2
  exit 2
fi

source_dir=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(Minutrix VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
changelog=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
if [ -z "$version" ] || [ "$version" != "$changelog" ]; then
  echo "build-deb.sh: CMakeLists.txt says version '$version', debian/changelog '$changelog':" >&2
  echo "  give debian/changelog a new entry for the project's version" >&2
  exit 1
fi

mkdir -p "$out"
out=$(realpath "$out")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/minutrix-$version$suffix
mkdir "$copy"
# The source without build trees or version control.
tar -C "$source_dir" --exclude=./.git --exclude='./build*' --exclude='./obj-*' \
  --exclude=./debian/tmp --exclude=./debian/minutrix --exclude=./debian/.debhelper -cf - . |
  tar -C "$copy" -xf -
if [ -n "$suffix" ]; then
  sed -i "1s/^minutrix ($version)/minutrix ($version$suffix)/" "$copy/debian/changelog"
fi

start=$(date +%s)
options=${DEB_BUILD_OPTIONS:-}
[ -n "$prebuilt" ] && options="$options noautodbgsym"
(
  cd "$copy"
  MINUTRIX_PREBUILT_DIR=$prebuilt DEB_BUILD_OPTIONS=$options \
    dpkg-buildpackage -us -uc -b >"$scratch/build.log" 2>&1
) || {
  tail -n 40 "$scratch/build.log" >&2
  echo "build-deb.sh: dpkg-buildpackage failed (above: the end of its output)" >&2
  exit 1
}
deb=minutrix_$version${suffix}_amd64.deb
[ -f "$scratch/$deb" ] || { echo "build-deb.sh: no $deb was made" >&2; exit 1; }
mv "$scratch/$deb" "$out/"
for extra in "$scratch"/minutrix-dbgsym_*.deb; do [ -f "$extra" ] && mv "$extra" "$out/"; done
echo "$out/$deb ($(($(date +%s) - start)) s)"
