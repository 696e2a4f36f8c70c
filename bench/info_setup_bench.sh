#!/usr/bin/env bash
# The information report with setup parsing (-I -s) of a model container beside a plain `cp` of
# the same container: time (median of three runs, page cache warm), the bytes the command writes
# (write/pwrite/copy_file_range, counted by strace in a separate run), what it leaves in the
# output folder, and its peak memory.
# Usage: bench/info_setup_bench.sh [SIZE_MIB] [BUILD_DIR]   (defaults 256, build).
# TALVEX_BIN=path measures another build of the program on the same container.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-256}
build=${2:-build}
bin=${TALVEX_BIN:-$build/bin/talvex_bnx_utils}
gen=$build/bench/make_big_txm
work=$(mktemp -d /tmp/talvex_info_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

"$gen" "$work/big.txm" "$size_mib"
"$bin" -G -t 400 -e "$work/big.txm" -O "$work/gen" -o big > /dev/null
rm -f "$work/big.txm"
bnx=$work/gen/big.bnx
bytes=$(stat -c %s "$bnx")
cat "$bnx" > /dev/null

ts_cp=(); ts_i=()
for _ in 1 2 3; do
  rm -rf "$work/copy.bnx" "$work/out"; sync
  t0=$(now); cp "$bnx" "$work/copy.bnx"; t1=$(now)
  rm -f "$work/copy.bnx"; sync
  t2=$(now); "$bin" -I "$bnx" -s -O "$work/out" > /dev/null; t3=$(now)
  ts_cp+=("$(elapsed "$t0" "$t1")"); ts_i+=("$(elapsed "$t2" "$t3")")
done
left=$(du -sb "$work/out" | cut -f1)
files=$(ls "$work/out" | wc -l)
rm -rf "$work/out"; sync
written=$(bytes_written "$bin" -I "$bnx" -s -O "$work/out")
rm -rf "$work/out"; sync
rss=$(peak_kib "$bin" -I "$bnx" -s -O "$work/out")

med_cp=$(median "${ts_cp[@]}"); med_i=$(median "${ts_i[@]}")
echo "container: $bytes bytes (TXM payload, page cache warm, median of 3)"
awk -v s="$med_cp" 'BEGIN { printf "cp of the container      : %.3f s\n", s }'
awk -v s="$med_i" 'BEGIN { printf "-I -s                    : %.3f s\n", s }'
awk -v x="$med_i" -v c="$med_cp" 'BEGIN { printf "-I -s time / cp time     : %.2f\n", x / c }'
awk -v w="$written" -v b="$bytes" 'BEGIN { printf "-I -s bytes written      : %.0f MB = %.2f x container\n", w / 1e6, w / b }'
awk -v l="$left" -v n="$files" 'BEGIN { printf "left in the output folder: %.0f MB in %d files\n", l / 1e6, n }'
awk -v k="$rss" -v b="$bytes" 'BEGIN { printf "-I -s peak RSS           : %.0f MiB = %.2f x container\n", k / 1024, k * 1024 / b }'
