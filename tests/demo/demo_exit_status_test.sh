#!/usr/bin/env bash
# ./demo.sh must exit non-zero when its proxy cannot start, and 0 when Ctrl-C ends it (also
# under a pipe), with Squid and nginx stopped and its folder removed either way; with --https
# its pages answer https:// URLs.
set -uo pipefail
source_dir=$1 build_dir=$2
for program in squid nginx curl htpasswd; do
  command -v "$program" >/dev/null || PATH=$PATH:/usr/sbin command -v "$program" >/dev/null ||
    { echo "SKIP: $program missing"; exit 77; }
done
export PATH=$PATH:/usr/sbin MINUTRIX_BUILD_DIR=$build_dir
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; sed 's/^/  | /' "$scratch/out"; exit 1; }
demo_dirs() { ls -d /tmp/minutrix-demo.* 2>/dev/null | sort; }
before=$(demo_dirs)

# The product page and the proxy on one port: nginx takes it, so Squid cannot.
MINUTRIX_DEMO_CONSOLE_PORT=13198 MINUTRIX_DEMO_PROXY_PORT=13195 MINUTRIX_DEMO_WEB_PORT=13195 timeout 120 \
  "$source_dir/demo.sh" >"$scratch/out" 2>&1
status=$?
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "a failed start exited $status"
grep -q "Minutrix is running" "$scratch/out" && fail "a failed start claimed to be running"
grep -q "did not start" "$scratch/out" || fail "the failure is not named"

# A good start, then Ctrl-C (SIGINT to the demo's process group, as a terminal sends it). Job
# control gives the demo its own group and keeps SIGINT from being ignored in a background job.
set -m
MINUTRIX_DEMO_CONSOLE_PORT=13198 MINUTRIX_DEMO_PROXY_PORT=13195 MINUTRIX_DEMO_WEB_PORT=13196 MINUTRIX_DEMO_TLS_PORT=13197 \
  "$source_dir/demo.sh" --https >"$scratch/out" 2>&1 &
runner=$!
trap 'kill -KILL -- "-$runner" 2>/dev/null; rm -rf "$scratch"' EXIT
for _ in $(seq 1 600); do grep -q "Minutrix is running" "$scratch/out" 2>/dev/null && break; sleep 0.1; done
grep -q "Minutrix is running" "$scratch/out" || fail "no start"
answer=$(curl -s -o /dev/null -w '%{http_code}' -x http://127.0.0.1:13195 -U 'CORP\jsmith:minutrix' \
  http://127.0.0.2:13196/)
[ "$answer" = 302 ] || fail "the first request of a period answered $answer, not the start page"
# With --https the denied page answers an https:// URL too, through the printed authority.
ca=$(grep -o '/tmp/minutrix-demo[^ ]*/ca/proxy-ca.crt' "$scratch/out" | head -1)
[ -f "$ca" ] || fail "no certificate authority printed"
location=$(curl -s -o /dev/null -w '%{redirect_url}' --max-time 20 --cacert "$ca" \
  -x http://127.0.0.1:13195 -U 'CORP\kim:minutrix' https://127.0.0.2:13197/)
case $location in
  *"UserName=kim&TimeLeft=0"*DeniedMessage=*) ;;
  *) fail "kim's https:// request was not sent to the denied page: '$location'" ;;
esac
console=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 http://127.0.0.1:13198/login)
[ "$console" = 200 ] || fail "the console's login page answered $console"
grep -q "teacher / minutrix-teacher" "$scratch/out" || fail "no teacher's login printed"
kill -INT -- "-$runner"
wait "$runner"
status=$?
[ "$status" -eq 0 ] || fail "Ctrl-C ended the demo with status $status"
grep -q "Minutes used at the end" "$scratch/out" || fail "no closing table"
if curl -s -o /dev/null --max-time 2 http://127.0.0.2:13196/; then fail "nginx still answers"; fi
if curl -s -o /dev/null --max-time 2 http://127.0.0.1:13195/; then fail "Squid still answers"; fi
if curl -s -o /dev/null --max-time 2 http://127.0.0.1:13198/login; then fail "the console still answers"; fi
[ "$(demo_dirs)" = "$before" ] || fail "the demo left its folder behind"

# Ctrl-C under a pipe: the reader dies of the same SIGINT, and the clean-up must still run to the
# end. The demo runs in a session of its own, without a terminal, so its closing lines go to
# standard error.
MINUTRIX_DEMO_CONSOLE_PORT=13198 MINUTRIX_DEMO_PROXY_PORT=13195 MINUTRIX_DEMO_WEB_PORT=13196 setsid -w bash -c 'echo $$ >"$1/leader"; exec "$2/demo.sh" 2>"$1/pipe-err" | cat >"$1/pipe-out"' \
  pipe "$scratch" "$source_dir" &
trap 'kill -KILL -- "-$(cat "$scratch/leader")" 2>/dev/null; rm -rf "$scratch"' EXIT
for _ in $(seq 1 600); do grep -q "Minutrix is running" "$scratch/pipe-out" 2>/dev/null && break; sleep 0.1; done
cat "$scratch/pipe-out" "$scratch/pipe-err" >"$scratch/out"
grep -q "Minutrix is running" "$scratch/out" || fail "no start under a pipe"
kill -INT -- "-$(cat "$scratch/leader")"
wait $!
cat "$scratch/pipe-out" "$scratch/pipe-err" >"$scratch/out"
grep -q "Minutes used at the end" "$scratch/pipe-err" || fail "no closing table after Ctrl-C under a pipe"
if curl -s -o /dev/null --max-time 2 http://127.0.0.2:13196/; then fail "nginx still answers after a pipe"; fi
if curl -s -o /dev/null --max-time 2 http://127.0.0.1:13195/; then fail "Squid still answers after a pipe"; fi
[ "$(demo_dirs)" = "$before" ] || fail "the demo left its folder behind under a pipe"
echo "PASS"
