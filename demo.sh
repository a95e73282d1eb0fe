#!/usr/bin/env bash
# The main job: installs what is missing, builds, installs Minutrix with its own setup on a demo
# machine, and runs it behind a real Squid on 127.0.0.1 with the product page and a small local
# site (nginx), until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  cat <<'TXT'
Usage: ./demo.sh [--https]

Installs what is missing (Debian 12, as root), builds, installs Minutrix with its own setup on a
new demo machine in /tmp, and runs it behind a real Squid on 127.0.0.1:3128 with the product page
and a small local site (nginx on 127.0.0.1:8080 and 127.0.0.2:8080), until Ctrl-C. It prints the
accounts and commands to try.

  --https   HTTPS with interception: Squid decrypts HTTPS with a certificate authority made for
            the demo (its file is printed: give it to curl --cacert, or import it into a
            browser), so the start, time-left and denied pages work on https:// sites too; the
            local site is also served over TLS on 127.0.0.2:8443.

It also starts the administration console (minutrix-admin) on 127.0.0.1:8090 and prints its
address with an administrator's and a teacher's login.

Ports: MINUTRIX_DEMO_PROXY_PORT, MINUTRIX_DEMO_WEB_PORT, MINUTRIX_DEMO_TLS_PORT,
MINUTRIX_DEMO_CONSOLE_PORT.
Build folder: MINUTRIX_BUILD_DIR (default build/).
TXT
}
https=0
for arg in "$@"; do
  case $arg in
    --https) https=1 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "demo.sh: unknown argument $arg (see ./demo.sh --help)" >&2; exit 2 ;;
  esac
done

source scripts/prerequisites.sh
ensure_packages squid-openssl openssl nginx-light curl apache2-utils

proxy_port=${MINUTRIX_DEMO_PROXY_PORT:-3128}
web_port=${MINUTRIX_DEMO_WEB_PORT:-8080}
tls_port=${MINUTRIX_DEMO_TLS_PORT:-8443}
console_port=${MINUTRIX_DEMO_CONSOLE_PORT:-8090}
ports=("$proxy_port" "$web_port" "$console_port")
[ "$https" = 1 ] && ports+=("$tls_port")
for port in "${ports[@]}"; do
  if ss -ltn "( sport = :$port )" | grep -q LISTEN; then
    echo "Port $port is in use (a squid or nginx service of this machine?). Stop it, or set" >&2
    echo "MINUTRIX_DEMO_PROXY_PORT / MINUTRIX_DEMO_WEB_PORT / MINUTRIX_DEMO_TLS_PORT /" >&2
    echo "MINUTRIX_DEMO_CONSOLE_PORT to free ports." >&2
    exit 1
  fi
done

# Only what the demo runs is built; ./test.sh builds the rest into the same folder later.
build=$(realpath -m "${MINUTRIX_BUILD_DIR:-build}")
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" minutrix_dist minutrix-machine minutrix-cmd minutrix-msiexec minutrix-db \
  minutrix-squid-helper minutrix-admin

demo=$(mktemp -d /tmp/minutrix-demo.XXXXXX) db="" interrupted=0 console_pid=""
# Ctrl-C is the way to end the demo, so it ends with status 0; any failure keeps its own status.
# Nothing may cut the clean-up short: under `./demo.sh | tee`, Ctrl-C ends tee too, so the rest
# goes to the terminal (or to standard error without one) instead of the broken pipe.
cleanup() {
  local status=$?
  set +e
  trap - EXIT
  trap '' INT TERM PIPE
  if [ "$interrupted" = 1 ] && [ -p /dev/stdout ]; then
    if { : >/dev/tty; } 2>/dev/null; then exec >/dev/tty 2>&1; else exec 1>&2; fi
  fi
  echo
  echo "Stopping the console, Squid and nginx..."
  if [ -n "$console_pid" ]; then
    kill -TERM -- "-$console_pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 -- "-$console_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$console_pid" 2>/dev/null
  fi
  scripts/minutrix-stack stop "$demo"
  echo "Minutes used at the end:"
  [ -n "$db" ] && [ -f "$db" ] && "$build"/minutrix-db users "$db" 2>/dev/null
  rm -rf "$demo"
  exit "$status"
}
trap cleanup EXIT
trap 'interrupted=1; exit 0' INT TERM

export MINUTRIX_ROOT="$demo/machine"
"$build"/minutrix-machine init "$MINUTRIX_ROOT" >/dev/null
# The distribution folder on drive D: of the demo machine, as an administrator would bring it.
cp -a "$build"/dist "$MINUTRIX_ROOT/d"
echo "Installing Minutrix: D:\Setup.exe on a new demo machine ($MINUTRIX_ROOT),"
echo "its windows answered by scripts/ui/install.ui:"
MINUTRIX_UI=script MINUTRIX_UI_SCRIPT="$PWD/scripts/ui/install.ui" \
  "$MINUTRIX_ROOT/d/Setup.exe" | grep --line-buffered -E '^(list: |box |  \| |answer: box)' |
  sed -u 's/^/  /'
