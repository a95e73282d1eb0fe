#!/bin/bash
# Requests/s through a real Squid to a local nginx site: without a url_rewrite helper, with a no-op
# helper and with minutrix-squid-helper (1,000 users, 100 free sites), at concurrency=0 and 8, its
# store the SQLite file beside the filter and, in the same run, a PostgreSQL 15 server of its own.
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: bench/squid_bench.sh [--build DIR] [--duration SECONDS] [--rounds N] [--connections N]
                            [--no-postgresql] [--keep] [--check] [--help]

Measures requests/s through Squid (127.0.0.1:3228, basic proxy authentication) to a 44-byte page
of a local nginx site (127.0.0.2:8180; the product page is on 127.0.0.1:8180) with wrk -t2 and N
keep-alive connections (default 8), for these set-ups:
  none        no url_rewrite helper
  noop/c0     bench's noop_helper, concurrency=0       noop/c8     the same, concurrency=8
  minutrix/c0 minutrix-squid-helper with Minutrix.dll, a database of 1,000 users (none unlimited,
              allowance large enough to last) and 100 free sites, concurrency=0
  minutrix/c8 the same, concurrency=8
  postgresql/c0, postgresql/c8
              the same filter and data on a PostgreSQL 15 server that the bench starts itself
              (initdb as the user postgres, a Unix socket in the run folder, no TCP), named by
              MinutrixStore on a second machine root: counting periods kept in the store
The set-ups take turns for N rounds (default 3) of SECONDS each (default 10, after a 2 s warm-up);
each figure is the median. Squid is restarted for every measurement. The helper's CPU time
(user + system, from /proc) per request is measured too: unlike requests/s it hardly depends on
other load on the machine. Prints a Markdown table
with the ratios no-op/none and minutrix/no-op, and the minutrix/no-op ratio of each round's
pair (the two run back to back, in alternating order); the target is a median paired ratio >= 0.90.
The PostgreSQL set-ups are paired with minutrix at the same concurrency: the target is again a
median paired ratio >= 0.90 (the helper on PostgreSQL at least 0.9 of the helper on SQLite).

  --build DIR   the build folder with Minutrix.dll, minutrix-squid-helper, minutrix-db,
                minutrix-machine and noop_helper (default: build)
  --no-postgresql
                leave the PostgreSQL set-ups out (they are left out anyway, with a note, when
                /usr/lib/postgresql/15/bin is missing or minutrix-db cannot make a store there)
  --keep        keep the run folder (configs, logs, database) and print its path
  --check       exit 1 when the target is missed at either concurrency

Needs squid, nginx, wrk, curl and htpasswd (apache2-utils), and installs those missing with
apt-get; run as root (Squid and its helpers
run as the user proxy). Everything stays on loopback; everything started is stopped at the end.
USAGE
}

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$repo/build
duration=10
rounds=3
connections=8
keep=0
check=0
postgresql=1
while [ $# -gt 0 ]; do
  case "$1" in
    --help|-h) usage; exit 0 ;;
    --build) build=$(cd "$2" && pwd); shift ;;
    --duration) duration=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --connections) connections=$2; shift ;;
    --keep) keep=1 ;;
    --no-postgresql) postgresql=0 ;;
    --check) check=1 ;;
    *) echo "squid_bench.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
PATH=$PATH:/usr/sbin:/usr/local/sbin
# A fresh machine lacks some of them (wrk above all): install their Debian packages when root.
missing=()
for tool in squid:squid nginx:nginx wrk:wrk curl:curl htpasswd:apache2-utils; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "squid_bench.sh: installing ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >&2 ||
    { apt-get update >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y \
        --no-install-recommends "${missing[@]}" >&2; }
fi
for tool in squid nginx wrk curl htpasswd; do
  command -v "$tool" >/dev/null || { echo "squid_bench.sh: $tool is not installed" >&2; exit 2; }
done
for program in Minutrix.dll minutrix-squid-helper minutrix-db minutrix-machine noop_helper; do
  [ -e "$build/$program" ] || { echo "squid_bench.sh: $build/$program is missing; build first" >&2; exit 2; }
