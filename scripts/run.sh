#!/usr/bin/env bash
# Starts the local engine (unless one already runs for this home) and opens Velmora.
set -uo pipefail
build=${1:-build}
bin="$build/bin"
"$bin/sqlengine" start
status=$?
if [ $status -ne 0 ] && [ $status -ne 3 ]; then
  echo "The local engine could not be started (status $status)." >&2
  exit $status
fi
"$bin/sqlengine" status
if [ ! -x "$bin/velmora" ]; then
  echo "The local engine is running; Velmora is not built yet."
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: set DISPLAY (or run under xvfb-run) to open Velmora." >&2
  exit 1
fi
exec "$bin/velmora"
