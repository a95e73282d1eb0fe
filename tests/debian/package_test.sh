#!/usr/bin/env bash
# The Debian package as built from the build under test: lintian finds no error and no warning
# that debian/ does not explain, it holds every program, page and file a system needs where the
# system looks for them, its version is the project's, its maintainer scripts and minutrix-squid
# pass shellcheck, minutrix-squid refuses bad input before it touches anything, and its logrotate
# file compresses and removes the filter's old day logs, never today's.
set -uo pipefail
source_dir=$1 build_dir=$2 version=$3
for program in dpkg-buildpackage lintian shellcheck logrotate; do
  PATH=$PATH:/usr/sbin command -v "$program" >/dev/null || { echo "SKIP: $program missing"; exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The version of debian/changelog is the project's.
changelog=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
[ "$changelog" = "$version" ] || fail "debian/changelog says $changelog, the project $version"

start=$(date +%s)
if ! "$source_dir/scripts/build-deb.sh" --prebuilt "$build_dir" "$scratch/out" >"$scratch/build.out" 2>&1; then
  cat "$scratch/build.out"
  echo "FAIL: the package was not built"
  exit 1
fi
echo "Package built in $(($(date +%s) - start)) s"
deb=$scratch/out/minutrix_${version}_amd64.deb
[ -f "$deb" ] || { echo "FAIL: no $deb"; ls "$scratch/out"; exit 1; }

# lintian: nothing at warning level or above that no override explains.
lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb" >"$scratch/lintian" 2>&1 ||
  fail "lintian:$(printf '\n'; cat "$scratch/lintian")"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"

dpkg-deb -x "$deb" "$scratch/root"
dpkg-deb -e "$deb" "$scratch/control"
root=$scratch/root
expect() { [ -e "$root$1" ] || [ -L "$root$1" ] || fail "the package lacks $1"; }
for file in /usr/sbin/minutrix-db /usr/sbin/minutrix-admin /usr/sbin/minutrix-squid \
  /usr/sbin/minutrix-machine /usr/lib/minutrix/minutrix-machine /usr/lib/minutrix/minutrix-cmd \
  /usr/lib/minutrix/minutrix-msiexec /usr/lib/minutrix/minutrix-squid-helper \
  /usr/lib/minutrix/Minutrix.dll /usr/lib/minutrix/setup /usr/share/minutrix/ui/install.ui \
  /usr/share/minutrix/ui/install-web-service.ui /usr/share/minutrix/ui/reinstall.ui \
  /usr/share/minutrix/ui/uninstall.ui /etc/logrotate.d/minutrix \
  /lib/systemd/system/minutrix-admin.service /usr/share/doc/minutrix/copyright \
  /usr/share/doc/minutrix/deployment.md.gz /usr/share/doc/minutrix/admin.md.gz; do
  expect "$file"
done
# Every program on the PATH runs from where the package puts it, and has a manual page.
for program in "$root"/usr/sbin/* "$root"/usr/bin/*; do
  [ -e "$program" ] || [ -L "$program" ] || continue
  name=$(basename "$program")
  ls "$root"/usr/share/man/man[18]/"$name".[18].gz >/dev/null 2>&1 || fail "no manual page for $name"
  [ -x "$program" ] || fail "$name on the PATH leads to nothing that runs"
done
# The distribution folder holds what the build's does: its programs as links into
# /usr/lib/minutrix, everything else as it is.
(cd "$build_dir/dist" && find . -mindepth 1 | sort) >"$scratch/dist.build"
(cd "$root/usr/share/minutrix/dist" && find . -mindepth 1 | sort) >"$scratch/dist.package"
diff "$scratch/dist.build" "$scratch/dist.package" >"$scratch/dist.diff" ||
  fail "the distribution folder differs from the build's:$(printf '\n'; cat "$scratch/dist.diff")"
for link in Setup.exe:setup Minutrix.dll:Minutrix.dll; do
  file=$root/usr/share/minutrix/dist/${link%%:*}
  [ "$(realpath -m "$file")" = "$root/usr/lib/minutrix/${link#*:}" ] ||
    fail "dist/${link%%:*} does not lead to /usr/lib/minutrix/${link#*:}"
done
for file in InstallScript.txt MinutrixRegSettings.ini UserTimesDB/UserTimesDB.mdb Minutrix.asp; do
  cmp -s "$build_dir/dist/$file" "$root/usr/share/minutrix/dist/$file" ||
    fail "dist/$file is not the build's"
done
# The console's unit is admin/'s, sandbox and all, with the package's path to the program.
unit=$root/lib/systemd/system/minutrix-admin.service
grep -qx 'ExecStart=/usr/sbin/minutrix-admin serve --listen 127.0.0.1:8090 --trusted-proxy 127.0.0.1' "$unit" ||
  fail "the unit does not start /usr/sbin/minutrix-admin"
diff <(grep -v '^#\|^ExecStart=' "$source_dir/admin/minutrix-admin.service") \
  <(grep -v '^#\|^ExecStart=\|^Documentation=man:minutrix-admin(8)$' "$unit") >"$scratch/unit.diff" ||
  fail "the unit's settings differ from admin/minutrix-admin.service:$(printf '\n'; cat "$scratch/unit.diff")"

# The maintainer scripts as packaged (debhelper's parts included), and minutrix-squid.
for script in postinst prerm postrm; do
  [ -f "$scratch/control/$script" ] || { fail "no $script"; continue; }
  shellcheck -s sh "$scratch/control/$script" || fail "shellcheck: $script"
done
shellcheck "$root/usr/sbin/minutrix-squid" || fail "shellcheck: minutrix-squid"

# minutrix-squid: --help, and bad input refused with a reason before anything is changed.
squid_tool=$root/usr/sbin/minutrix-squid
"$squid_tool" --help | grep -q '^Usage: minutrix-squid enable' || fail "minutrix-squid --help"
refused() {
  local expected=$1
  shift
  local out status
  out=$("$squid_tool" "$@" 2>&1)
  status=$?
  if [ "$status" -eq 0 ] || ! printf '%s' "$out" | grep -q -- "$expected"; then
    fail "minutrix-squid $* gave status $status and '$out', not a refusal with '$expected'"
  fi
}
refused "is not a host name" enable --server-name 'bad name;rm'
refused "is not a port" enable --product-port 70000
refused "is not a network" enable --network '10.0.0.0/8 all'
refused "needs a name" enable --server-name
refused "unknown option" enable --fast
refused "is not a login name" add-user 'CORP\jsmith' 10
refused "is not a number of minutes" add-user jsmith lots
refused "unknown command" start

# logrotate: a copy of the package's file, pointed at a folder of the test.
logs=$scratch/logs
mkdir "$logs"
sed -e "s|/var/lib/minutrix/machine/c/Minutrix|$logs|" -e '/^  su /d' \
  "$root/etc/logrotate.d/minutrix" >"$scratch/logrotate.conf"
day() { date -d "$1 days ago" +%d%m%Y; }
# logrotate rotates a file it meets for the first time only a day later: the state file says it
# met these three days ago.
echo "logrotate state -- version 2" >"$scratch/logrotate.state"
log_file() {
  local file
  file=$logs/MinutrixOutput$(day "$1").txt$2
  if [ -n "$2" ]; then echo "$3" | gzip >"$file"; else echo "$3" >"$file"; fi
  touch -d "$1 days ago" "$file"
  echo "\"$file\" $(date -d '3 days ago' +%Y-%-m-%-d-0:0:0)" >>"$scratch/logrotate.state"
}
log_file 0 "" "a line of today"
for age in 2 40; do log_file "$age" "" "a line of day -$age"; done
log_file 5 .1.gz "a recent compressed day"
log_file 45 .1.gz "an old compressed day"
chmod 600 "$scratch/logrotate.state"
logrotate -s "$scratch/logrotate.state" "$scratch/logrotate.conf" >"$scratch/logrotate.out" 2>&1 ||
  fail "logrotate:$(printf '\n'; cat "$scratch/logrotate.out")"
[ -f "$logs/MinutrixOutput$(day 0).txt" ] || fail "today's log was rotated"
for age in 2 40; do
  if [ -e "$logs/MinutrixOutput$(day "$age").txt" ] || [ ! -f "$logs/MinutrixOutput$(day "$age").txt.1.gz" ]; then
    fail "the log of $age days ago was not compressed"
  fi
done
[ "$(zcat "$logs/MinutrixOutput$(day 2).txt.1.gz")" = "a line of day -2" ] ||
  fail "the compressed log lost its lines"
[ ! -e "$logs/MinutrixOutput$(day 45).txt.1.gz" ] || fail "a compressed log of 45 days ago was kept"
[ -f "$logs/MinutrixOutput$(day 5).txt.1.gz" ] || fail "a compressed log of 5 days ago was removed"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