done
[ "$(id -u)" = 0 ] || { echo "squid_bench.sh: run as root (Squid switches to the user proxy)" >&2; exit 2; }

proxy=127.0.0.1:3228
page=127.0.0.1:8180
site=127.0.0.2:8180
server_name=127.0.0.1
users=8

run=$(mktemp -d /tmp/minutrix-squid-bench.XXXXXX)
squid_pid=
stop_squid() {
  [ -n "$squid_pid" ] || return 0
  kill -TERM "$squid_pid" 2>/dev/null || true
  wait "$squid_pid" 2>/dev/null || true
  squid_pid=
}
pg_bin=/usr/lib/postgresql/15/bin
pg_started=0
cleanup() {
  stop_squid
  if [ "$pg_started" = 1 ]; then
    runuser -u postgres -- "$pg_bin/pg_ctl" -D "$run/pg/data" -m fast -w stop >/dev/null 2>&1 ||
      kill -INT "$(head -1 "$run/pg/data/postmaster.pid" 2>/dev/null)" 2>/dev/null || true
  fi
  if [ -s "$run/nginx/nginx.pid" ]; then
    kill "$(cat "$run/nginx/nginx.pid")" 2>/dev/null || true
    for _ in $(seq 50); do [ -e "$run/nginx/nginx.pid" ] || break; sleep 0.1; done
  fi
  if [ "$keep" = 1 ]; then echo "run folder kept: $run" >&2; else rm -rf "$run"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log() { echo "[$(date +%T)] $*" >&2; }

# --- nginx: product page and test site ---------------------------------------------------------
mkdir -p "$run/nginx"
"$repo/web/nginx-conf.sh" "$run/nginx" "$page" "$site" off
nginx -p "$run/nginx" -e "$run/nginx/error.log" -c "$run/nginx/nginx.conf"
for _ in $(seq 50); do curl -s -o /dev/null "http://$site/" && break; sleep 0.1; done

# --- the machine: Minutrix.dll with its database, the registry's install directory -------------
machine=$run/machine
"$build/minutrix-machine" init "$machine" >/dev/null
product=$machine/c/Minutrix
mkdir -p "$product/UserTimesDB"
cp "$build/Minutrix.dll" "$product/"
db=$product/UserTimesDB/UserTimesDB.mdb
export MINUTRIX_ROOT=$machine
"$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixPath /d 'c:\Minutrix\' /f >/dev/null
"$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixDebug /d 0 /f >/dev/null
log "database: 1,000 users, 100 free sites"
"$build/minutrix-db" create "$db" >/dev/null
"$build/minutrix-db" set "$db" ServerPort "${page##*:}" >/dev/null
"$build/minutrix-db" set "$db" ShowStartMessage no >/dev/null
for i in $(seq -w 1 1000); do echo "add-user USER$i 1000000"; done > "$run/users.txt"
for i in $(seq -w 1 100); do echo "add-site free$i.example.org"; done > "$run/sites.txt"
while read -r command name value; do
  "$build/minutrix-db" "$command" "$db" "$name" ${value:+"$value"} >/dev/null
done < <(cat "$run/users.txt" "$run/sites.txt")

# --- the same data on a PostgreSQL server of the bench's own, for a second machine root ---------
machine_pg=$run/machine-pg
if [ "$postgresql" = 1 ] && [ ! -x "$pg_bin/initdb" ]; then
  log "no PostgreSQL 15 ($pg_bin): the postgresql set-ups are left out"
  postgresql=0
fi
if [ "$postgresql" = 1 ]; then
  mkdir -p "$run/pg"
  chown postgres "$run/pg"
  chmod 755 "$run"
  runuser -u postgres -- "$pg_bin/initdb" -D "$run/pg/data" -A trust -U postgres >/dev/null
  runuser -u postgres -- "$pg_bin/pg_ctl" -D "$run/pg/data" -l "$run/pg/server.log" -w \
    -o "-k $run/pg -p 55432 -c listen_addresses=''" start >/dev/null
  pg_started=1
  store="postgresql://postgres@/minutrix?host=$run/pg&port=55432"
  pg_users() {  # rows of Users in the server's store, or nothing when it has none
    psql -X -A -t -q -h "$run/pg" -p 55432 -U postgres -d minutrix -c 'SELECT count(*) FROM Users' 2>/dev/null
  }
  runuser -u postgres -- "$pg_bin/createdb" -h "$run/pg" -p 55432 minutrix 2>/dev/null || true
  # Only a minutrix-db that knows PostgreSQL makes the tables there (a build without it would
  # take the text for a file name).
  if (cd "$run/pg" && "$build/minutrix-db" create "$store" >/dev/null 2>"$run/pg/create.err") &&
     [ "$(pg_users)" = 0 ]; then
    log "PostgreSQL store: the same 1,000 users and 100 free sites"
    "$build/minutrix-db" set "$store" ServerPort "${page##*:}" >/dev/null
    "$build/minutrix-db" set "$store" ShowStartMessage no >/dev/null
    while read -r command name value; do
      "$build/minutrix-db" "$command" "$store" "$name" ${value:+"$value"} >/dev/null
    done < <(cat "$run/users.txt" "$run/sites.txt")
    [ "$(pg_users)" = 1000 ] || { echo "squid_bench.sh: the PostgreSQL store has $(pg_users) users, not 1000" >&2; exit 1; }
    "$build/minutrix-machine" init "$machine_pg" >/dev/null
    mkdir -p "$machine_pg/c/Minutrix/UserTimesDB"
    cp "$build/Minutrix.dll" "$machine_pg/c/Minutrix/"
    MINUTRIX_ROOT=$machine_pg "$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixPath /d 'c:\Minutrix\' /f >/dev/null
    MINUTRIX_ROOT=$machine_pg "$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixDebug /d 0 /f >/dev/null
    MINUTRIX_ROOT=$machine_pg "$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixStore /d "$store" /f >/dev/null
  else
    reason=$(head -1 "$run/pg/create.err" 2>/dev/null || true)
    log "minutrix-db cannot make a store on PostgreSQL (${reason:-it made no tables there}): the postgresql set-ups are left out"
    postgresql=0
  fi
fi

# --- Squid's users: wrk's users are in the database, "stranger" is not ---------------------------
: > "$run/htpasswd"
credentials=()
for i in $(seq 1 $users); do
  user=$(printf 'user%04d' $((i * 125)))
  htpasswd -b "$run/htpasswd" "$user" pw 2>/dev/null
  credentials+=("Basic $(printf '%s:pw' "$user" | base64)")
done
htpasswd -b "$run/htpasswd" stranger pw 2>/dev/null
# Everything but the PostgreSQL server's folder, which stays its own.
find "$run" -path "$run/pg" -prune -o -exec chown proxy:proxy {} +
chmod 755 "$run"

squid_conf() {  # $1 = none | noop | minutrix | postgresql, $2 = concurrency
  cat <<CONF
http_port $proxy
visible_hostname minutrix-bench
pid_filename $run/squid/squid.pid
cache_effective_user proxy
cache_log $run/squid/cache.log
access_log none
cache_store_log none
coredump_dir $run/squid
cache_mem 8 MB
cache deny all
dns_nameservers 127.0.0.1
pinger_enable off
shutdown_lifetime 1 seconds
auth_param basic program /usr/lib/squid/basic_ncsa_auth $run/htpasswd
auth_param basic children 2 startup=1 idle=1
auth_param basic realm minutrix-bench
auth_param basic casesensitive on
acl authenticated proxy_auth REQUIRED
http_access allow authenticated
http_access deny all
CONF
  case "$1" in
    none) ;;
    minutrix)
      "$build/minutrix-squid-helper" --squid-config --server-name "$server_name" \
        --product-port "${page##*:}" --concurrency "$2" --filter "$product/Minutrix.dll" ;;
    postgresql)
      MINUTRIX_ROOT=$machine_pg "$build/minutrix-squid-helper" --squid-config \
        --server-name "$server_name" --product-port "${page##*:}" --concurrency "$2" \
        --filter "$machine_pg/c/Minutrix/Minutrix.dll" ;;
    noop)
      "$build/minutrix-squid-helper" --squid-config --server-name "$server_name" \
        --product-port "${page##*:}" --concurrency "$2" |
        sed "s|^url_rewrite_program .*|url_rewrite_program $build/noop_helper|" ;;
  esac
}

