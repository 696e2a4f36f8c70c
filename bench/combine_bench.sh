#!/usr/bin/env bash
# Combining (-c) two legacy TZ300 containers of SIZE_MIB each, beside a plain `cp` of both
# inputs in the same run, and the peak memory of -c; all in one run.
# Usage: bench/combine_bench.sh [SIZE_MIB] [BUILD_DIR]   (defaults 512, build).
# Needs about 6 x SIZE_MIB of free disk in /tmp and a built tree (talvex_bnx_utils).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-512}
build=${2:-build}
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
make_container 1 a
make_container 2 b
a=$work/a.bnx; b=$work/b.bnx
bytes=$(( $(stat -c %s "$a") + $(stat -c %s "$b") ))
cat "$a" "$b" > /dev/null  # warm the page cache for every measurement

best_cp=999; best_c=999
out=$work/out/models_300.bnx
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
rss_kib=$(peak_kib "$bin" -c "$a" "$b" -O "$work/out")

echo "inputs: 2 containers, $bytes bytes together (TZ300, page cache warm, best of 3)"
echo "combined container: $(stat -c %s "$out") bytes"
awk -v s="$best_cp" -v b="$bytes" 'BEGIN { printf "cp of both inputs     : %.3f s (%.0f MiB/s)\n", s, b / 1048576 / s }'
awk -v s="$best_c" -v b="$bytes" 'BEGIN { printf "-c of both inputs     : %.3f s (%.0f MiB/s)\n", s, b / 1048576 / s }'
awk -v g="$best_c" -v c="$best_cp" 'BEGIN { printf "-c time / cp time     : %.2f\n", g / c }'
awk -v k="$rss_kib" -v b="$bytes" 'BEGIN { printf "-c peak RSS           : %.0f MiB = %.2f x payload\n", k / 1024, k * 1024 / b }'
