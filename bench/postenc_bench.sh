#!/usr/bin/env bash
# Post-encryption (-E) of a large container beside a plain `cp` of the same container, in eFuse
# (--TV) and customer key (-f/-F) mode, for a TXM-carrying container (TZ400) and a legacy one
# (TZ300), with the peak memory of each -E run; all in one run.
# Usage: bench/postenc_bench.sh [SIZE_MIB] [BUILD_DIR]   (defaults 1024, build).
# Needs about 6 x SIZE_MIB of free disk in /tmp and a built tree with bench/make_big_txm and
# bench/make_big_legacy, which write the payloads the containers are generated from.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
build=${2:-build}
bin=$build/bin/talvex_bnx_utils
work=$(mktemp -d /tmp/talvex_postenc_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

"$build/bench/make_big_txm" "$work/big.txm" "$size_mib"
"$bin" -G -t 400 -e "$work/big.txm" -O "$work" -o txm > /dev/null
"$build/bench/make_big_legacy" "$work/fw_info.bin" "$work/all_models.bin" "$size_mib"
"$bin" -G -t 300 -h "$work/fw_info.bin" -m "$work/all_models.bin" -O "$work" -o legacy > /dev/null
rm -f "$work/big.txm" "$work/all_models.bin"
head -c 1024 /dev/urandom > "$work/key.bin"

report() {  # label input seconds cp_seconds rss_kib
  awk -v l="$1" -v s="$3" -v c="$4" -v k="$5" -v b="$(stat -c %s "$2")" 'BEGIN {
    printf "%-22s: %.3f s = %.2f x cp, peak RSS %.0f MiB = %.2f x payload\n", l, s, s / c, k / 1024, k * 1024 / b }'
}

for kind in txm legacy; do
  in=$work/$kind.bnx
  cat "$in" > /dev/null  # warm the page cache for every measurement
  best_cp=999; best_cat=999; best_tv=999; best_ck=999
  # No timed command replaces an existing file (removing 1 GiB is not what is measured).
  for _ in 1 2 3; do
    rm -rf "$work/copy.bnx" "$work/tv" "$work/ck"; sync
    t0=$(now); cp "$in" "$work/copy.bnx"; t1=$(now)
    rm -f "$work/copy.bnx"; sync
    # cp may copy inside the kernel (copy_file_range); dd copies through user memory.
    t6=$(now); dd if="$in" of="$work/copy.bnx" bs=1M status=none; t7=$(now)
    rm -f "$work/copy.bnx"; sync
    t2=$(now); "$bin" -E "$in" --TV 5 -O "$work/tv" > /dev/null; t3=$(now)
    rm -rf "$work/tv"; sync
    t4=$(now); "$bin" -E "$in" -f 1234 -F "$work/key.bin" -O "$work/ck" > /dev/null; t5=$(now)
    best_cp=$(min "$best_cp" "$(elapsed "$t0" "$t1")")
    best_cat=$(min "$best_cat" "$(elapsed "$t6" "$t7")")
    best_tv=$(min "$best_tv" "$(elapsed "$t2" "$t3")")
    best_ck=$(min "$best_ck" "$(elapsed "$t4" "$t5")")
  done
  rm -rf "$work/tv" "$work/ck"
  rss_tv=$(peak_kib "$bin" -E "$in" --TV 5 -O "$work/tv")
  rss_ck=$(peak_kib "$bin" -E "$in" -f 1234 -F "$work/key.bin" -O "$work/ck")
  rm -rf "$work/tv" "$work/ck"
  echo "$kind container: $(stat -c %s "$in") bytes (page cache warm, best of 3)"
  awk -v s="$best_cp" 'BEGIN { printf "cp of the container    : %.3f s\n", s }'
  awk -v s="$best_cat" -v c="$best_cp" 'BEGIN { printf "dd of the container    : %.3f s = %.2f x cp\n", s, s / c }'
  report "-E --TV 5" "$in" "$best_tv" "$best_cp" "$rss_tv"
  report "-E -f 1234 -F key" "$in" "$best_ck" "$best_cp" "$rss_ck"
done
