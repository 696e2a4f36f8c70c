#!/usr/bin/env bash
# Combining (-c) two containers of SIZE_MIB each, beside a plain `cp` of both inputs in the
# same run, and the peak memory of -c: legacy TZ300 containers, then TZ400 containers of TXM
# files (FAMILY "txm" or "legacy" runs one of them only).
# Usage: bench/combine_bench.sh [SIZE_MIB] [BUILD_DIR] [FAMILY]   (defaults 512, build, both).
# Needs about 6 x SIZE_MIB of free disk in /tmp and a built tree (talvex_bnx_utils and
# bench/make_big_txm).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-512}
build=${2:-build}
family=${3:-both}
bin=$build/bin/talvex_bnx_utils
work=$(mktemp -d /tmp/talvex_combine_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; printf "\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }

# One container of one model: 64 command bytes, the weight, 64 setup bytes (TZ300 does not
# look into its setups). fw_info.bin without CRC section; -G adds it.
make_container() {  # id name
  local id=$1 name=$2 dir=$work/src_$2
  local wt=$((size_mib * 1024 * 1024 - 128))
  local cmd=0x60003000 wt_at=$((0x60003040)) fw_at=$((0x60003040 + wt))
  mkdir -p "$dir"
  { head -c 64 /dev/urandom; head -c "$wt" /dev/urandom; head -c 64 /dev/urandom; } > "$dir/all_models.bin"
  {
    le32 1
    for w in "$id" 1 $((0x60000000)) 4096 $((0x60001000)) 256 $((0x60002000)) 4096 $((cmd)) 64 "$wt_at" "$wt" "$fw_at" 64; do
      le32 "$w"
    done
    le32 $((fw_at + 64)); le32 $((fw_at + 64 - cmd))
  } > "$dir/fw_info.bin"
  "$bin" -G -t 300 -h "$dir/fw_info.bin" -m "$dir/all_models.bin" -O "$work" -o "$name" > /dev/null
  rm -rf "$dir"
}
# Times -c of $work/a.bnx and $work/b.bnx into $work/out/$2 beside cp, and its peak memory.
measure() {  # label container_name
  local a=$work/a.bnx b=$work/b.bnx out=$work/out/$2
  local bytes=$(( $(stat -c %s "$a") + $(stat -c %s "$b") ))
  cat "$a" "$b" > /dev/null  # warm the page cache for every measurement
  local best_cp=999 best_c=999
  mkdir -p "$work/copy" "$work/out"
  # Neither timed command replaces an existing file (removing the old one is not what is measured).
  for _ in 1 2 3; do
    rm -f "$work/copy/"* "$out"; sync
    t0=$(now); cp "$a" "$b" "$work/copy/"; t1=$(now)
    rm -f "$work/copy/"*; sync
    t2=$(now); "$bin" -c "$a" "$b" -O "$work/out" > /dev/null; t3=$(now)
    best_cp=$(min "$best_cp" "$(elapsed "$t0" "$t1")")
    best_c=$(min "$best_c" "$(elapsed "$t2" "$t3")")
  done
  rm -f "$out"
  local rss_kib
  rss_kib=$(peak_kib "$bin" -c "$a" "$b" -O "$work/out")
  echo "== $1: 2 containers, $bytes bytes together (page cache warm, best of 3)"
  echo "combined container: $(stat -c %s "$out") bytes"
  awk -v s="$best_cp" -v b="$bytes" 'BEGIN { printf "cp of both inputs     : %.3f s (%.0f MiB/s)\n", s, b / 1048576 / s }'
  awk -v s="$best_c" -v b="$bytes" 'BEGIN { printf "-c of both inputs     : %.3f s (%.0f MiB/s)\n", s, b / 1048576 / s }'
  awk -v g="$best_c" -v c="$best_cp" 'BEGIN { printf "-c time / cp time     : %.2f\n", g / c }'
  awk -v k="$rss_kib" -v b="$bytes" 'BEGIN { printf "-c peak RSS           : %.0f MiB = %.2f x payload\n", k / 1024, k * 1024 / b }'
  rm -f "$a" "$b" "$out"
}

if [ "$family" != txm ]; then
  make_container 1 a
  make_container 2 b
  measure "legacy TZ300" models_300.bnx
fi
if [ "$family" != legacy ]; then
  for x in a:1 b:3; do
    "$build/bench/make_big_txm" "$work/${x%%:*}.txm" "$size_mib" "${x##*:}"
    "$bin" -G -t 400 -e "$work/${x%%:*}.txm" -O "$work" -o "${x%%:*}" > /dev/null
    rm -f "$work/${x%%:*}.txm"
  done
  measure "TXM TZ400" models_400.bnx
fi
