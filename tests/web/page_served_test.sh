#!/bin/bash
# End-to-end check of the product page: a real nginx on loopback, set up from web/nginx.conf.in,
# serves the page as HTML with its script, for queries written the way the filter writes them.
set -u
usage() {
  cat <<USAGE
Usage: $0 [WEB_DIR]
Starts nginx on 127.0.0.1:8181 (product page) and 127.0.0.2:8181 (test site) with a temporary run
folder, checks what curl gets, and stops nginx. WEB_DIR defaults to the web/ folder of this tree.
Exit 0 passed, 1 failed, 77 skipped (nginx or curl missing).
USAGE
}
case "${1:-}" in -h|--help) usage; exit 0 ;; esac
web=$(cd "${1:-$(dirname "$0")/../../web}" && pwd)
for tool in nginx curl; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

run=$(mktemp -d /tmp/minutrix-web-test.XXXXXX)
chmod 755 "$run"
stop() {
  [ -s "$run/nginx.pid" ] && kill "$(cat "$run/nginx.pid")" 2>/dev/null
  for _ in $(seq 50); do [ -e "$run/nginx.pid" ] || break; sleep 0.1; done
  rm -rf "$run"
}
trap stop EXIT

page=127.0.0.1:8181
"$web/nginx-conf.sh" "$run" "$page" 127.0.0.2:8181 || exit 1
if ! nginx -p "$run" -e "$run/error.log" -c "$run/nginx.conf"; then
  cat "$run/error.log"; exit 1
fi
for _ in $(seq 50); do curl -s -o /dev/null "http://$page/" && break; sleep 0.1; done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok   $*"; }

# The page for each form the filter sends; "&", "?", "#" and the helper's %20 unencoded in values.
base="http://$page/Minutrix/Minutrix.asp"
queries=(
  "UserName=alice&TimeLeft=30&CurrentUserCommand=timeleft&RequestedURL=http://127.0.0.2:8181/a?b=1&c=2"
  "UserName=Bob&TimeLeft=-1&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com"
  "UserName=a&b?c&TimeLeft=0&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com&DeniedMessage=Time%20is%20up%20&%20more?%20100%"
  "UserName=carol&TimeLeft=0&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com&DeniedMessage=Time%20is%20up&Unknown=1"
  ""
)
for q in "${queries[@]}"; do
  headers=$(curl -s -D - -o "$run/body" "$base${q:+?$q}")
  if ! grep -qi '^HTTP/1.1 200' <<<"$headers"; then fail "status for ?$q: $(head -1 <<<"$headers")"; continue; fi
  grep -qi '^content-type: text/html' <<<"$headers" || fail "not text/html for ?$q"
  grep -q '<script src="minutrix.js"></script>' "$run/body" || fail "page without its script for ?$q"
  cmp -s "$run/body" "$web/Minutrix/Minutrix.asp" || fail "page differs from web/Minutrix/Minutrix.asp for ?$q"
done
[ "$failures" = 0 ] && ok "page served as text/html with its script for every redirect form"

headers=$(curl -s -D - -o "$run/script" "http://$page/Minutrix/minutrix.js")
if grep -qi '^content-type: text/javascript' <<<"$headers" && cmp -s "$run/script" "$web/Minutrix/minutrix.js" \
   && grep -qi '^x-content-type-options: nosniff' <<<"$headers"; then
  ok "script served as JavaScript, unchanged, nosniff"
else
  fail "script: $headers"
fi

# Nothing leaves the proxy host, and values never become markup.
if grep -Eiq '(src|href|action)=["'"'"']?(https?:)?//' "$web/Minutrix/Minutrix.asp" \
   || grep -Eiq '@import|url\(' "$web/Minutrix/Minutrix.asp"; then
  fail "page loads an outside resource"
else
  ok "no outside resources"
fi
if grep -Eq 'innerHTML|outerHTML|insertAdjacentHTML|document\.write|eval\(|new Function' "$web/Minutrix/minutrix.js"; then
  fail "script builds markup from text"
else
  ok "script inserts text only"
fi

[ "$(curl -s "http://127.0.0.2:8181/")" = "$(cat "$web/site/index.html")" ] && ok "test site on 127.0.0.2" \
  || fail "test site on 127.0.0.2"
[ "$(curl -s -o /dev/null -w '%{http_code}' "http://$page/other")" = 404 ] && ok "nothing else on the page host" \
  || fail "page host serves more than the product page"

exit $((failures > 0))