start_squid() {  # $1 set-up, $2 concurrency
  mkdir -p "$run/squid"
  rm -f "$run/squid/squid.pid"
  chown proxy:proxy "$run/squid"
  squid_conf "$1" "$2" > "$run/squid/squid.conf"
  squid -N -f "$run/squid/squid.conf" 2>>"$run/squid/stderr" &
  squid_pid=$!
  for _ in $(seq 100); do
    if [ "$(curl -s -o /dev/null -w '%{http_code}' -x "http://$proxy" -U user0125:pw "http://$site/")" = 200 ]; then
      return 0
    fi
    sleep 0.1
  done
  echo "squid_bench.sh: Squid did not answer for set-up $1/c$2; see $run/squid/cache.log" >&2
  tail -20 "$run/squid/cache.log" >&2
  exit 1
}

# Proof that the helper is in the path: a user who is not in the database is redirected.
expect_redirect() {
  local location
  location=$(curl -s -o /dev/null -w '%{redirect_url}' -x "http://$proxy" -U stranger:pw "http://$site/")
  case "$location" in
    "http://$server_name:${page##*:}/Minutrix/Minutrix.asp?UserName=stranger&"*"DeniedMessage="*) ;;
    *) echo "squid_bench.sh: minutrix-squid-helper did not deny the unknown user (Location: $location)" >&2
       exit 1 ;;
  esac
}

