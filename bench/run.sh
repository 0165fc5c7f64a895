#!/usr/bin/env bash
# Runs every benchmark against the given build folder. Each prints its own
# figures as ratios against a peer measured in the same run.
set -euo pipefail
build=${1:-build}
here=$(dirname "$0")
for bench in "$here"/*/run.sh "$here"/engine/select_bench.sh "$here"/engine/mixed_load_bench.sh \
  "$here"/engine/statement_cost_bench.sh "$here"/engine/bulk_copy_bench.sh \
  "$here"/engine/decimal_aggregate_bench.sh "$here"/engine/cursor_loop_bench.sh; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$(dirname "$bench")")"
  "$bench" "$build"
done
