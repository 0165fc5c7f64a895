#!/usr/bin/env bash
# Runs the README's test command on a clone of the current commit inside a
# minimal Debian 12 root, the way a newcomer's fresh machine would. The base
# root is made once with debootstrap and cached; every run works on a copy of
# it, so nothing a run installs leaks into the next one.
#
# Needs root (debootstrap and chroot) and debootstrap itself. Environment:
#   FRESH_CHECK_CACHE   where the base root is kept (default ~/.cache/fresh-check)
#   FRESH_CHECK_MIRROR  the Debian mirror (default: the host's first bookworm URI)
#   FRESH_CHECK_KEEP=1  keep the run's root afterwards for a look inside
set -euo pipefail

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-check: needs root (it runs debootstrap and chroot); run it as root" >&2
  exit 2
fi
if ! command -v debootstrap >/dev/null; then
  echo "fresh-check: needs debootstrap (apt-get install debootstrap)" >&2
  exit 2
fi

cache=${FRESH_CHECK_CACHE:-$HOME/.cache/fresh-check}
base=$cache/bookworm-minbase
mirror=${FRESH_CHECK_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(grep -hs -m1 '^URIs:.*debian$' /etc/apt/sources.list.d/*.sources | awk '{print $2}' || true)
  [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
fi

# What a newcomer starts from: a minimal system plus the tools to clone and
# build. Everything else must come from the project's own install step.
if [ ! -f "$base/.complete" ]; then
  echo "fresh-check: building the base root in $base from $mirror"
  rm -rf "$base"
  mkdir -p "$cache"
  debootstrap --variant=minbase --include=git,make,g++,cmake,ca-certificates,python3 \
    bookworm "$base" "$mirror"
  touch "$base/.complete"
fi

root=$(mktemp -d "$cache/run.XXXXXX")
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  if [ "${FRESH_CHECK_KEEP:-0}" = 1 ]; then
    echo "fresh-check: root kept in $root"
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT

echo "fresh-check: copying the base root"
cp -a "$base/." "$root/"
rm -f "$root/.complete"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
for fs in proc sys dev dev/pts; do
  case $fs in
    proc) mount -t proc proc "$root/proc" ;;
    sys) mount -t sysfs sys "$root/sys" ;;
    dev) mount --bind /dev "$root/dev" ;;
    dev/pts) mount -t devpts devpts "$root/dev/pts" ;;
  esac
  mounted+=("$root/$fs")
done

echo "fresh-check: cloning $commit"
git clone -q --no-local "$repo" "$root/src"
git -C "$root/src" checkout -q --detach "$commit"

# The README's test command, as the clone's own README states it.
test_command=$(sed -n 's/^make test .*/make test/p' "$root/src/README.md" | head -n1)
[ -n "$test_command" ] || { echo "fresh-check: README names no test command" >&2; exit 2; }

echo "fresh-check: running '$test_command' in the fresh root (this takes a while)"
log=$cache/last-run.log
set +e
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  bash -c "cd /src && $test_command" >"$log" 2>&1
status=$?
set -e
echo "----- last lines of $log -----"
tail -n 30 "$log"
echo "fresh-check: '$test_command' exited with status $status"
exit "$status"
