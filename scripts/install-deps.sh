#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, if missing.
# With "bench" also what the benchmarks compare against; with "fuzz" clang;
# with "fresh" debootstrap, for the fresh-machine check.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev fonts-liberation2 fonts-wine
  unixodbc unixodbc-dev tdsodbc freetds-bin
  libsqlite3-dev sqlite3 libssl-dev
  libgtest-dev googletest
  python3 python3-tds python3-pkg-resources python3-openssl
  xvfb xauth x11-utils
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin man-db
)
for extra in "$@"; do
  case "$extra" in
    bench) packages+=(postgresql postgresql-client libpq-dev bc time) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    fresh) packages+=(debootstrap) ;;
    *) echo "install-deps: unknown set '$extra'" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