product="$MINUTRIX_ROOT/c/Minutrix"
db="$product/UserTimesDB/UserTimesDB.mdb"
[ -f "$product/Minutrix.dll" ] || { echo "setup did not install Minutrix (see above)." >&2; exit 1; }

# The administrator's part: the demo's users (the installed database has none), a free site, the
# product page's port.
"$build"/minutrix-db add-user "$db" jsmith 60 >/dev/null
"$build"/minutrix-db add-user "$db" pjansen -1 >/dev/null
"$build"/minutrix-db add-user "$db" kim 1 >/dev/null
"$build"/minutrix-db set-used "$db" kim 1 >/dev/null
"$build"/minutrix-db add-site "$db" "127.0.0.2:$web_port/free" >/dev/null
"$build"/minutrix-db set "$db" ServerPort "$web_port" >/dev/null
"$build"/minutrix-db set "$db" ShowStartMessage yes >/dev/null
# Class 3B, whose teacher logs in to the console below.
"$build"/minutrix-db add-group "$db" 3B >/dev/null
"$build"/minutrix-db set-group "$db" jsmith 3B >/dev/null
"$build"/minutrix-db set-group "$db" kim 3B >/dev/null

htpasswd -bc "$demo/htpasswd" 'CORP\jsmith' minutrix 2>/dev/null
for account in 'CORP\pjansen' 'CORP\kim' 'CORP\carol'; do htpasswd -b "$demo/htpasswd" "$account" minutrix 2>/dev/null; done

stack_https=()
if [ "$https" = 1 ]; then
  # The proxy's certificate authority, which browsers must trust, and a second one that signs
  # the local TLS site's certificate, which only Squid trusts (as a public site's would be).
  ca="$demo/ca"
  mkdir -p "$ca"
  authority() {
    openssl req -new -newkey rsa:2048 -nodes -x509 -days 30 -subj "/CN=$2" -keyout "$ca/$1.key" \
      -out "$ca/$1.crt" -addext basicConstraints=critical,CA:TRUE \
      -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
  }
  authority proxy-ca "Minutrix demo proxy CA"
  cat "$ca/proxy-ca.crt" "$ca/proxy-ca.key" >"$ca/proxy-ca.pem"
  authority site-ca "Minutrix demo site CA"
  openssl req -new -newkey rsa:2048 -nodes -subj /CN=127.0.0.2 -keyout "$ca/site.key" \
    -out "$ca/site.csr" 2>/dev/null
  echo "subjectAltName=IP:127.0.0.2" >"$ca/site.ext"
  openssl x509 -req -in "$ca/site.csr" -CA "$ca/site-ca.crt" -CAkey "$ca/site-ca.key" \
    -CAcreateserial -days 30 -out "$ca/site.crt" -extfile "$ca/site.ext" 2>/dev/null
  "$build"/minutrix-db add-site "$db" "127.0.0.2:$tls_port/free" >/dev/null
  stack_https=(--ssl-bump "$ca/proxy-ca.pem" --tls-site "$ca/site.crt" "$ca/site.key"
               --tls-port "$tls_port" --origin-ca "$ca/site-ca.crt")
fi

https_text="  HTTPS sites pass through the proxy as tunnels: the first request of a period opens its tunnel
  (and is charged), a user out of time gets Squid's refusal; ./demo.sh --https shows the pages
  on HTTPS sites too."
if [ "$https" = 1 ]; then
  https_text="  HTTPS with interception: Squid decrypts HTTPS with the demo's certificate authority
    $ca/proxy-ca.crt
  (give it to curl --cacert, or import it into a browser as a trusted authority). The local site
  is served over TLS on https://127.0.0.2:$tls_port/ (its /free/ part costs no time):
    curl -i --cacert $ca/proxy-ca.crt -x http://127.0.0.1:$proxy_port -U 'CORP\\jsmith:minutrix' https://127.0.0.2:$tls_port/
    curl -i --cacert $ca/proxy-ca.crt -x http://127.0.0.1:$proxy_port -U 'CORP\\jsmith:minutrix' https://timeleft/
    curl -i --cacert $ca/proxy-ca.crt -x http://127.0.0.1:$proxy_port -U 'CORP\\kim:minutrix' https://127.0.0.2:$tls_port/
    curl -L --cacert $ca/proxy-ca.crt -x http://127.0.0.1:$proxy_port -U 'CORP\\carol:minutrix' https://127.0.0.2:$tls_port/"
