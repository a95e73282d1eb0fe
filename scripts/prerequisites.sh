# Debian packages the build, the tests and the demo need; sourced by test.sh and demo.sh.
MINUTRIX_PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev libgmock-dev
                   libbenchmark-dev binutils procps iproute2 libcpp-httplib-dev nlohmann-json3-dev
                   libcrypt-dev libpq-dev)

# Installs whatever of MINUTRIX_PACKAGES (and any extra names given) is missing. Needs root for
# apt-get; without it, names what is missing and stops.
ensure_packages() {
  local wanted=("${MINUTRIX_PACKAGES[@]}" "$@") missing=() pkg
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}; run as root to install them." >&2
    exit 1
  fi
  echo "== Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
