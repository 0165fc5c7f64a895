#!/usr/bin/env bash
# Bulk copy of one million four-column rows, all in one run: freebcp in and
# out of sqlengine in character mode (-c) and in native mode (-n), against
# sqlite3's .import and .output of the same file and PostgreSQL's COPY FROM
# and COPY TO on a server started here. Every peer reads and writes the same
# tab-separated file (freebcp's -c format, PostgreSQL's text format,
# sqlite3's tabs mode); the native file is one freebcp wrote out of the
# engine itself, so the client converts no text while it loads it. The
# engine is also loaded and read by dblib_bcp (dblib_bcp.cpp, built here
# against FreeTDS's DB-Library: Debian's freetds-dev), a client without
# freebcp's own costs, to show what the engine itself achieves.
#
# Wall times are the best of three runs; CPU is per run, the server's and the
# client's apart (engine and freebcp; PostgreSQL's server and psql). The
# engine and each client that does the work run in sessions of their own, as
# PostgreSQL's server does (pg_ctl): on a kernel that shares CPU out by
# session (autogroup), anything else would give PostgreSQL a larger share.
#
# usage: bulk_copy_bench.sh BUILD_DIR [ROWS] [BATCH]
#   BATCH: rows per batch (freebcp -b, dblib_bcp's bcp_batch), each one
#          transaction in the engine; 0 sends the whole file as one batch.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rows=${2:-1000000}
batch=${3:-100000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"
g++ -std=c++20 -O2 -o "$work/dblib_bcp" "$here/dblib_bcp.cpp" -lsybdb

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

echo "Preparing $rows rows ..."
bulk_rows "$rows"

# Runs "$@" three times (best wall time, as `seconds`) and sets $wall, and
# $server_cpu and $client_cpu: the CPU seconds per run of the server (read by
# the function named $server) and of the client processes "$@" started (all
# of them: freebcp or sqlite3, and the tsql or psql that empties a table).
measure() {
  local server=$1; shift
  local before after client_before
  client_before=$(children_cpu)
  before=$($server)
  wall=$(seconds "$@")
  after=$($server)
  server_cpu=$(echo "($after - $before) / 3" | bc -l)
  client_cpu=$(echo "($(children_cpu) - $client_before) / 3" | bc -l)
}
# CPU seconds of this shell's finished children and theirs.
children_cpu() { awk -v t="$ticks" '{ printf "%.3f", ($16 + $17) / t }' "/proc/$$/stat"; }

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
# freebcp's own default is a batch (a commit) every 1000 rows: one batch
# of the whole file must be asked for by its size.
batch_option=(-b "$batch")
[ "$batch" = 0 ] && batch_option=(-b "$rows")
# freebcp in from FILE in MODE (-c or -n), into an emptied table.
engine_in() {
  engine_sql "TRUNCATE TABLE t" >/dev/null
  setsid -w freebcp t in "$1" -S bench -U sa -P '' "$2" "${batch_option[@]}" >"$work/freebcp.out"
}
engine_out() { setsid -w freebcp t out "$work/exported.tsv" -S bench -U sa -P '' "$1"; }
dblib_in() {
  engine_sql "TRUNCATE TABLE t" >/dev/null
  setsid -w "$work/dblib_bcp" in bench t "$work/rows.tsv" "$batch" >"$work/freebcp.out"
}
dblib_out() { setsid -w "$work/dblib_bcp" out bench t "$work/exported.tsv"; }
copied_all() {
  grep -q "$rows rows copied" "$work/freebcp.out" || {
    echo "freebcp did not copy $rows rows:" >&2
    cat "$work/freebcp.out" >&2
    exit 1
  }
}

# sqlite3, a fresh file for each load.
sqlite_in() {
  rm -f "$work/peer.db"
  setsid -w sqlite3 "$work/peer.db" <<SQL
CREATE TABLE t(id INTEGER, name TEXT, amount REAL, stamp TEXT);
.mode tabs
.import $work/rows.tsv t
SQL
}
sqlite_out() { setsid -w sqlite3 -separator $'\t' "$work/peer.db" 'SELECT * FROM t' >"$work/sqlite.out.tsv"; }
no_server() { echo 0; }

# PostgreSQL on a private Unix socket; the server reads and writes the files.
start_postgres
pg_sql() { su postgres -s /bin/sh -c "psql -q -h $work/pgsock -d postgres -c \"$1\""; }
pg_sql "CREATE TABLE t(id int, name varchar(50), amount float8, stamp timestamp)"
pg_in() { pg_sql "TRUNCATE t" && pg_sql "COPY t FROM '$work/rows.tsv'"; }
pg_out() { pg_sql "COPY t TO STDOUT" >"$work/pg.out.tsv"; }

measure engine_cpu engine_in "$work/rows.tsv" -c
copied_all
in_c=("$wall" "$server_cpu" "$client_cpu")
# The native file: what freebcp writes out of the engine in native format.
freebcp t out "$work/rows.native" -S bench -U sa -P '' -n >/dev/null
measure engine_cpu engine_in "$work/rows.native" -n
copied_all
in_n=("$wall" "$server_cpu" "$client_cpu")
measure engine_cpu dblib_in
copied_all
in_dblib=("$wall" "$server_cpu" "$client_cpu")
measure no_server sqlite_in
in_sqlite=("$wall" "$server_cpu" "$client_cpu")
measure postgres_cpu pg_in
in_pg=("$wall" "$server_cpu" "$client_cpu")

measure engine_cpu engine_out -c
[ "$(wc -l <"$work/exported.tsv")" = "$rows" ] || { echo "freebcp out lost rows" >&2; exit 1; }
out_c=("$wall" "$server_cpu" "$client_cpu")
measure engine_cpu engine_out -n
out_n=("$wall" "$server_cpu" "$client_cpu")
measure engine_cpu dblib_out
[ "$(wc -l <"$work/exported.tsv")" = "$rows" ] || { echo "dblib_bcp out lost rows" >&2; exit 1; }
out_dblib=("$wall" "$server_cpu" "$client_cpu")
measure no_server sqlite_out
out_sqlite=("$wall" "$server_cpu" "$client_cpu")
measure postgres_cpu pg_out
out_pg=("$wall" "$server_cpu" "$client_cpu")

row() {  # label, wall, server CPU, client CPU, [what it compares to]
  printf '    %-24s %8.3fs   CPU server %6.2fs  client %6.2fs' "$1" "$2" "$3" "$4"
  [ $# -gt 4 ] && printf '   %s' "$5"
  echo
}
# label, the name of the engine's measures, the name of PostgreSQL's
engine_row() {
  local -n engine_measures=$2 pg_measures=$3
  row "$1" "${engine_measures[@]}" "ratio $(ratio "${engine_measures[0]}" "${pg_measures[0]}"), \
CPU ratio $(ratio "${engine_measures[1]}" "${pg_measures[1]}")"
}
echo "Bulk copy of $rows rows (id int, name nvarchar(50), amount float, stamp datetime);"
echo "wall: best of 3; CPU: per run. Ratios: sqlengine's wall time over PostgreSQL's (target <= 1.0)"
echo "and the engine's CPU over PostgreSQL's server CPU."
echo "  in  (batches of ${batch/#0/all} rows):"
engine_row "sqlengine <- freebcp -c" in_c in_pg
engine_row "sqlengine <- freebcp -n" in_n in_pg
engine_row "sqlengine <- dblib_bcp" in_dblib in_pg
row "sqlite3 .import" "${in_sqlite[@]}"
row "PostgreSQL COPY FROM" "${in_pg[@]}"
echo "  out:"
engine_row "sqlengine -> freebcp -c" out_c out_pg
engine_row "sqlengine -> freebcp -n" out_n out_pg
engine_row "sqlengine -> dblib_bcp" out_dblib out_pg
row "sqlite3 SELECT" "${out_sqlite[@]}"
row "PostgreSQL COPY TO" "${out_pg[@]}"
echo "  load average: $(cut -d' ' -f1-3 /proc/loadavg)"
