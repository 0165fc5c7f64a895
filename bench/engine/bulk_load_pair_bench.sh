#!/usr/bin/env bash
# One bulk load measured on two builds side by side (say, a branch's base and
# the branch) against PostgreSQL's COPY FROM in the same minutes: dblib_bcp
# (dblib_bcp.cpp) loads the same file into an engine of each build, in
# turns, ROUNDS times; COPY FROM loads it between them. Every server and
# client runs in a session of its own (see bulk_copy_bench.sh). Prints each
# round's wall times and each build's best over COPY FROM's best.
#
# usage: bulk_load_pair_bench.sh BEFORE_BUILD AFTER_BUILD [ROWS] [BATCH] [ROUNDS]
set -euo pipefail
before_build=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
rows=${3:-1000000}
batch=${4:-100000}
rounds=${5:-4}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"
g++ -std=c++20 -O2 -o "$work/dblib_bcp" "$here/dblib_bcp.cpp" -lsybdb

bulk_rows "$rows"

# The engine of each build, each with a freetds.conf entry of its own.
start_engine
after_pid=$engine_pid
after_port=$port
engine="$before_build/bin/sqlengine"
setsid "$engine" run --home "$work/before" --port 0 --listen 127.0.0.1 >"$work/before.out" 2>&1 &
before_pid=$!
for _ in $(seq 100); do [ -s "$work/before/sqlengine.port" ] && break; sleep 0.1; done
before_port=$(cat "$work/before/sqlengine.port")
trap 'kill "$before_pid" 2>/dev/null; wait "$before_pid" 2>/dev/null; cleanup' EXIT
printf '[before]\n  host = 127.0.0.1\n  port = %s\n  tds version = 7.4\n[after]\n  host = 127.0.0.1\n  port = %s\n  tds version = 7.4\n' \
  "$before_port" "$after_port" > "$work/freetds.conf"
export FREETDSCONF="$work/freetds.conf"
engine_sql() { printf '%s\ngo\n' "$2" | tsql -S "$1" -U sa -P '' -o q >/dev/null; }
for server in before after; do
  engine_sql "$server" "CREATE TABLE t(id int, name nvarchar(50), amount float, stamp datetime)"
done
load() {
  engine_sql "$1" "TRUNCATE TABLE t"
  local start end
  start=$(date +%s.%N)
  setsid -w "$work/dblib_bcp" in "$1" t "$work/rows.tsv" "$batch" >"$work/load.out"
  end=$(date +%s.%N)
  grep -q "$rows rows copied" "$work/load.out" || { cat "$work/load.out" >&2; exit 1; }
  echo "$end - $start" | bc -l
}

start_postgres
pg_sql() { su postgres -s /bin/sh -c "psql -q -h $work/pgsock -d postgres -c \"$1\""; }
pg_sql "CREATE TABLE t(id int, name varchar(50), amount float8, stamp timestamp)"
pg_load() {
  pg_sql "TRUNCATE t"
  local start end
  start=$(date +%s.%N)
  pg_sql "COPY t FROM '$work/rows.tsv'"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

best() { printf '%s\n' "$@" | sort -g | head -1; }
befores=() afters=() copies=()
echo "dblib_bcp loading $rows rows in batches of $batch; wall seconds per round:"
for round in $(seq "$rounds"); do
  befores+=("$(load before)")
  copies+=("$(pg_load)")
  afters+=("$(load after)")
  printf '  round %s: before %.3f   COPY FROM %.3f   after %.3f   (load average %s)\n' "$round" \
    "${befores[-1]}" "${copies[-1]}" "${afters[-1]}" "$(cut -d' ' -f1 /proc/loadavg)"
done
copy=$(best "${copies[@]}")
printf 'best: before %.3f (ratio %.2f)   after %.3f (ratio %.2f)   COPY FROM %.3f\n' \
  "$(best "${befores[@]}")" "$(echo "$(best "${befores[@]}") / $copy" | bc -l)" \
  "$(best "${afters[@]}")" "$(echo "$(best "${afters[@]}") / $copy" | bc -l)" "$copy"
