#!/usr/bin/env bash
# Times Velmora's "Execute SQL statement" for SELECT * of a one-million-row,
# four-column table (offscreen, from the click to the filled list) against
# tsql printing the same rows from the same engine in the same run, and prints
# the ratio (target: at most 1.14) and Velmora's peak resident memory holding
# the result (target: at most 100 MB for a million lines).
#
# usage: run.sh BUILD_DIR [ROWS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rows=${2:-1000000}
engine="$build/bin/sqlengine"
program="$build/bin/velmora_execute"
work=$(mktemp -d /tmp/velmora-bench-XXXXXX)
engine_pid=""

cleanup() {
  if [ -n "$engine_pid" ]; then kill "$engine_pid" 2>/dev/null || true; wait "$engine_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

best_seconds() { # runs "$@" with output discarded, prints the best wall time of 3
  local best=""
  for _ in 1 2 3; do
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}

"$engine" run --home "$work/home" --port 0 --listen 127.0.0.1 >"$work/engine.out" 2>&1 &
engine_pid=$!
for _ in $(seq 300); do [ -s "$work/home/sqlengine.port" ] && break; sleep 0.1; done
port=$(cat "$work/home/sqlengine.port")

echo "Loading $rows rows ..."
/usr/bin/python3 - "$port" "$rows" <<'PY'
import sys, pytds
port, rows = int(sys.argv[1]), int(sys.argv[2])
with pytds.connect('127.0.0.1', 'master', 'sa', '', port=port, autocommit=True) as conn:
    cur = conn.cursor()
    cur.execute("CREATE DATABASE Bench")
    cur.execute("USE Bench")
    cur.execute("CREATE TABLE Rows (Id int, Name nvarchar(50), Amount float, Stamp datetime)")
    batch = []
    for i in range(1, rows + 1):
        batch.append(f"({i},N'name {i % 997}',{i * 0.25},'2024-01-{1 + i % 28:02d} 12:34:56')")
        if len(batch) == 500:
            cur.execute("INSERT INTO Rows VALUES " + ",".join(batch))
            batch.clear()
    if batch:
        cur.execute("INSERT INTO Rows VALUES " + ",".join(batch))
PY

tsql_rows() {
  printf 'USE Bench\ngo\nSELECT * FROM Rows\ngo\nexit\n' |
    tsql -H 127.0.0.1 -p "$port" -U sa -P '' -o q
}
tsql_time=$(best_seconds tsql_rows)

best=""
for _ in 1 2 3; do
  read -r fill lines scroll peak < <("$program" "127.0.0.1,$port" Bench "SELECT * FROM Rows")
  if [ "$lines" -ne $((rows + 1)) ]; then
    echo "velmora_execute listed $lines lines, expected $((rows + 1))" >&2
    exit 1
  fi
  if [ -z "$best" ] || [ "$(echo "$fill < $best" | bc -l)" = 1 ]; then best=$fill; best_scroll=$scroll; fi
  if [ -z "${most:-}" ] || [ "$(echo "$peak > $most" | bc -l)" = 1 ]; then most=$peak; fi
done

printf 'tsql printing %d rows:           %s s\n' "$rows" "$tsql_time"
printf 'Velmora click to filled List1:   %s s (scroll to the last line afterwards: %s s)\n' \
  "$best" "$best_scroll"
printf 'ratio Velmora / tsql:            %.2f (target <= 1.14)\n' "$(echo "$best / $tsql_time" | bc -l)"
printf 'Velmora peak resident memory:    %s MB (highest of the runs; target <= 100 for 1000000 rows)\n' "$most"
