#!/usr/bin/env bash
# The server's CPU time per small statement: a point SELECT by key, an
# UPDATE by key, an INSERT into a table with an identity column, and the
# EXEC of a procedure of those three statements, COUNT (20,000) of each,
#   - in one batch: sqlengine (one T-SQL batch), sqlite3 (the CLI reading
#     the same statements from a file) and PostgreSQL (psql -f, a PL/pgSQL
#     function for the procedure; psql sends each statement on its own);
#   - as separate calls: sqlengine through FreeTDS ODBC, one RPC per
#     statement (a prepared statement; the procedure called by name), and
#     PostgreSQL through one libpq prepared statement (extended protocol).
# Each run is one transaction in every peer, so the figures are the
# statements' cost rather than the disk's. CPU time is read from
# /proc/<pid>/stat: the engine process; sqlite3 itself; the PostgreSQL
# server with all its processes (backends it has reaped included). Clients'
# own time is not counted. Prints microseconds per statement and the ratios.
#
# Needs sqlite3, PostgreSQL and libpq-dev: scripts/install-deps.sh bench.
#
# usage: statement_cost_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
count=${2:-20000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"
kinds="select update insert procedure"

g++ -std=c++20 -O2 -I/usr/include/postgresql -o "$work/statement_cost" "$here/statement_cost.cpp" \
  -lodbc -lpq

# The same statements for every peer, one file per kind and dialect.
mkdir -p "$work/sql"
/usr/bin/python3 - "$work/sql" "$count" <<'PY'
import sys
folder, count = sys.argv[1], int(sys.argv[2])
def account(n): return n * 7919 % 1000 + 1
select = "SELECT balance FROM accounts WHERE id = {0}"
update = "UPDATE accounts SET balance = balance + 1 WHERE id = {0}"
insert = "INSERT INTO history (account, delta) VALUES ({0}, 1)"
body = ["SELECT balance FROM accounts WHERE id = {0}",
        "UPDATE accounts SET balance = balance - 1 WHERE id = {0}",
        "INSERT INTO history (account, delta) VALUES ({0}, -1)"]
dialects = {
    # kind: (T-SQL, SQLite, PostgreSQL)
    "select": ([select], [select], [select]),
    "update": ([update], [update], [update]),
    "insert": ([insert], [insert], [insert]),
    "procedure": (["EXEC move {0}"], body, ["SELECT move({0})"]),
}
for kind, (tsql, sqlite, pg) in dialects.items():
    for dialect, lines, begin, end, sep in (("tsql", tsql, "BEGIN TRAN", "COMMIT TRAN", ""),
                                            ("sqlite", sqlite, "BEGIN;", "COMMIT;", ";"),
                                            ("pg", pg, "BEGIN;", "COMMIT;", ";")):
        with open(f"{folder}/{kind}.{dialect}.sql", "w") as out:
            out.write(begin + "\n")
            for n in range(count):
                for line in lines:
                    out.write(line.format(account(n)) + sep + "\n")
            out.write(end + "\n")
PY

# CPU seconds so far of the engine process / of the PostgreSQL server.
ticks=$(getconf CLK_TCK)
engine_cpu() { awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$engine_pid/stat"; }
postgres_cpu() {
  local postmaster
  postmaster=$(head -1 "$work/pg/postmaster.pid")
  { awk '{ print $14 + $15 + $16 + $17 }' "/proc/$postmaster/stat"
    for child in $(ps -o pid= --ppid "$postmaster"); do
      awk '{ print $14 + $15 }' "/proc/$child/stat" 2>/dev/null || true
    done
  } | awk -v t="$ticks" '{ s += $1 } END { printf "%.3f", s / t }'
}
# Runs "$@" and prints the CPU seconds `measure` counts meanwhile.
cpu_of() {
  local measure=$1; shift
  local before after
  before=$($measure)
  "$@" >/dev/null
  after=$($measure)
  echo "$after - $before" | bc -l
}

# sqlengine
start_engine
/usr/bin/python3 - "$port" <<'PY'
import sys, pytds
with pytds.connect('127.0.0.1', 'master', 'sa', '', port=int(sys.argv[1]), autocommit=True) as conn:
    cur = conn.cursor()
    cur.execute("CREATE DATABASE bench")
    cur.execute("USE bench")
    cur.execute("CREATE TABLE accounts (id int PRIMARY KEY, balance int NOT NULL)")
    cur.execute("CREATE TABLE history (id int IDENTITY(1,1) PRIMARY KEY, account int, delta int)")
    cur.execute("INSERT INTO accounts VALUES " + ",".join(f"({i}, 0)" for i in range(1, 1001)))
    cur.execute("CREATE PROCEDURE move @id int AS "
                "SELECT balance FROM accounts WHERE id = @id "
                "UPDATE accounts SET balance = balance - 1 WHERE id = @id "
                "INSERT INTO history (account, delta) VALUES (@id, -1)")
PY
declare -A engine_batch engine_rpc sqlite_batch pg_batch pg_prepared
for kind in $kinds; do
  engine_batch[$kind]=$(cpu_of engine_cpu "$work/statement_cost" engine-batch "$port" "$work/sql/$kind.tsql.sql")
  engine_rpc[$kind]=$(cpu_of engine_cpu "$work/statement_cost" engine-rpc "$port" "$kind" "$count")
done

# sqlite3: its own CPU time (user + system) from /usr/bin/time.
mkdir -p "$work/sqlite"
sqlite3 "$work/sqlite/bench.db" <<SQL >/dev/null
PRAGMA journal_mode=WAL;
CREATE TABLE accounts (id int PRIMARY KEY, balance int NOT NULL);
CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, account int, delta int);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000)
INSERT INTO accounts SELECT i, 0 FROM n;
SQL
for kind in $kinds; do
  sqlite_batch[$kind]=$(/usr/bin/time -f '%U + %S' sqlite3 "$work/sqlite/bench.db" \
    ".read $work/sql/$kind.sqlite.sql" 2>&1 >/dev/null | tail -1 | bc -l)