fi

scripts/minutrix-stack start "$demo" --build "$build" --proxy-port "$proxy_port" --web-port "$web_port" \
  --web-root "$MINUTRIX_ROOT/c/Inetpub/wwwroot" "${stack_https[@]}"

# The administration console, with an administrator and a teacher of the demo's class 3B.
"$build"/minutrix-admin passwd admin <<<"minutrix-admin" >/dev/null
"$build"/minutrix-admin passwd teacher --role teacher --groups 3B <<<"minutrix-teacher" >/dev/null
setsid "$build"/minutrix-admin serve --listen "127.0.0.1:$console_port" >"$demo/console.out" \
  2>"$demo/console.err" </dev/null &
console_pid=$!
for _ in $(seq 1 100); do grep -q "^Listening on" "$demo/console.out" 2>/dev/null && break; sleep 0.05; done
if ! grep -q "^Listening on" "$demo/console.out" 2>/dev/null; then
  echo "The console (minutrix-admin) did not start:" >&2
  cat "$demo/console.err" >&2
  exit 1
fi

cat <<TXT

Minutrix is running.

  Administration console:                     http://127.0.0.1:$console_port/
    administrator: admin / minutrix-admin      (everything)
    teacher:       teacher / minutrix-teacher  (the Today board and pages of class 3B: jsmith, kim)

  Proxy (Squid with minutrix-squid-helper):  http://127.0.0.1:$proxy_port
  Product page (nginx):                       http://127.0.0.1:$web_port/Minutrix/Minutrix.asp
  A local site to browse:                     http://127.0.0.2:$web_port/   (its /free/ part costs no time)

  Accounts (password "minutrix" for all):
    CORP\\jsmith   60 minutes a day
    CORP\\pjansen  unlimited
    CORP\\kim      1 minute, already used up
    CORP\\carol    not monitored: always sent to the denied page
  The proxy's login accounts are in $demo/htpasswd; add one (the proxy sees it at once), then
  make the user monitored with an allowance in minutes a day (-1: unlimited):
    htpasswd -b $demo/htpasswd 'CORP\\anna' minutrix
    MINUTRIX_ROOT=$MINUTRIX_ROOT $build/minutrix-db add-user '$db' anna 30

  Try:
    curl -i -x http://127.0.0.1:$proxy_port -U 'CORP\\jsmith:minutrix' http://127.0.0.2:$web_port/
        (the first request of a period shows the start page; the next ones pass and are charged)
    curl -i -x http://127.0.0.1:$proxy_port -U 'CORP\\jsmith:minutrix' http://timeleft/
    curl -i -x http://127.0.0.1:$proxy_port -U 'CORP\\kim:minutrix' http://127.0.0.2:$web_port/
    curl -i -x http://127.0.0.1:$proxy_port -U 'CORP\\kim:minutrix' http://127.0.0.2:$web_port/free/
    curl -L -x http://127.0.0.1:$proxy_port -U 'CORP\\carol:minutrix' http://127.0.0.2:$web_port/
    MINUTRIX_ROOT=$MINUTRIX_ROOT $build/minutrix-db users '$db'
  A browser works too: set its HTTP proxy to 127.0.0.1:$proxy_port.

$https_text

  The web service of the demo machine is this Squid (through the machine's cmd.exe):
    MINUTRIX_ROOT=$MINUTRIX_ROOT $MINUTRIX_ROOT/c/WINNT/system32/cmd.exe /c net stop w3svc /y
        (the helper unloads the filter; then every request passes unfiltered)
    MINUTRIX_ROOT=$MINUTRIX_ROOT $MINUTRIX_ROOT/c/WINNT/system32/cmd.exe /c net start w3svc
        (a new helper loads the filters registered now)

  Uninstall, as an administrator does it, in a second terminal, as root (setup from the product folder;
  the proxy stops filtering after the web-service restart that it asks for):
    MINUTRIX_ROOT=$MINUTRIX_ROOT MINUTRIX_UI=script MINUTRIX_UI_SCRIPT=$PWD/scripts/ui/uninstall.ui $product/Setup.exe
  or answer its windows yourself:  MINUTRIX_ROOT=$MINUTRIX_ROOT MINUTRIX_UI=terminal $product/Setup.exe

  The filter's log: $product/MinutrixOutput*.txt   (detail: set MinutrixDebug to 1 with
    MINUTRIX_ROOT=$MINUTRIX_ROOT $build/minutrix-machine reg add "HKLM\\software\\Minutrix" /v MinutrixDebug /d 1 /f)

Press Ctrl-C to stop everything.
TXT
while true; do sleep 3600 & wait $!; done
