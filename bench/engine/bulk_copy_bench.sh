#!/usr/bin/env bash
# Bulk copy of one million four-column rows, all in one run: freebcp in and
# out of sqlengine in character mode, against sqlite3's .import and
# .output of the same file and PostgreSQL's COPY FROM and COPY TO on a
# server started here. Every peer reads and writes the same tab-separated
# file (freebcp's -c format, PostgreSQL's text format, sqlite3's tabs mode).
#
# usage: bulk_copy_bench.sh BUILD_DIR [ROWS] [BATCH]
#   BATCH: rows per freebcp batch (-b), each one transaction in the engine;
#          0 sends the whole file as one batch.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rows=${2:-1000000}
batch=${3:-100000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

echo "Preparing $rows rows ..."
/usr/bin/python3 - "$rows" > "$work/rows.tsv" <<'PY'
import sys
n = int(sys.argv[1])
out = sys.stdout
for i in range(1, n + 1):
    out.write(f"{i}\tname {i % 997}\t{i * 0.25}\t2024-01-{1 + i % 28:02d} 12:34:56.000\n")
PY
chmod 755 "$work"
chmod 644 "$work/rows.tsv"

# sqlengine, reached by freebcp through a freetds.conf entry of its own.
start_engine
cat > "$work/freetds.conf" <<EOF
[bench]
  host = 127.0.0.1
  port = $port
  tds version = 7.4
EOF
export FREETDSCONF="$work/freetds.conf"
engine_sql() { printf '%s\ngo\n' "$1" | tsql -S bench -U sa -P '' -o q; }
engine_sql "CREATE TABLE t(id int, name nvarchar(50), amount float, stamp datetime)" >/dev/null
batch_option=()
[ "$batch" != 0 ] && batch_option=(-b "$batch")
engine_in() {
  engine_sql "TRUNCATE TABLE t" >/dev/null
  /usr/bin/time -f "%U %S" -a -o "$work/freebcp.cpu" \
    freebcp t in "$work/rows.tsv" -S bench -U sa -P '' -c "${batch_option[@]}" >"$work/freebcp.out"
}
engine_cpu() { awk '{print $14 + $15}' "/proc/$engine_pid/stat"; }  # clock ticks
engine_out() { freebcp t out "$work/engine.out.tsv" -S bench -U sa -P '' -c; }

# sqlite3, a fresh file for each load.
sqlite_in() {
  rm -f "$work/peer.db"
  sqlite3 "$work/peer.db" <<SQL
CREATE TABLE t(id INTEGER, name TEXT, amount REAL, stamp TEXT);
.mode tabs
.import $work/rows.tsv t
SQL
}
sqlite_out() { sqlite3 -separator $'\t' "$work/peer.db" 'SELECT * FROM t' >"$work/sqlite.out.tsv"; }

# PostgreSQL on a private Unix socket; the server reads and writes the files.
start_postgres
pg_sql() { su postgres -s /bin/sh -c "psql -q -h $work/pgsock -d postgres -c \"$1\""; }
pg_sql "CREATE TABLE t(id int, name varchar(50), amount float8, stamp timestamp)"
pg_in() { pg_sql "TRUNCATE t" && pg_sql "COPY t FROM '$work/rows.tsv'"; }
pg_out() { pg_sql "COPY t TO STDOUT" >"$work/pg.out.tsv"; }

ticks_before=$(engine_cpu)
t_engine_in=$(seconds engine_in)
ticks_after=$(engine_cpu)
cpu_engine=$(echo "($ticks_after - $ticks_before) / $(getconf CLK_TCK) / 3" | bc -l)
cpu_client=$(awk '{sum += $1 + $2} END {print sum / NR}' "$work/freebcp.cpu")
grep -q "$rows rows copied" "$work/freebcp.out" || {
  echo "freebcp did not copy $rows rows:" >&2
  cat "$work/freebcp.out" >&2
  exit 1
}
t_sqlite_in=$(seconds sqlite_in)
t_pg_in=$(seconds pg_in)
t_engine_out=$(seconds engine_out)
[ "$(wc -l <"$work/engine.out.tsv")" = "$rows" ] || { echo "freebcp out lost rows" >&2; exit 1; }
t_sqlite_out=$(seconds sqlite_out)
t_pg_out=$(seconds pg_out)

echo "Bulk copy of $rows rows (id int, name nvarchar(50), amount float, stamp datetime), best of 3:"
echo "  in  (batches of ${batch/#0/all} rows):"
printf '    sqlengine <- freebcp -c : %ss   (CPU per run: engine %.2fs, freebcp %.2fs)\n' \
  "$t_engine_in" "$cpu_engine" "$cpu_client"
printf '    sqlite3 .import         : %ss   ratio %s\n' "$t_sqlite_in" "$(ratio "$t_engine_in" "$t_sqlite_in")"
printf '    PostgreSQL COPY FROM    : %ss   ratio %s (target <= 1.0)\n' "$t_pg_in" "$(ratio "$t_engine_in" "$t_pg_in")"
echo "  out:"
printf '    sqlengine -> freebcp -c : %ss\n' "$t_engine_out"
printf '    sqlite3 SELECT          : %ss   ratio %s\n' "$t_sqlite_out" "$(ratio "$t_engine_out" "$t_sqlite_out")"
printf '    PostgreSQL COPY TO      : %ss   ratio %s (target <= 1.0)\n' "$t_pg_out" "$(ratio "$t_engine_out" "$t_pg_out")"
