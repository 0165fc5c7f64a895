# Sourced by the engine benchmarks: a scratch folder, a sqlengine and a
# PostgreSQL server of their own in it, and a cleanup that ends both and
# removes the folder when the benchmark exits. Needs $build set.
work=$(mktemp -d /tmp/sqlengine-bench-XXXXXX)
engine="$build/bin/sqlengine"
engine_pid=""
pg_started=""
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)

cleanup() {
  [ -n "$engine_pid" ] && kill "$engine_pid" 2>/dev/null && wait "$engine_pid" 2>/dev/null
  [ -n "$pg_started" ] && su postgres -s /bin/sh -c "$pgbin/pg_ctl -D $work/pg -m immediate stop" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# Starts sqlengine on a free loopback port in $work/home and sets $port. It
# runs in a session of its own, as pg_ctl starts PostgreSQL: where the kernel
# groups tasks by session for scheduling (autogroup), a server left in the
# benchmark's session would share one group's CPU with its clients.
start_engine() {
  setsid "$engine" run --home "$work/home" --port 0 --listen 127.0.0.1 >"$work/engine.out" 2>&1 &
  engine_pid=$!
  for _ in $(seq 100); do [ -s "$work/home/sqlengine.port" ] && break; sleep 0.1; done
  port=$(cat "$work/home/sqlengine.port")
}

# Starts PostgreSQL in $work/pg, reachable only through the socket folder
# $work/pgsock; extra arguments are server options ("-c name=value").
start_postgres() {
  mkdir -p "$work/pg" "$work/pgsock"
  chown postgres "$work" "$work/pg" "$work/pgsock"
  su postgres -s /bin/sh -c "$pgbin/initdb -D $work/pg -A trust" >/dev/null
  su postgres -s /bin/sh -c "$pgbin/pg_ctl -D $work/pg -w -o \"-c listen_addresses='' -k $work/pgsock $*\" -l $work/pg.log start" >/dev/null
  pg_started=1
}

# Runs "$@" three times with its output discarded and prints the best wall
# time in seconds.
seconds() {
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

# CPU seconds so far of the engine process / of the PostgreSQL server (with
# its backends, the reaped ones included).
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

# Writes $work/rows.tsv for the bulk copy benchmarks: N rows of (id int,
# name, amount float, stamp datetime), tab-separated, readable by the
# PostgreSQL server too.
bulk_rows() {
  /usr/bin/python3 - "$1" > "$work/rows.tsv" <<'PY'
import sys
n = int(sys.argv[1])
out = sys.stdout
for i in range(1, n + 1):
    out.write(f"{i}\tname {i % 997}\t{i * 0.25}\t2024-01-{1 + i % 28:02d} 12:34:56.000\n")
PY
  chmod 755 "$work"
  chmod 644 "$work/rows.tsv"
}
