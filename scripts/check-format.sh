#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the repository differs from .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.cc' '*.hpp' 2>/dev/null ||
  find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
bad=()
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "These files differ from .clang-format (fix with: clang-format -i FILE...):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "Formatting: ${#files[@]} files follow .clang-format"
