#!/usr/bin/env bash
# The server's CPU time for a loop that FETCHes every row of a cursor one at
# a time: a T-SQL batch DECLAREs a cursor over a keyed table of COUNT
# (20,000) rows and FETCHes NEXT INTO variables until @@FETCH_STATUS is not
# 0, summing a column so the rows are used. sqlengine runs it as a DYNAMIC
# cursor (each FETCH seeks from the current key) and as a STATIC one (the
# rows read once at OPEN); PostgreSQL runs the same loop in PL/pgSQL over a
# cursor (FETCH NEXT INTO). A DYNAMIC loop that grew with the square of
# the rows would show as a ratio far above the STATIC one's. CPU time is
# read from /proc/<pid>/stat for the engine and the PostgreSQL server.
#
# Needs PostgreSQL: scripts/install-deps.sh bench.
#
# usage: cursor_loop_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
count=${2:-20000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"

loop() {
  cat <<SQL
SET NOCOUNT ON
DECLARE @id int, @amount int, @sum bigint
SET @sum = 0
DECLARE walk CURSOR LOCAL $1 FOR SELECT id, amount FROM ledger
OPEN walk
FETCH NEXT FROM walk INTO @id, @amount
WHILE @@FETCH_STATUS = 0
BEGIN
  SET @sum = @sum + @amount
  FETCH NEXT FROM walk INTO @id, @amount
END
CLOSE walk
DEALLOCATE walk
SELECT @sum AS total
SQL
}
loop DYNAMIC >"$work/dynamic.sql"
loop STATIC >"$work/static.sql"

run_engine_batch() {
  /usr/bin/python3 - "$port" "$1" "$count" <<'PY'
import sys, pytds
port, path, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
with pytds.connect('127.0.0.1', 'bench', 'sa', '', port=port, autocommit=True) as conn:
    cur = conn.cursor()
    cur.execute(open(path).read())
    total = cur.fetchall()[0][0]
    expected = sum(n % 97 for n in range(1, count + 1))
    if total != expected:
        sys.exit(f"the loop summed {total}, not {expected}")
PY
}

start_engine
/usr/bin/python3 - "$port" "$count" <<'PY'
import sys, pytds
port, count = int(sys.argv[1]), int(sys.argv[2])
with pytds.connect('127.0.0.1', 'master', 'sa', '', port=port, autocommit=True) as conn:
    cur = conn.cursor()
    cur.execute("CREATE DATABASE bench")
    cur.execute("USE bench")
    cur.execute("CREATE TABLE ledger (id int PRIMARY KEY, amount int NOT NULL)")
    for start in range(1, count + 1, 1000):
        rows = range(start, min(start + 1000, count + 1))
        cur.execute("INSERT INTO ledger VALUES " + ",".join(f"({n}, {n % 97})" for n in rows))
PY
engine_dynamic=$(cpu_of engine_cpu run_engine_batch "$work/dynamic.sql")
engine_static=$(cpu_of engine_cpu run_engine_batch "$work/static.sql")

start_postgres
su postgres -s /bin/sh -c "psql -q -v ON_ERROR_STOP=1 -h $work/pgsock -d postgres" >/dev/null <<SQL
CREATE TABLE ledger (id int PRIMARY KEY, amount int NOT NULL);
INSERT INTO ledger SELECT g, g % 97 FROM generate_series(1, $count) g;
CREATE FUNCTION walk() RETURNS bigint LANGUAGE plpgsql AS \$\$
DECLARE
  c CURSOR FOR SELECT id, amount FROM ledger;
  r_id int; r_amount int; total bigint := 0;
BEGIN
  OPEN c;
  LOOP
    FETCH NEXT FROM c INTO r_id, r_amount;
    EXIT WHEN NOT FOUND;
    total := total + r_amount;
  END LOOP;
  CLOSE c;
  RETURN total;
END \$\$;
SQL
pg_loop=$(cpu_of postgres_cpu su postgres -s /bin/sh -c \
  "psql -q -v ON_ERROR_STOP=1 -h $work/pgsock -d postgres -c 'SELECT walk()'")

/usr/bin/python3 - "$count" "$engine_dynamic" "$engine_static" "$pg_loop" <<'PY'
import sys
count = int(sys.argv[1])
dynamic, static, pg = (float(v) for v in sys.argv[2:5])
def us(seconds): return seconds * 1e6 / count
def ratio(a, b): return f"{a / b:.2f}" if b > 0 else "n/a"
print(f"server CPU per FETCH NEXT of a {count}-row cursor loop, microseconds")
print(f"  sqlengine DYNAMIC   : {us(dynamic):8.1f}")
print(f"  sqlengine STATIC    : {us(static):8.1f}   DYNAMIC / STATIC  = {ratio(dynamic, static)}")
print(f"  PostgreSQL PL/pgSQL : {us(pg):8.1f}   DYNAMIC / PostgreSQL = {ratio(dynamic, pg)}, "
      f"STATIC / PostgreSQL = {ratio(static, pg)}")
PY
