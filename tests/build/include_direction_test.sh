#!/usr/bin/env bash
# Dependencies go one way: platform/ includes nothing of the product (store/ builds on platform/),
# and store/ nothing of the filter, the installer, the hosts or the tools. Names every include
# that breaks this, with its file and line.
set -euo pipefail
source_dir=$1

# Prints the includes of files under $1/$2 that name one of the folders $3... ("../" allowed).
wrong_includes() {
  local root=$1 folder=$2
  shift 2
  local names
  names=$(IFS='|'; echo "$*")
  [ -d "$root/$folder" ] || return 0
  (
    cd "$root"
    grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](\.\./)*($names)/" "$folder" || true
  )
}

check() {
  local root=$1
  {
    wrong_includes "$root" platform filter installer hosts tools store
    wrong_includes "$root" store filter installer hosts tools
  }
}

# The check must see a wrong include, in either form, before its silence on the tree means much.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/platform" "$scratch/store"
printf '#include "platform/text.h"\n  #  include <store/usage.h>\n' >"$scratch/platform/a.h"
printf '#include "store/usage.h"\n#include "../filter/lookups.h"\n' >"$scratch/store/b.cpp"
if [ "$(check "$scratch" | wc -l)" -ne 2 ]; then
  echo "FAIL: the check does not find the two wrong includes of a scratch tree:"
  check "$scratch"
  exit 1
fi

found=$(check "$source_dir")
if [ -n "$found" ]; then
  echo "FAIL: includes against the direction of dependency (platform <- store <- the rest):"
  echo "$found"
  exit 1
fi
echo "PASS"
