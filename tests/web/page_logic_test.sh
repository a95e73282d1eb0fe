#!/bin/sh
# Runs the product page's logic test under node when node is there; node is not a dependency.
case "${1:-}" in
  -h|--help) echo "Usage: $0 [WEB_DIR]  runs tests/web/page_logic_test.js under node; exit 77 (skipped) without node"; exit 0 ;;
esac
command -v node >/dev/null || { echo "skipped: node is not installed"; exit 77; }
dir=$(cd "$(dirname "$0")" && pwd)
exec node "$dir/page_logic_test.js" "${1:-$dir/../../web}"
