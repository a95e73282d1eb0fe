#!/bin/sh
# Writes an nginx.conf for the product page and the test site from web/nginx.conf.in.
set -eu
usage() {
  cat <<USAGE
Usage: $0 RUN_DIR [PAGE_ADDR [SITE_ADDR [ACCESS_LOG]]]
Writes RUN_DIR/nginx.conf serving the product page (web/Minutrix/) on PAGE_ADDR (default
127.0.0.1:8180) and the test site (web/site/) on SITE_ADDR (default 127.0.0.2:8180); pid, logs and
temporary folders go to RUN_DIR. ACCESS_LOG is a path or "off" (default RUN_DIR/access.log).
Start:  nginx -p RUN_DIR -e RUN_DIR/error.log -c RUN_DIR/nginx.conf
Stop:   kill "\$(cat RUN_DIR/nginx.pid)"
USAGE
}
case "${1:-}" in -h|--help) usage; exit 0 ;; '') usage >&2; exit 2 ;; esac
run=$(cd "$1" && pwd)
page=${2:-127.0.0.1:8180}
site=${3:-127.0.0.2:8180}
log=${4:-$run/access.log}
web=$(cd "$(dirname "$0")" && pwd)
sed -e "s|@RUN_DIR@|$run|g" -e "s|@WEB_DIR@|$web|g" -e "s|@PAGE_ADDR@|$page|g" \
    -e "s|@SITE_ADDR@|$site|g" -e "s|@ACCESS_LOG@|$log|g" "$web/nginx.conf.in" > "$run/nginx.conf"
