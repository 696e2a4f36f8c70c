#!/usr/bin/env bash
# Generation (-G) from a large TXM file beside a plain `cp` of the same file, reading one
# header key (-R) of the result, and the peak memory of -G; all in one run. With FAMILY
# "legacy", generation of a TZ300 container from a large all_models.bin and its fw_info.bin
# (without CRC section, which -G adds) beside `cp` of all_models.bin.
# Usage: bench/gen_read_bench.sh [SIZE_MIB] [BUILD_DIR] [FAMILY]   (defaults 1024, build, txm).
# Needs about 3 x SIZE_MIB of free disk in /tmp and a built tree (scripts/build.sh) with
# bench/make_big_txm and bench/make_big_legacy, which write the inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
build=${2:-build}
bin=${TALVEX_BIN:-$build/bin/talvex_bnx_utils}
family=${3:-txm}
work=$(mktemp -d /tmp/talvex_gen_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

if [ "$family" = legacy ]; then
  payload=$work/all_models.bin
  "$build/bench/make_big_legacy" "$work/fw_info.bin" "$payload" "$size_mib"
  gen_args=(-G -t 300 -h "$work/fw_info.bin" -m "$payload" -O "$work/out")
  bnx=$work/out/models_300.bnx
else
  payload=$work/big.txm
  "$build/bench/make_big_txm" "$payload" "$size_mib"
  gen_args=(-G -t 400 -e "$payload" -O "$work/out")
  bnx=$work/out/models_400.bnx
fi
bytes=$(stat -c %s "$payload")
cat "$payload" > /dev/null  # warm the page cache for every measurement

ts_cp=(); ts_gen=()
# Neither timed command replaces an existing file (removing 1 GiB is not what is measured).
for _ in 1 2 3; do
  rm -f "$work/copy.bin" "$bnx"; sync
  t0=$(now); cp "$payload" "$work/copy.bin"; t1=$(now)
  rm -f "$work/copy.bin"; sync
  t2=$(now); "$bin" "${gen_args[@]}" > /dev/null; t3=$(now)
  ts_cp+=("$(elapsed "$t0" "$t1")"); ts_gen+=("$(elapsed "$t2" "$t3")")
done
best_cp=$(median "${ts_cp[@]}"); best_gen=$(median "${ts_gen[@]}")

best_read=999
for _ in 1 2 3 4 5; do
  t0=$(now); "$bin" -R "$bnx" -k target -O "$work/out" > /dev/null; t1=$(now)
  best_read=$(min "$best_read" "$(elapsed "$t0" "$t1")")
done

rm -f "$bnx"
rss_kib=$(/usr/bin/time -v "$bin" "${gen_args[@]}" 2>&1 >/dev/null |
  awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')

echo "payload: $bytes bytes ($family, page cache warm, median of 3; -R best of 5)"
echo "container: $(stat -c %s "$bnx") bytes"
awk -v s="$best_cp" -v m="$size_mib" 'BEGIN { printf "cp of the payload file   : %.3f s (%.0f MiB/s)\n", s, m / s }'
awk -v s="$best_gen" -v m="$size_mib" 'BEGIN { printf "-G                       : %.3f s (%.0f MiB/s)\n", s, m / s }'
aim=$([ "$family" = txm ] && echo ' (aim: <= 1.2)' || true)
awk -v g="$best_gen" -v c="$best_cp" -v a="$aim" 'BEGIN { printf "-G time / cp time        : %.2f%s\n", g / c, a }'
awk -v s="$best_read" 'BEGIN { printf "-R target on the container: %.1f ms (whole process)\n", s * 1000 }'
awk -v k="$rss_kib" -v b="$bytes" 'BEGIN { printf "-G peak RSS              : %.0f MiB = %.2f x payload\n", k / 1024, k * 1024 / b }'
