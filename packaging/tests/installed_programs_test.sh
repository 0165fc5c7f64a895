#!/usr/bin/env bash
# Installs the suite into a temporary root, either with `cmake --install`
# ("tree") or as the Debian package unpacked with dpkg -x ("deb", which also
# builds the package and checks it with lintian), makes the installation
# read-only and runs the installed programs from there as a user who cannot
# write it: sqlengine --version and --help, a Velmora and Brellow session
# offscreen, both windows on a virtual X display, and `sqlengine stop`.
# usage: installed_programs_test.sh tree|deb BUILD_DIR SESSION_PROGRAM VERSION
# Exit status 77 (skipped) where the tools a mode needs are missing.
set -euo pipefail
mode=$1 build=$(realpath "$2") session=$(realpath "$3") version=$4

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

command -v setpriv >/dev/null || [ "$(id -u)" -ne 0 ] ||
  skip "setpriv (util-linux) is missing: cannot run the installed programs as an ordinary user"

work=$(mktemp -d /tmp/installed-programs.XXXXXX)
chmod 755 "$work"
root=$work/root
home=$work/home
mkdir -p "$root" "$home"
mkdir -m 700 "$home/runtime"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# The user the installed programs run as: root ignores permission bits, so
# a root test run drops to nobody.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown -R 65534:65534 "$home"
fi
user_env=(env -i "HOME=$home" "XDG_DATA_HOME=$home/.local/share" "XDG_CONFIG_HOME=$home/.config"
  "SQLENGINE_HOME=$home/engine" "PATH=/usr/bin:/bin" "INSTALLED_SESSION_PORT=$port"
  "TMPDIR=$home" "XDG_RUNTIME_DIR=$home/runtime")
run_as_user() { "${as_user[@]}" "${user_env[@]}" "$@"; }

cleanup() {
  if [ -x "$root/usr/bin/sqlengine" ]; then
    run_as_user "$root/usr/bin/sqlengine" stop >/dev/null 2>&1 || true
  fi
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

case $mode in
  tree)
    cmake --install "$build" --prefix "$root/usr" >"$work/install.log" ||
      { cat "$work/install.log"; fail "cmake --install"; }
    ;;
  deb)
    command -v dpkg-deb >/dev/null || skip "dpkg-deb is missing (scripts/install-deps.sh installs dpkg-dev)"
    command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps is missing (dpkg-dev)"
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) ||
      { cat "$work/cpack.log"; fail "cpack -G DEB"; }
    deb=$work/deb/velmora-suite_${version}_amd64.deb
    [ -f "$deb" ] || fail "no $deb: $(ls "$work/deb")"
    depends=$(dpkg-deb -f "$deb" Depends)
    for needed in tdsodbc odbcinst fonts-liberation2 libodbc2 libqt6widgets6 libqt6gui6 libsqlite3-0; do
      [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
    done
    if command -v lintian >/dev/null; then
      lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
        { cat "$work/lintian.log"; fail "lintian found errors"; }
    else
      echo "lintian is missing: the package is not checked by it"
    fi
    dpkg -x "$deb" "$root"
    ;;
  *) fail "unknown mode $mode" ;;
esac

