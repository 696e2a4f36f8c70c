#!/usr/bin/env bash
# -S (one core per model) of a TXM file and -X -s -l (extraction with views, intermediates
# kept) of a TZ400 container, each holding COUNT small models (about 1 KiB of payload each),
# beside a plain `cp` of the same input in the same run.
# Usage: bench/many_models_bench.sh [BUILD_DIR] [COUNTS]   (defaults build, "10000 30000").
# TALVEX_BIN runs another build of the tool (its talvex_setup_parser beside it); REPS sets the
# runs per measurement (default 3, the median is shown). Needs a built tree with
# bench/make_big_txm and about 1 GiB of free disk in /tmp for 30,000 models.
# Aim: linear in the number of models, so the time per model stays flat from 10,000 to
# 30,000 models (one scan of every model per model triples it).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
counts=${2:-10000 30000}
reps=${REPS:-3}
bin=${TALVEX_BIN:-$build/bin/talvex_bnx_utils}
gen=$build/bench/make_big_txm
work=$(mktemp -d /tmp/talvex_many_models.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

cat > "$work/addr.json" << 'EOF'
{"input_addr": "0x60000000", "output_addr": "0x60100000", "dram_base_addr": "0x61000000", "cpu_tmp_addr": "0x62000000"}
EOF

# Times (median of $reps) "$@" writing into $work/out, created empty before each run.
timed() {
  local ts=()
  for _ in $(seq "$reps"); do
    rm -rf "$work/out"; mkdir "$work/out"; sync
    local t0 t1
    t0=$(now); "$@" > /dev/null; t1=$(now)
    ts+=("$(elapsed "$t0" "$t1")")
  done
  rm -rf "$work/out"
  median "${ts[@]}"
}

echo "tool: $bin (median of $reps runs, page cache warm)"
for count in $counts; do
  txm=$work/m$count.txm
  "$gen" "$txm" $(( (count + 999) / 1000 )) 1 "$count"
  "$bin" -G -t 400 -e "$txm" -O "$work/gen" -o "m$count" > /dev/null
  bnx=$work/gen/m$count.bnx
  cat "$txm" "$bnx" > /dev/null
  cp_txm=$(timed cp "$txm" "$work/out/")
  split=$(timed "$bin" -S "$txm" -d 0 -p "$work/addr.json" -O "$work/out")
  cp_bnx=$(timed cp "$bnx" "$work/out/")
  extract=$(timed "$bin" -X "$bnx" -s -l -O "$work/out")
  echo "== $count models: TXM $(stat -c %s "$txm") bytes, container $(stat -c %s "$bnx") bytes"
  awk -v t="$split" -v c="$cp_txm" -v n="$count" \
    'BEGIN { printf "-S        : %7.3f s = %6.0f x cp of the TXM file (%.3f s), %5.1f us per model\n", t, t / c, c, t / n * 1e6 }'
  awk -v t="$extract" -v c="$cp_bnx" -v n="$count" \
    'BEGIN { printf "-X -s -l  : %7.3f s = %6.0f x cp of the container (%.3f s), %5.1f us per model\n", t, t / c, c, t / n * 1e6 }'
  rm -rf "$txm" "$work/gen"
done