measure() {  # $1 set-up, $2 concurrency, $3 seconds -> sets rps and requests
  wrk -t2 -c"$connections" -d"$3"s -s "$here/squid_proxy.lua" "http://$proxy" -- \
    "http://$site/" "${credentials[@]}" > "$run/wrk.out"
  if grep -q -e 'Non-2xx or 3xx responses' -e 'Socket errors' "$run/wrk.out"; then
    echo "squid_bench.sh: errors in set-up $1/c$2:" >&2
    cat "$run/wrk.out" >&2
    exit 1
  fi
  rps=$(awk '/^Requests\/sec:/ { print $2 }' "$run/wrk.out")
  requests=$(awk '/ requests in / { print $1 }' "$run/wrk.out")
}

# CPU time (user + system, clock ticks) of Squid's url_rewrite helper; 0 without one.
helper_ticks() {
  local pid
  pid=$(ps -o pid=,comm= --ppid "$squid_pid" | awk '$2 ~ /^(minutrix-squid|noop_helper)/ { print $1; exit }')
  if [ -n "$pid" ]; then awk '{ print $14 + $15 }' "/proc/$pid/stat"; else echo 0; fi
}

median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
runs() { local out=""; for v in $1; do out+="${out:+, }$(fmt "$v")"; done; echo "$out"; }
fmt() {  # 12345.6 -> 12,346
  awk -v a="$1" 'BEGIN { s = sprintf("%d", a + 0.5); o = ""
    while (length(s) > 3) { o = "," substr(s, length(s) - 2) o; s = substr(s, 1, length(s) - 3) }
    print s o }'
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# Other load on the machine drifts: the pairs swap order every round, and each pair's own ratio
# is kept as well as the figures.
declare -A figures ratios cpus pg_ratios
for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) = 1 ]; then
    setups=("none 0" "noop 0" "minutrix 0" "postgresql 0" "noop 8" "minutrix 8" "postgresql 8")
  else
    setups=("none 0" "postgresql 0" "minutrix 0" "noop 0" "postgresql 8" "minutrix 8" "noop 8")
  fi
  declare -A this_round=()
  for setup in "${setups[@]}"; do
    read -r kind concurrency <<<"$setup"
    [ "$kind" = none ] && [ "$concurrency" != 0 ] && continue
    [ "$kind" = postgresql ] && [ "$postgresql" = 0 ] && continue
    start_squid "$kind" "$concurrency"
    case "$kind" in minutrix|postgresql) expect_redirect ;; esac
    measure "$kind" "$concurrency" 2
    ticks=$(helper_ticks)
    measure "$kind" "$concurrency" "$duration"
    cpu=$(awk -v t=$(( $(helper_ticks) - ticks )) -v hz="$(getconf CLK_TCK)" -v n="$requests" \
            'BEGIN { printf "%.1f", t * 1e6 / hz / n }')
    figures[$kind/$concurrency]+="$rps "
    cpus[$kind/$concurrency]+="$cpu "
    this_round[$kind/$concurrency]=$rps
    log "round $round: $kind, concurrency=$concurrency: $rps requests/s, helper CPU $cpu µs/request"
    stop_squid
  done
  for concurrency in 0 8; do
    ratios[$concurrency]+="$(ratio "${this_round[minutrix/$concurrency]}" "${this_round[noop/$concurrency]}") "
    if [ "$postgresql" = 1 ]; then
      pg_ratios[$concurrency]+="$(ratio "${this_round[postgresql/$concurrency]}" "${this_round[minutrix/$concurrency]}") "
    fi
  done