usr=$root/usr
for program in sqlengine velmora brellow; do
  [ -x "$usr/bin/$program" ] || fail "$program is not installed"
  [ -f "$usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
[ -f "$usr/share/velmora/TestProjSQL.mdf" ] || fail "the sample database is not installed"
unit=$usr/lib/systemd/user/sqlengine.service
grep -qx "ExecStart=/usr/bin/sqlengine start" "$unit" ||
  grep -qx "ExecStart=$usr/bin/sqlengine start" "$unit" || fail "the unit does not run the installed engine: $(grep ExecStart "$unit")"
if command -v systemd-analyze >/dev/null && [ "$mode" = tree ]; then
  # (the package's unit names /usr/bin/sqlengine, which is not installed here)
  MANPATH=$usr/share/man systemd-analyze verify "$unit" >"$work/unit.log" 2>&1 ||
    { cat "$work/unit.log"; fail "systemd-analyze verify $unit"; }
fi
for program in velmora brellow; do
  desktop=$usr/share/applications/$program.desktop
  [ -f "$usr/share/icons/hicolor/scalable/apps/$program.svg" ] || fail "no scalable icon for $program"
  png=$usr/share/icons/hicolor/48x48/apps/$program.png
  size=$(/usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$png")
  [ "$size" = 48x48 ] || fail "$png is $size"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "$desktop is not valid"
  fi
done
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli validate"; }
fi

cp "$session" "$usr/bin/"
chmod -R a-w "$root"
if run_as_user touch "$usr/bin/.write-test" 2>/dev/null ||
  run_as_user touch "$usr/share/velmora/.write-test" 2>/dev/null; then
  fail "the test user can write the installation"
fi

[ "$(run_as_user "$usr/bin/sqlengine" --version)" = "sqlengine $version" ] || fail "sqlengine --version"
run_as_user "$usr/bin/sqlengine" --help | grep -q "^usage: sqlengine" || fail "sqlengine --help"

# Without sqlengine beside the program or on PATH, Turn On says so.
mkdir -p "$work/bare/bin" "$work/empty"
cp "$session" "$work/bare/bin/"
run_as_user env QT_QPA_PLATFORM=offscreen PATH="$work/empty" \
  "$work/bare/bin/$(basename "$session")" --gtest_filter='VelmoraWithoutEngine.*' ||
  fail "Velmora without an engine"

run_as_user env QT_QPA_PLATFORM=offscreen \
  "$usr/bin/$(basename "$session")" --gtest_filter='-VelmoraWithoutEngine.*' ||
  fail "the installed session"

# The programs themselves show their windows on a virtual display. Xvfb
# picks a free display itself (-displayfd), so parallel runs do not collide.
if command -v Xvfb >/dev/null && command -v xwininfo >/dev/null; then
  # An X server that is not root cannot make its socket folder; a desktop
  # system has it from boot (root's, world-writable and sticky), a fresh
  # container may not.
  if [ "$(id -u)" -eq 0 ] && [ ! -d /tmp/.X11-unix ]; then
    install -d -m 1777 -o root -g root /tmp/.X11-unix
  fi
  run_as_user bash -c '
    set -u
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$HOME/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 300); do
      [ -s "$HOME/display" ] && break
      sleep 0.1
    done
    export DISPLAY=:$(head -n1 "$HOME/display")
    "$1/velmora" & velmora=$!
    "$1/brellow" & brellow=$!
    shown=""
    for _ in $(seq 300); do
      tree=$(xwininfo -root -tree 2>/dev/null | tr "[:upper:]" "[:lower:]")
      if [[ $tree == *"(\"velmora\""* && $tree == *"(\"brellow\""* ]]; then shown=yes; break; fi
      kill -0 $velmora 2>/dev/null && kill -0 $brellow 2>/dev/null || break
      sleep 0.1
    done
    kill $velmora $brellow 2>/dev/null
    wait $velmora $brellow 2>/dev/null
    kill $xvfb 2>/dev/null
    wait $xvfb 2>/dev/null
    [ -n "$shown" ] || { echo "the windows of velmora and brellow did not appear on $DISPLAY"; exit 1; }
  ' windows "$usr/bin" || fail "the installed programs on a display"
else
  echo "Xvfb or xwininfo is missing: the programs' own windows are not checked"
fi

stopped=$(run_as_user "$usr/bin/sqlengine" stop) || fail "sqlengine stop: $stopped"
[ "$stopped" = "The service has stopped." ] || fail "sqlengine stop said: $stopped"
if run_as_user "$usr/bin/sqlengine" status >/dev/null; then fail "the engine still runs"; fi
echo "installed programs ($mode) work from a read-only installation"
