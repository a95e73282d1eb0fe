#!/usr/bin/env bash
# The package on this machine, as an administrator uses it: apt installs it (setup runs, the
# console gets its first administrator, Squid is untouched), minutrix-squid enable puts it on the
# machine's own Squid, a user's request is charged, an upgrade to a rebuilt package keeps the
# minutes, the history, the audit, the accounts and the registry and the running Squid takes the
# new helper, apt remove stops the filtering and keeps the data, and apt purge leaves Squid and
# nginx as they were and nothing of Minutrix on disk. Changes the machine: root and
# MINUTRIX_SYSTEM_TESTS=1 only. The machine's Squid and nginx are started if they did not run,
# and stopped again at the end.
set -uo pipefail
source_dir=$1 build_dir=$2 version=$3
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
if [ "${MINUTRIX_SYSTEM_TESTS:-}" != 1 ] || [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installs the package on this machine and changes its Squid; runs only as root with"
  echo "      MINUTRIX_SYSTEM_TESTS=1 (as .ci/run sets it)"
  exit 77
fi
for program in dpkg-buildpackage apt-get squid nginx curl; do
  command -v "$program" >/dev/null || { echo "SKIP: $program missing"; exit 77; }
done
if dpkg-query -W -f='${Status}' minutrix 2>/dev/null | grep -q 'installed\|config-files'; then
  echo "SKIP: a minutrix package is on this machine already; the test would replace it"
  exit 77
fi
if [ -e /var/lib/minutrix ] || [ -e /etc/squid/conf.d/minutrix.conf ]; then
  echo "SKIP: /var/lib/minutrix or /etc/squid/conf.d/minutrix.conf exists: Minutrix is on this machine"
  exit 77
fi

scratch=$(mktemp -d)
chmod 755 "$scratch"
systemd=no
[ -d /run/systemd/system ] && systemd=yes
started=() console_pid=""
db=/var/lib/minutrix/machine/c/Minutrix/UserTimesDB/UserTimesDB.mdb

squid_runs() { squid -k check >/dev/null 2>&1; }
nginx_runs() { [ -s /run/nginx.pid ] && kill -0 "$(cat /run/nginx.pid)" 2>/dev/null; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }
wait_for() {
  for _ in $(seq 1 300); do "$@" && return 0; sleep 0.1; done
  return 1
}
start_service() {
  if [ "$systemd" = yes ]; then
    systemctl start "$1"
  elif [ "$1" = squid ]; then
    rm -f /run/squid.pid
    squid -YC -f /etc/squid/squid.conf
  else
    nginx -q
  fi
}
stop_service() {
  if [ "$systemd" = yes ]; then
    systemctl stop "$1"
  elif [ "$1" = squid ]; then
    local pid
    pid=$(cat /run/squid.pid 2>/dev/null)
    squid -k shutdown -f /etc/squid/squid.conf 2>/dev/null
    # Squid gives its clients up to 30 s (shutdown_lifetime) before it ends.
    if [ -n "$pid" ]; then
      for _ in $(seq 1 600); do gone "$pid" && break; sleep 0.1; done
    fi
  else
    nginx -s quit
  fi
}
cleanup() {
  set +e
  [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null && wait "$console_pid" 2>/dev/null
  if dpkg-query -W -f='${Status}' minutrix 2>/dev/null | grep -q 'installed\|config-files'; then
    echo "(clean-up: purging the package the test installed)"
    apt-get purge -y -qq minutrix >/dev/null 2>&1 || dpkg --purge --force-all minutrix >/dev/null 2>&1
  fi
  for service in "${started[@]}"; do stop_service "$service"; done
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
stop() {
  echo "FAIL: $*"
  exit 1
}

# A request through the machine's Squid: the status, and the redirect's target.
get() {
  local user=$1 url=$2 answer
  for _ in $(seq 1 50); do
    if [ -n "$user" ]; then
      answer=$(curl -s -o /dev/null -w '%{http_code} %{redirect_url}' -x http://127.0.0.1:3128 \
        -U "$user:Pass-w0rd" "$url")
    else
      answer=$(curl -s -o /dev/null -w '%{http_code} %{redirect_url}' -x http://127.0.0.1:3128 "$url")
    fi
    # A Squid that reloads refuses connections for a moment.
    [ "${answer%% *}" != 000 ] && break
    sleep 0.2
  done
  echo "$answer"
}
helpers_run() { [ -n "$(helpers)" ]; }
only_new_helpers() { helpers_run && ! helpers | grep -q deleted; }
used() { runuser -u proxy -- minutrix-db users "$db" 2>/dev/null | awk '$1 == "JSMITH" {print $3}'; }
# The helpers that Squid runs; "(deleted)" marks one still running a program an upgrade replaced.
helpers() {
  local pid
  for pid in $(pgrep -f minutrix-squid-helper); do readlink "/proc/$pid/exe"; done
}

echo "== Two packages of the build under test: $version and a rebuild $version+upgrade1"
"$source_dir/scripts/build-deb.sh" --prebuilt "$build_dir" "$scratch/out" || stop "no package"
"$source_dir/scripts/build-deb.sh" --prebuilt "$build_dir" --version-suffix +upgrade1 "$scratch/out" ||
  stop "no rebuilt package"

echo "== The machine before"
mkdir "$scratch/before"
cp -a /etc/squid /etc/nginx "$scratch/before/"
leftovers() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /var/tmp \
    -o -path "$source_dir" -o -path "$build_dir" -o -path /work \) -prune -o -iname '*minutrix*' -print \
    2>/dev/null | sort
}
leftovers >"$scratch/minutrix-files.before"
for service in squid nginx; do
  if ! "${service}_runs"; then
    start_service "$service" || stop "cannot start the machine's $service"
    started+=("$service")
  fi
done
wait_for listening 3128 || stop "Squid does not listen on 3128"
wait_for listening 80 || stop "nginx does not listen on 80"
before=$(get "" http://127.0.0.2/)
[ "${before%% *}" = 200 ] || stop "the machine's Squid does not pass http://127.0.0.2/ without Minutrix: $before"

echo "== apt install ./minutrix_${version}_amd64.deb"
apt-get install -y --no-install-recommends "$scratch/out/minutrix_${version}_amd64.deb" \
  >"$scratch/install.out" 2>&1 || { cat "$scratch/install.out"; stop "the install failed"; }
# apt runs the scripts on a terminal of its own: their lines end in CR LF.
password=$(tr -d '\r' <"$scratch/install.out" | sed -n 's/^ *user admin, password \([^ ]*\)$/\1/p')
[ -n "$password" ] || fail "the install did not show the console's first password:$(printf '\n'; cat "$scratch/install.out")"
[ "$(stat -c '%U %a' /var/lib/minutrix/admin-password)" = "root 600" ] ||
  fail "the password file is not root's alone: $(stat -c '%U %a' /var/lib/minutrix/admin-password)"
grep -qF "password $password" /var/lib/minutrix/admin-password || fail "the password file holds another password"
[ "$(stat -c %U /var/lib/minutrix/machine/c/Minutrix/Minutrix.dll)" = proxy ] ||
  fail "the machine root is not proxy's"
grep -c $'^Start=/usr/sbin/minutrix-squid reload\r$' /var/lib/minutrix/machine/machine.ini | grep -qx 1 ||
  fail "the machine's W3SVC does not reload Squid"
diff -r "$scratch/before/squid" /etc/squid >/dev/null || fail "the install changed /etc/squid"
minutrix-admin --help >/dev/null 2>&1 || fail "minutrix-admin is not on the PATH"
MINUTRIX_ROOT=/var/lib/minutrix/machine minutrix-admin users | grep -q '^admin' ||
  fail "the console has no account admin"

echo "== The console takes the first administrator's password"
if [ "$systemd" = yes ]; then
  wait_for systemctl is-active --quiet minutrix-admin || fail "the console's service does not run"
  console=127.0.0.1:8090
else
  # No service manager here: the console as its unit would run it.
  runuser -u proxy -- env MINUTRIX_ROOT=/var/lib/minutrix/machine minutrix-admin serve \
    --listen 127.0.0.1:0 >"$scratch/console.out" 2>&1 &
  console_pid=$!
  wait_for grep -q '^Listening on' "$scratch/console.out"
  console=$(sed -n 's|^Listening on http://\([^/]*\)/.*|\1|p' "$scratch/console.out")
fi
login=$(curl -s -o /dev/null -w '%{http_code} %{redirect_url}' --data-urlencode user=admin \
  --data-urlencode "password=$password" "http://$console/login")
case $login in 303\ *today) ;; *) fail "the first administrator's login answered '$login'" ;; esac
if [ -n "$console_pid" ]; then kill "$console_pid"; wait "$console_pid" 2>/dev/null; console_pid=""; fi

echo "== minutrix-squid enable, a user, requests charged"
# The helper's clock follows a file of the test (MINUTRIX_CLOCK_FILE, passed on to its line),
# ahead of the real one by up to 8 minutes. Within 20 minutes of midnight it all goes past
# midnight, so that no daily reset falls between two steps of the test.
to_midnight=$(($(date -d 'tomorrow 00:00' +%s) - $(date +%s)))
clock_base=0
[ "$to_midnight" -lt 1200 ] && clock_base=$((to_midnight + 60))
clock() { echo "+$((clock_base + $1 * 60))" >"$scratch/clock"; }  # $1 minutes ahead
clock 0
chmod 644 "$scratch/clock"
MINUTRIX_CLOCK_FILE=$scratch/clock minutrix-squid enable --server-name localhost >"$scratch/enable.out" 2>&1 ||
  { cat "$scratch/enable.out"; stop "enable failed"; }
grep -q 'minutrix-squid-helper' /etc/squid/conf.d/minutrix.conf || fail "no helper in Squid's lines"
echo 'Pass-w0rd' | minutrix-squid add-user jsmith 120 >"$scratch/add-user.out" 2>&1 ||
  fail "add-user: $(cat "$scratch/add-user.out")"
runuser -u proxy -- minutrix-db set "$db" ShowStartMessage yes >/dev/null
wait_for helpers_run || fail "Squid runs no helper"
answer=$(get "" http://127.0.0.2/)
[ "${answer%% *}" = 407 ] || fail "without a login Squid answered '$answer', not 407"
answer=$(get jsmith http://127.0.0.2/)
case $answer in
  "302 http://localhost:80/Minutrix/Minutrix.asp?UserName=jsmith&TimeLeft=120"*) ;;
  *) fail "the first request was not sent to the start page: '$answer'" ;;
esac
page=$(curl -s -o /dev/null -w '%{http_code}' -x http://127.0.0.1:3128 -U jsmith:Pass-w0rd \
  "http://localhost/Minutrix/Minutrix.asp")
[ "$page" = 200 ] || fail "the product page through Squid answered $page"
clock 3
answer=$(get jsmith http://127.0.0.2/)
[ "${answer%% *}" = 200 ] || fail "a request of a user with time left answered '$answer'"
[ "$(used)" = 3 ] || fail "3 minutes of browsing were charged as '$(used)'"
# A setting of the machine's registry, which an upgrade must keep.
MINUTRIX_ROOT=/var/lib/minutrix/machine minutrix-machine reg add 'HKLM\software\Minutrix' \
  /v MinutrixDebug /d 1 /f >/dev/null || fail "reg add"
minutrix-db history "$db" jsmith >"$scratch/history.before"
minutrix-db audit "$db" >"$scratch/audit.before"

echo "== Upgrade to $version+upgrade1"
before_helpers=$(helpers)
apt-get install -y --no-install-recommends "$scratch/out/minutrix_${version}+upgrade1_amd64.deb" \
  >"$scratch/upgrade.out" 2>&1 || { cat "$scratch/upgrade.out"; stop "the upgrade failed"; }
[ "$(dpkg-query -W -f='${Version}' minutrix)" = "$version+upgrade1" ] || fail "the upgrade did not take"
grep -q "user admin, password" "$scratch/upgrade.out" && fail "the upgrade showed a new console password"
grep -q "The existing database is kept" "$scratch/upgrade.out" || fail "setup did not say it kept the database"
[ "$(used)" = 3 ] || fail "after the upgrade JSMITH has '$(used)' minutes, not 3"
minutrix-db history "$db" jsmith | diff "$scratch/history.before" - >/dev/null || fail "the history changed"
minutrix-db audit "$db" | diff "$scratch/audit.before" - >/dev/null || fail "the audit changed"
MINUTRIX_ROOT=/var/lib/minutrix/machine minutrix-admin users | grep -q '^admin' ||
  fail "the upgrade lost the console's account"
MINUTRIX_ROOT=/var/lib/minutrix/machine minutrix-machine reg query 'HKLM\software\Minutrix' \
  /v MinutrixDebug | grep -q 'MinutrixDebug.*1' || fail "the upgrade lost the registry setting"
[ "$(stat -c %U "$db")" = proxy ] || fail "the database is no longer proxy's"
# The running Squid started new helpers: none runs the replaced program.
wait_for only_new_helpers ||
  fail "Squid still runs the old helper: $(helpers) (before: $before_helpers)"
# A new helper starts new browsing periods: the start page, with the minutes left that were kept,
# then it charges on.
clock 5
answer=$(get jsmith http://127.0.0.2/)
case $answer in
  "302 http://localhost:80/Minutrix/Minutrix.asp?UserName=jsmith&TimeLeft=117"*) ;;
  *) fail "after the upgrade the first request was not sent to the start page with 117 minutes left: '$answer'" ;;
esac
clock 8
answer=$(get jsmith http://127.0.0.2/)
[ "${answer%% *}" = 200 ] || fail "after the upgrade a request answered '$answer'"
[ "$(used)" = 6 ] || fail "the new helper charged '$(used)' minutes in all, not 3 + 3"

echo "== apt remove: no filtering, the data kept"
apt-get remove -y "minutrix" >"$scratch/remove.out" 2>&1 || { cat "$scratch/remove.out"; stop "remove failed"; }
[ ! -e /etc/squid/conf.d/minutrix.conf ] || fail "remove left Squid's lines"
answer=$(get "" http://127.0.0.2/)
[ "${answer%% *}" = 200 ] || fail "after remove Squid answered '$answer' without a login"
[ -f "$db" ] || fail "remove took the database"

echo "== apt purge: nothing left"
apt-get purge -y minutrix >"$scratch/purge.out" 2>&1 || { cat "$scratch/purge.out"; stop "purge failed"; }
answer=$(get "" http://127.0.0.2/)
[ "${answer%% *}" = 200 ] || fail "after purge Squid answered '$answer' without a login"
diff -r "$scratch/before/squid" /etc/squid || fail "/etc/squid is not as before"
diff -r "$scratch/before/nginx" /etc/nginx || fail "/etc/nginx is not as before"
leftovers | diff "$scratch/minutrix-files.before" - || fail "files of Minutrix are left (above, >)"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
