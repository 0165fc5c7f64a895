#!/usr/bin/env bash
# Streams SELECT * of a one-million-row, four-column table from sqlengine to a
# TDS client and prints the time against sqlite3 printing the same rows and
# psql reading the same table from a PostgreSQL server started here, all in one
# run. Then the median of connect + SELECT 1 + disconnect.
#
# The TDS client measured is odbc_select (built here from odbc_select.cpp: the
# FreeTDS ODBC driver, block fetches into natively typed columns, every row
# printed). tsql's figure is printed too; tsql spends most of its time
# formatting rows, so it measures the printer rather than the engine.
#
# usage: select_bench.sh BUILD_DIR [ROWS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rows=${2:-1000000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"

g++ -std=c++20 -O2 -o "$work/odbc_select" "$here/odbc_select.cpp" -lodbc

echo "Preparing $rows rows ..."
# One generator for every peer: the same CSV is loaded into each.
/usr/bin/python3 - "$rows" > "$work/rows.csv" <<'PY'
import sys
n = int(sys.argv[1])
out = sys.stdout
for i in range(1, n + 1):
    out.write(f"{i},name {i % 997},{i * 0.25},2024-01-{1 + i % 28:02d} 12:34:56\n")
PY

# sqlite3
sqlite3 "$work/peer.db" <<SQL
CREATE TABLE t(id INTEGER, name TEXT, amount REAL, stamp TEXT);
.mode csv
.import $work/rows.csv t
SQL

# sqlengine: create through the engine, load through pytds in large batches.
start_engine
/usr/bin/python3 - "$port" "$work/rows.csv" <<'PY'
import sys, pytds
port, csv = int(sys.argv[1]), sys.argv[2]
with pytds.connect('127.0.0.1', 'master', 'sa', '', port=port, autocommit=True) as conn:
    cur = conn.cursor()
    cur.execute("CREATE TABLE t(id int, name nvarchar(50), amount float, stamp datetime)")
    batch = []
    def flush():
        if batch:
            cur.execute("INSERT INTO t VALUES " + ",".join(batch))
            batch.clear()
    with open(csv) as f:
        for line in f:
            i, name, amount, stamp = line.rstrip("\n").split(",")
            batch.append(f"({i},N'{name}',{amount},'{stamp}')")
            if len(batch) == 500:
                flush()
    flush()
PY

# PostgreSQL on a private Unix socket.
chown postgres "$work/rows.csv"
start_postgres
su postgres -s /bin/sh -c "psql -q -h $work/pgsock -d postgres -c \"CREATE TABLE t(id int, name varchar(50), amount float8, stamp timestamp)\" -c \"\\copy t FROM '$work/rows.csv' CSV\""

odbc_select() { "$work/odbc_select" "$port" 'SELECT * FROM t'; }
tsql_select() { printf 'SELECT * FROM t\ngo\n' | tsql -H 127.0.0.1 -p "$port" -U sa -P '' -o q; }
sqlite_select() { sqlite3 "$work/peer.db" 'SELECT * FROM t'; }
psql_select() { su postgres -s /bin/sh -c "psql -At -h $work/pgsock -d postgres -c 'SELECT * FROM t'"; }

if [ "$(odbc_select | wc -l)" != "$rows" ]; then
  echo "odbc_select did not print $rows rows" >&2
  exit 1
fi
t_engine=$(seconds odbc_select)
t_tsql=$(seconds tsql_select)
t_sqlite=$(seconds sqlite_select)
t_psql=$(seconds psql_select)
echo "SELECT * of $rows rows, best of 3:"
printf '  sqlengine -> odbc_select: %ss\n' "$t_engine"
printf '  sqlengine -> tsql       : %ss   (tsql formats every value itself)\n' "$t_tsql"
printf '  sqlite3                 : %ss   ratio %.2f (target <= 1.5)\n' "$t_sqlite" "$(echo "$t_engine / $t_sqlite" | bc -l)"
printf '  PostgreSQL -> psql      : %ss   ratio %.2f (target <= 1.0)\n' "$t_psql" "$(echo "$t_engine / $t_psql" | bc -l)"

/usr/bin/python3 - "$port" <<'PY'
import statistics, sys, time, pytds
port = int(sys.argv[1])
times = []
for _ in range(200):
    start = time.perf_counter()
    with pytds.connect('127.0.0.1', 'master', 'sa', '', port=port, autocommit=True) as conn:
        cur = conn.cursor()
        cur.execute("SELECT 1")
        cur.fetchall()
    times.append(time.perf_counter() - start)
print(f"connect + SELECT 1 + disconnect (pytds), median of 200: {statistics.median(times) * 1000:.2f} ms")
PY