done

none=$(median "${figures[none/0]}")
missed=0
echo "| set-up | concurrency | median req/s | runs (req/s) | vs no helper | vs no-op helper | paired ratios per round (median) | helper CPU per request |"
echo "|---|---|---|---|---|---|---|---|"
echo "| no helper | - | $(fmt "$none") | $(runs "${figures[none/0]}") | 1.00 | - | | - |"
for concurrency in 0 8; do
  noop=$(median "${figures[noop/$concurrency]}")
  minutrix=$(median "${figures[minutrix/$concurrency]}")
  paired=$(median "${ratios[$concurrency]}")
  echo "| no-op helper | $concurrency | $(fmt "$noop") | $(runs "${figures[noop/$concurrency]}") | $(ratio "$noop" "$none") | 1.00 | | $(median "${cpus[noop/$concurrency]}") µs |"
  echo "| minutrix-squid-helper | $concurrency | $(fmt "$minutrix") | $(runs "${figures[minutrix/$concurrency]}") | $(ratio "$minutrix" "$none") | $(ratio "$minutrix" "$noop") | ${ratios[$concurrency]% } ($paired) | $(median "${cpus[minutrix/$concurrency]}") µs |"
  awk -v p="$paired" 'BEGIN { exit !(p < 0.9) }' && missed=1
  if [ "$postgresql" = 1 ]; then
    pg=$(median "${figures[postgresql/$concurrency]}")
    pg_paired=$(median "${pg_ratios[$concurrency]}")
    echo "| minutrix-squid-helper on PostgreSQL | $concurrency | $(fmt "$pg") | $(runs "${figures[postgresql/$concurrency]}") | $(ratio "$pg" "$none") | $(ratio "$pg" "$noop") | ${pg_ratios[$concurrency]% } ($pg_paired) vs SQLite | $(median "${cpus[postgresql/$concurrency]}") µs |"
    awk -v p="$pg_paired" 'BEGIN { exit !(p < 0.9) }' && missed=1
  fi
done
echo
echo "wrk -t2 -c$connections, ${duration} s per run after a 2 s warm-up, $rounds rounds; load average before/after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) CPUs: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'); $(squid -v | head -1 | sed 's/ for .*//'), $(nginx -v 2>&1 | sed 's/.*: //')."
if [ "$missed" = 1 ]; then
  echo "Target missed: minutrix-squid-helper below 90 % of the no-op helper, or on PostgreSQL below 90 % of SQLite (median of the paired ratios)."
  [ "$check" = 1 ] && exit 1
else
  echo "Target met: minutrix-squid-helper at or above 90 % of the no-op helper (median of the paired ratios)."
fi
exit 0
