#!/usr/bin/env bash
# Throughput of -C on a large file beside bench/crc_map (ISA-L's CRC over the mapped file), one run.
# Usage: bench/crc_bench.sh [SIZE_MIB]   (default 1024). Needs a built tree with the crc_map target.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
bin=${TALVEX_BIN:-build/bin/talvex_bnx_utils}
ref=build/bench/crc_map
work=$(mktemp -d /tmp/talvex_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
file=$work/big.bin
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$file"

. bench/lib.sh
rate() { awk -v mib="$size_mib" -v s="$1" 'BEGIN { printf "%.0f MiB/s (%.3f s)", mib / s, s }'; }

cat "$file" > /dev/null  # warm the page cache for both measurements
ts_ref=(); ts_crc=()
for _ in 1 2 3; do
  t0=$(now); want=$("$ref" "$file"); t1=$(now)
  got=$("$bin" -C "$file"); t2=$(now)
  ts_ref+=("$(elapsed "$t0" "$t1")"); ts_crc+=("$(elapsed "$t1" "$t2")")
done
best_ref=$(median "${ts_ref[@]}"); best_crc=$(median "${ts_crc[@]}")
[ $((got)) -eq $((16#$want)) ] || { echo "CRC differs: -C says $got, crc_map says $want" >&2; exit 1; }
echo "file: ${size_mib} MiB (page cache warm, median of 3)"
echo "crc_map FILE         : $(rate "$best_ref")"
echo "talvex_bnx_utils -C  : $(rate "$best_crc")"
awk -v c="$best_ref" -v r="$best_crc" 'BEGIN { printf "-C speed / crc_map speed: %.2f\n", c / r }'
