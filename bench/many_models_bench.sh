#!/usr/bin/env bash
# -S (one core per model) of a TXM file and -X -s -l (extraction with views, intermediates
# kept) of a TZ400 container, each holding COUNT small models (about 1 KiB of payload each),
# beside a plain `cp` of the same input in the same run.
# Usage: bench/many_models_bench.sh [BUILD_DIR] [COUNTS]   (defaults build, "10000 30000").
# TALVEX_BIN runs another build of the tool (its talvex_setup_parser beside it); REPS sets the
# runs per measurement (default 3, the median is shown). Needs a built tree with
# bench/make_big_txm and about 1 GiB of free disk in /tmp for 30,000 models.
# Aim: linear in the number of models, so the time per model (the user CPU time above all) stays
# flat from 10,000 to 30,000 models (one scan of every model per model triples it).
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

# Median wall and user CPU seconds (of $reps runs) of "$@" writing into $work/out, made empty
# before each run. The CPU time leaves out what the file system costs, which varies most on a
# shared machine: it shows the growth best.
timed() {
  local walls=() cpus=()
  for _ in $(seq "$reps"); do
    rm -rf "$work/out"; mkdir "$work/out"; sync
    local t0 t1
    t0=$(now); /usr/bin/time -f %U -o "$work/cpu" "$@" > /dev/null; t1=$(now)
    walls+=("$(elapsed "$t0" "$t1")"); cpus+=("$(cat "$work/cpu")")
  done
  rm -rf "$work/out"
  echo "$(median "${walls[@]}") $(median "${cpus[@]}")"
}

report() {  # label wall cpu cp_wall input count
  awk -v l="$1" -v t="$2" -v u="$3" -v c="$4" -v i="$5" -v n="$6" 'BEGIN {
    printf "%-9s: %7.3f s = %5.0f x cp of the %s (%.3f s); user CPU %6.3f s = %5.1f us per model\n",
           l, t, t / c, i, c, u, u / n * 1e6 }'
}

echo "tool: $bin (medians of $reps runs, page cache warm)"
for count in $counts; do
  txm=$work/m$count.txm
  "$gen" "$txm" $(( (count + 999) / 1000 )) 1 "$count"
  "$bin" -G -t 400 -e "$txm" -O "$work/gen" -o "m$count" > /dev/null
  bnx=$work/gen/m$count.bnx
  cat "$txm" "$bnx" > /dev/null
  read -r cp_txm _ < <(timed cp "$txm" "$work/out/")
  read -r split split_cpu < <(timed "$bin" -S "$txm" -d 0 -p "$work/addr.json" -O "$work/out")
  read -r cp_bnx _ < <(timed cp "$bnx" "$work/out/")
  read -r extract extract_cpu < <(timed "$bin" -X "$bnx" -s -l -O "$work/out")
  echo "== $count models: TXM $(stat -c %s "$txm") bytes, container $(stat -c %s "$bnx") bytes"
  report "-S" "$split" "$split_cpu" "$cp_txm" "TXM file" "$count"
  report "-X -s -l" "$extract" "$extract_cpu" "$cp_bnx" "container" "$count"
  rm -rf "$txm" "$work/gen"
done
