#!/usr/bin/env bash
# Throughput of -C on a large file beside a plain read of the same file, in one run.
# Usage: bench/crc_bench.sh [SIZE_MIB]   (default 1024). Needs a built tree (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
bin=build/bin/talvex_bnx_utils
work=$(mktemp -d /tmp/talvex_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
file=$work/big.bin
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$file"

. bench/lib.sh
rate() { awk -v mib="$size_mib" -v s="$1" 'BEGIN { printf "%.0f MiB/s (%.3f s)", mib / s, s }'; }

cat "$file" > /dev/null  # warm the page cache for both measurements
best_cat=999; best_crc=999
for _ in 1 2 3; do
  t0=$(now); cat "$file" > /dev/null; t1=$(now)
  "$bin" -C "$file" -O "$work/out" > /dev/null; t2=$(now)
  c=$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')
  r=$(awk -v a="$t1" -v b="$t2" 'BEGIN{print b-a}')
  best_cat=$(awk -v x="$best_cat" -v y="$c" 'BEGIN{print (y<x)?y:x}')
  best_crc=$(awk -v x="$best_crc" -v y="$r" 'BEGIN{print (y<x)?y:x}')
done
echo "file: ${size_mib} MiB (page cache warm, best of 3)"
echo "cat FILE > /dev/null : $(rate "$best_cat")"
echo "talvex_bnx_utils -C  : $(rate "$best_crc")"
awk -v c="$best_cat" -v r="$best_crc" 'BEGIN { printf "-C speed / read speed: %.2f\n", c / r }'
