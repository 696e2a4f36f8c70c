#!/usr/bin/env bash
# Generation (-G) from a large TXM file beside a plain `cp` of the same file, reading one
# header key (-R) of the result, and the peak memory of -G; all in one run.
# Usage: bench/gen_read_bench.sh [SIZE_MIB] [BUILD_DIR]   (defaults 1024, build).
# Needs about 3 x SIZE_MIB of free disk in /tmp and a built tree (scripts/build.sh) with
# bench/make_big_txm, which writes the input TXM file.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
build=${2:-build}
bin=${TALVEX_BIN:-$build/bin/talvex_bnx_utils}
gen=$build/bench/make_big_txm
work=$(mktemp -d /tmp/talvex_gen_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

txm=$work/big.txm
"$gen" "$txm" "$size_mib"
bytes=$(stat -c %s "$txm")
cat "$txm" > /dev/null  # warm the page cache for every measurement

ts_cp=(); ts_gen=()
bnx=$work/out/models_400.bnx
# Neither timed command replaces an existing file (removing 1 GiB is not what is measured).
for _ in 1 2 3; do
  rm -f "$work/copy.txm" "$bnx"; sync
  t0=$(now); cp "$txm" "$work/copy.txm"; t1=$(now)
  rm -f "$work/copy.txm"; sync
  t2=$(now); "$bin" -G -t 400 -e "$txm" -O "$work/out" > /dev/null; t3=$(now)
  ts_cp+=("$(elapsed "$t0" "$t1")"); ts_gen+=("$(elapsed "$t2" "$t3")")
done
best_cp=$(median "${ts_cp[@]}"); best_gen=$(median "${ts_gen[@]}")

best_read=999
for _ in 1 2 3 4 5; do
  t0=$(now); "$bin" -R "$bnx" -k target -O "$work/out" > /dev/null; t1=$(now)
  best_read=$(min "$best_read" "$(elapsed "$t0" "$t1")")
done

rm -f "$bnx"
rss_kib=$(/usr/bin/time -v "$bin" -G -t 400 -e "$txm" -O "$work/out" 2>&1 >/dev/null |
  awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')

echo "payload: $bytes bytes (TXM, page cache warm, median of 3; -R best of 5)"
echo "container: $(stat -c %s "$bnx") bytes"
awk -v s="$best_cp" -v m="$size_mib" 'BEGIN { printf "cp of the TXM file       : %.3f s (%.0f MiB/s)\n", s, m / s }'
awk -v s="$best_gen" -v m="$size_mib" 'BEGIN { printf "-G -t 400 -e TXM         : %.3f s (%.0f MiB/s)\n", s, m / s }'
awk -v g="$best_gen" -v c="$best_cp" 'BEGIN { printf "-G time / cp time        : %.2f (aim: <= 1.2)\n", g / c }'
awk -v s="$best_read" 'BEGIN { printf "-R target on the container: %.1f ms (whole process)\n", s * 1000 }'
awk -v k="$rss_kib" -v b="$bytes" 'BEGIN { printf "-G peak RSS              : %.0f MiB = %.2f x payload\n", k / 1024, k * 1024 / b }'