done

# PostgreSQL
start_postgres
chown -R postgres "$work/sql"
su postgres -s /bin/sh -c "psql -q -v ON_ERROR_STOP=1 -h $work/pgsock -d postgres" >/dev/null <<'SQL'
CREATE TABLE accounts (id int PRIMARY KEY, balance int NOT NULL);
CREATE TABLE history (id int GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, account int, delta int);
INSERT INTO accounts SELECT g, 0 FROM generate_series(1, 1000) g;
CREATE FUNCTION move(p int) RETURNS int LANGUAGE plpgsql AS $$
DECLARE b int;
BEGIN
  SELECT balance INTO b FROM accounts WHERE id = p;
  UPDATE accounts SET balance = balance - 1 WHERE id = p;
  INSERT INTO history (account, delta) VALUES (p, -1);
  RETURN b;
END $$;
SQL
for kind in $kinds; do
  pg_batch[$kind]=$(cpu_of postgres_cpu su postgres -s /bin/sh -c \
    "psql -q -v ON_ERROR_STOP=1 -h $work/pgsock -d postgres -f $work/sql/$kind.pg.sql")
  pg_prepared[$kind]=$(cpu_of postgres_cpu "$work/statement_cost" pg-prepared \
    "host=$work/pgsock dbname=postgres user=postgres" "$kind" "$count")
done

/usr/bin/python3 - "$count" \
  "${engine_batch[select]} ${engine_batch[update]} ${engine_batch[insert]} ${engine_batch[procedure]}" \
  "${engine_rpc[select]} ${engine_rpc[update]} ${engine_rpc[insert]} ${engine_rpc[procedure]}" \
  "${sqlite_batch[select]} ${sqlite_batch[update]} ${sqlite_batch[insert]} ${sqlite_batch[procedure]}" \
  "${pg_batch[select]} ${pg_batch[update]} ${pg_batch[insert]} ${pg_batch[procedure]}" \
  "${pg_prepared[select]} ${pg_prepared[update]} ${pg_prepared[insert]} ${pg_prepared[procedure]}" <<'PY'
import sys
count = int(sys.argv[1])
names = ["point SELECT", "UPDATE by key", "INSERT", "EXEC procedure"]
engine_batch, engine_rpc, sqlite_batch, pg_batch, pg_prepared = (
    [float(v) for v in arg.split()] for arg in sys.argv[2:7])
def us(seconds): return seconds * 1e6 / count
def ratio(a, b): return f"{a / b:5.2f}" if b > 0 else "  n/a"
print(f"server CPU per statement, {count} of each, microseconds (ratio = sqlengine / peer)")
print(f"{'':16}{'sqlengine':>10}{'sqlite3':>9}{'ratio':>7}{'psql -f':>9}{'ratio':>7}"
      f"  |{'engine RPC':>11}{'PG prep.':>9}{'ratio':>7}")
for k, name in enumerate(names):
    print(f"{name:16}{us(engine_batch[k]):10.1f}{us(sqlite_batch[k]):9.1f}"
          f"{ratio(engine_batch[k], sqlite_batch[k]):>7}{us(pg_batch[k]):9.1f}"
          f"{ratio(engine_batch[k], pg_batch[k]):>7}  |{us(engine_rpc[k]):11.1f}"
          f"{us(pg_prepared[k]):9.1f}{ratio(engine_rpc[k], pg_prepared[k]):>7}")
print("(an EXEC is three statements in sqlite3's file; the batch columns are one batch for "
      "sqlengine and sqlite3, one request per statement for psql)")
PY
