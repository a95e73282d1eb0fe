#!/bin/bash
# Instructions per request of minutrix-squid-helper and of bench's noop_helper, counted by
# callgrind on a fixed feed of request lines (repeatable on a loaded machine, unlike wall time).
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: bench/helper_callgrind.sh [--build DIR] [--requests N] [--rounds N] [--keep]

Sets up the machine of bench/squid_bench.sh (1,000 users, 100 free sites, debugging off), then
feeds N request lines (default 2,000; keyed extras, concurrency 0, round the 8 bench users) to
each helper under valgrind --tool=callgrind, and a feed of 200 lines, so that start-up cancels
out: instructions per request = (Ir(N + 200) - Ir(200)) / N. Also times the helper on its own
(CPU time of 20 runs of each feed, no valgrind; the difference over the difference of their
instructions) to give ns per instruction, and prints per request: instructions, and µs at that
rate. Each figure is the median of the rounds
(default 3). Needs valgrind; runs no server, touches no network.
USAGE
}

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$repo/build
requests=2000
rounds=3
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --help|-h) usage; exit 0 ;;
    --build) build=$(cd "$2" && pwd); shift ;;
    --requests) requests=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "helper_callgrind.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
command -v valgrind >/dev/null || { echo "helper_callgrind.sh: valgrind is not installed" >&2; exit 2; }

run=$(mktemp -d /tmp/minutrix-callgrind.XXXXXX)
cleanup() { if [ "$keep" = 1 ]; then echo "run folder kept: $run" >&2; else rm -rf "$run"; fi; }
trap cleanup EXIT

machine=$run/machine
"$build/minutrix-machine" init "$machine" >/dev/null
product=$machine/c/Minutrix
mkdir -p "$product/UserTimesDB"
cp "$build/Minutrix.dll" "$product/"
db=$product/UserTimesDB/UserTimesDB.mdb
export MINUTRIX_ROOT=$machine
"$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixPath /d 'c:\Minutrix\' /f >/dev/null
"$build/minutrix-machine" reg add 'HKLM\software\Minutrix' /v MinutrixDebug /d 0 /f >/dev/null
"$build/minutrix-db" create "$db" >/dev/null
"$build/minutrix-db" set "$db" ServerPort 8180 >/dev/null
"$build/minutrix-db" set "$db" ShowStartMessage no >/dev/null
for i in $(seq -w 1 1000); do echo "add-user USER$i 1000000"; done > "$run/commands.txt"
for i in $(seq -w 1 100); do echo "add-site free$i.example.org"; done >> "$run/commands.txt"
while read -r command name value; do
  "$build/minutrix-db" "$command" "$db" "$name" ${value:+"$value"} >/dev/null
done < "$run/commands.txt"

feed() {  # $1 lines
  for i in $(seq 0 $(($1 - 1))); do
    printf 'http://127.0.0.2:8180/ ip=127.0.0.1 method=GET user=user%04d\n' $(((i % 8 + 1) * 125))
  done
}
feed 200 > "$run/short.txt"
feed $((requests + 200)) > "$run/long.txt"

helper=("$build/minutrix-squid-helper" --server-name 127.0.0.1 --filter "$product/Minutrix.dll")
noop=("$build/noop_helper")
# Total instructions of one run: $1 feed, then the command.
count() {
  local input=$1 out=$run/callgrind.out
  shift
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" < "$input" > /dev/null 2> "$run/valgrind.err"
  awk '/^summary:/ { print $2 }' "$out"
}
per_request() {  # the command -> instructions per request
  local long short
  long=$(count "$run/long.txt" "$@")
  short=$(count "$run/short.txt" "$@")
  echo $(((long - short) / requests))
}
# CPU seconds (user + system) of 20 native runs of a feed: $1 feed, then the command.
cpu_seconds() {
  local input=$1 TIMEFORMAT='%3U %3S'
  shift
  { time (for _ in $(seq 20); do "$@" < "$input" > /dev/null 2>&1; done) ; } 2>&1 |
    awk '{ printf "%.3f", $1 + $2 }'
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

helper_ir="" noop_ir="" rates=""
for round in $(seq 1 "$rounds"); do
  h=$(per_request "${helper[@]}")
  n=$(per_request "${noop[@]}")
  # ns per instruction of the helper's requests alone: the short feed's start-up cancels out.
  long_s=$(cpu_seconds "$run/long.txt" "${helper[@]}")
  short_s=$(cpu_seconds "$run/short.txt" "${helper[@]}")
  rate=$(awk -v l="$long_s" -v s="$short_s" -v i="$h" -v n="$requests" \
           'BEGIN { printf "%.3f", (l - s) * 1e9 / (20 * n * i) }')
  echo "round $round: minutrix-squid-helper $h, noop_helper $n instructions/request;" \
       "$rate ns/instruction" >&2
  helper_ir+="$h " noop_ir+="$n " rates+="$rate "
done
h=$(median "$helper_ir") n=$(median "$noop_ir") rate=$(median "$rates")
awk -v h="$h" -v n="$n" -v r="$rate" 'BEGIN {
  printf "| helper | instructions/request | µs/request at %.3f ns/instruction |\n", r
  printf "|---|---:|---:|\n"
  printf "| minutrix-squid-helper | %d | %.2f |\n", h, h * r / 1000
  printf "| noop_helper | %d | %.2f |\n", n, n * r / 1000
  printf "| difference | %d | %.2f |\n", h - n, (h - n) * r / 1000 }'
