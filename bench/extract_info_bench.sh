#!/usr/bin/env bash
# Extraction (-X, no -s) and the information report (-I, no -s) of a large model container,
# beside a plain `cp` of the same container, with the peak memory of both; all in one run.
# Usage: bench/extract_info_bench.sh [SIZE_MIB] [BUILD_DIR]   (defaults 1024, build).
# Needs about 4 x SIZE_MIB of free disk in /tmp and a built tree with bench/make_big_txm.
# Aims: -I costs the same whatever the payload size (compare with a small container, also
# measured here); -X takes at most 1.3 times the copy (times are medians of three runs).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
build=${2:-build}
bin=${TALVEX_BIN:-$build/bin/talvex_bnx_utils}
gen=$build/bench/make_big_txm
work=$(mktemp -d /tmp/talvex_extract_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

# The large container, and a small one for the -I comparison; the TXM inputs are not needed after.
"$gen" "$work/big.txm" "$size_mib"
"$bin" -G -t 400 -e "$work/big.txm" -O "$work/gen" -o big > /dev/null
rm -f "$work/big.txm"
"$gen" "$work/small.txm" 1
"$bin" -G -t 400 -e "$work/small.txm" -O "$work/gen" -o small > /dev/null
rm -f "$work/small.txm"
bnx=$work/gen/big.bnx
bytes=$(stat -c %s "$bnx")
cat "$bnx" > /dev/null  # warm the page cache for every measurement

ts_cp=(); ts_x=()
# Neither timed command replaces an existing file (removing 1 GiB is not what is measured).
for _ in 1 2 3; do
  rm -rf "$work/copy.bnx" "$work/out"; sync
  t0=$(now); cp "$bnx" "$work/copy.bnx"; t1=$(now)
  rm -f "$work/copy.bnx"; sync
  t2=$(now); "$bin" -X "$bnx" -O "$work/out" > /dev/null; t3=$(now)
  ts_cp+=("$(elapsed "$t0" "$t1")"); ts_x+=("$(elapsed "$t2" "$t3")")
done
best_cp=$(median "${ts_cp[@]}"); best_x=$(median "${ts_x[@]}")
extracted=$(ls "$work/out")
rm -rf "$work/out"; sync
rss_x=$(peak_kib "$bin" -X "$bnx" -O "$work/out")
rm -rf "$work/out"

best_i=999; best_i_small=999
for _ in 1 2 3 4 5; do
  t0=$(now); "$bin" -I "$bnx" -O "$work/info" > /dev/null; t1=$(now)
  t2=$(now); "$bin" -I "$work/gen/small.bnx" -O "$work/info" > /dev/null; t3=$(now)
  best_i=$(min "$best_i" "$(elapsed "$t0" "$t1")")
  best_i_small=$(min "$best_i_small" "$(elapsed "$t2" "$t3")")
done
rss_i=$(peak_kib "$bin" -I "$bnx" -O "$work/info")

echo "container: $bytes bytes (TXM payload, page cache warm; cp and -X median of 3, -I best of 5)"
echo "extracted: $extracted"
awk -v s="$best_cp" -v b="$bytes" 'BEGIN { printf "cp of the container       : %.3f s (%.0f MiB/s)\n", s, b / 1048576 / s }'
awk -v s="$best_x" -v b="$bytes" 'BEGIN { printf "-X (no -s)               : %.3f s (%.0f MiB/s)\n", s, b / 1048576 / s }'
awk -v x="$best_x" -v c="$best_cp" 'BEGIN { printf "-X time / cp time        : %.2f (aim: <= 1.3)\n", x / c }'
awk -v k="$rss_x" -v b="$bytes" 'BEGIN { printf "-X peak RSS              : %.0f MiB = %.2f x container\n", k / 1024, k * 1024 / b }'
awk -v s="$best_i" 'BEGIN { printf "-I on the large container: %.1f ms (whole process)\n", s * 1000 }'
awk -v s="$best_i_small" 'BEGIN { printf "-I on a 1 MiB container  : %.1f ms (whole process)\n", s * 1000 }'
awk -v k="$rss_i" 'BEGIN { printf "-I peak RSS              : %.1f MiB\n", k / 1024 }'
