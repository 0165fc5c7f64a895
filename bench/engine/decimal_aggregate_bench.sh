#!/usr/bin/env bash
# SELECT k, SUM(amount), AVG(amount) FROM t GROUP BY k over a million rows of
# money, decimal(18,4) and decimal(38,10), in sqlengine and in a PostgreSQL
# server (numeric of the same precision and scale) started here, in one run.
# Prints each one's best time of three, each server's CPU time per query, the
# ratios, and how many of the 100 groups' sums and averages differ from
# PostgreSQL's exact numeric ones.
#
# usage: decimal_aggregate_bench.sh BUILD_DIR [ROWS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rows=${2:-1000000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/peers.sh"

start_engine
start_postgres
chown -R postgres "$work/pgsock"

/usr/bin/python3 - "$port" "$rows" "$work/pgsock" "$engine_pid" <<'PY'
import decimal, subprocess, sys, time
import pytds

port, rows, pgsock, engine_pid = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
side = int(rows ** 0.5)
rows = side * side
clock_ticks = float(subprocess.check_output(["getconf", "CLK_TCK"]))

# name, T-SQL type, PostgreSQL type, the amount of row g (an expression of g in both)
tables = [
    ("m", "money", "numeric(19,4)", "g * 0.0137"),
    ("d18", "decimal(18,4)", "numeric(18,4)", "g * 12345.6789 - 987654.3211"),
    ("d38", "decimal(38,10)", "numeric(38,10)", "1234567890123456789.0123456789 + g * 3"),
]

decimal.getcontext().prec = 80

class PsqlSession:
    """One psql connection kept open, so each query's server CPU time can be
    read from its backend process around it."""

    def __init__(self):
        self.process = subprocess.Popen(
            ["su", "postgres", "-s", "/bin/sh", "-c", f"psql -qAt -F '|' -h {pgsock} -d postgres"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.backend = int(self.run("SELECT pg_backend_pid();")[0])
        # One process per query, as the engine has: parallel workers would
        # take CPU time this backend's counters do not show.
        self.run("SET max_parallel_workers_per_gather = 0;")

    def run(self, sql):
        self.process.stdin.write(sql + "\n\\echo sqlengine-bench-end\n")
        self.process.stdin.flush()
        lines = []
        for line in self.process.stdout:
            line = line.rstrip("\n")
            if line == "sqlengine-bench-end":
                return lines
            lines.append(line)
        raise RuntimeError("psql ended")

    def cpu(self):
        return process_cpu(self.backend)

def process_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / clock_ticks

def psql(sql):
    return subprocess.run(["su", "postgres", "-s", "/bin/sh", "-c",
                           f"psql -qAt -F '|' -h {pgsock} -d postgres"],
                          input=sql, capture_output=True, text=True, check=True).stdout

def engine_cpu():
    return process_cpu(engine_pid)

def best_of_three(run):
    best = None
    for _ in range(3):
        start = time.perf_counter()
        result = run()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None or elapsed < best else best
    return best, result

def canonical(value):
    return None if value is None else decimal.Decimal(str(value)).normalize()

print(f"Preparing {rows} rows per table ...")
with pytds.connect("127.0.0.1", "master", "sa", "", port=port, autocommit=True) as conn:
    cur = conn.cursor()
    cur.execute("CREATE TABLE side (i int PRIMARY KEY)")
    for start in range(0, side, 500):
        cur.execute("INSERT INTO side VALUES " +
                    ",".join(f"({i})" for i in range(start, min(side, start + 500))))
    for name, tsql_type, _, amount in tables:
        cur.execute(f"CREATE TABLE {name} (k int NOT NULL, amount {tsql_type} NOT NULL)")
        g = f"(a.i * {side} + b.i)"
        cur.execute(f"INSERT INTO {name} (k, amount) SELECT {g} % 100, "
                    f"{amount.replace('g', g)} FROM side a CROSS JOIN side b")
    psql_setup = []
    for name, _, pg_type, amount in tables:
        psql_setup.append(f"CREATE TABLE {name} (k int NOT NULL, amount {pg_type} NOT NULL);")
        psql_setup.append(f"INSERT INTO {name} SELECT g % 100, ({amount})::{pg_type} "
                          f"FROM generate_series(0, {rows - 1}) g;")
    psql_setup.append("VACUUM ANALYZE;")
    psql("\n".join(psql_setup))

    pg = PsqlSession()
    print(f"SUM and AVG of {rows} rows in 100 groups, best of 3 (CPU: the server's, per query):")
    for name, tsql_type, pg_type, _ in tables:
        query = f"SELECT k, SUM(amount), AVG(amount) FROM {name} GROUP BY k ORDER BY k"

        def engine_query():
            cur.execute(query)
            return cur.fetchall()

        cpu_before = engine_cpu()
        t_engine, engine_rows = best_of_three(engine_query)
        cpu_engine = (engine_cpu() - cpu_before) / 3
        cpu_before = pg.cpu()
        t_pg, pg_lines = best_of_three(lambda: pg.run(query + ";"))
        cpu_pg = (pg.cpu() - cpu_before) / 3
        pg_rows = [line.split("|") for line in pg_lines]
        differ = 0
        for mine, theirs in zip(engine_rows, pg_rows):
            # PostgreSQL's AVG carries more digits than SQL Server's: compared at the engine's scale.
            mine_avg = canonical(mine[2])
            their_avg = decimal.Decimal(theirs[2])
            if mine_avg is not None:
                exponent = decimal.Decimal(str(mine[2])).as_tuple().exponent
                their_avg = their_avg.quantize(decimal.Decimal(1).scaleb(exponent),
                                               rounding=decimal.ROUND_DOWN)
            if canonical(mine[1]) != canonical(theirs[1]) or mine_avg != canonical(their_avg):
                differ += 1
        print(f"  {tsql_type:15} sqlengine {t_engine:.3f}s (CPU {cpu_engine:.3f}s), "
              f"PostgreSQL {pg_type} {t_pg:.3f}s (CPU {cpu_pg:.3f}s), "
              f"CPU ratio {cpu_engine / max(cpu_pg, 0.001):.2f}; "
              f"groups differing from PostgreSQL: {differ} of {len(pg_rows)}")
PY
