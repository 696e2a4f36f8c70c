#!/usr/bin/env bash
# Peak memory and time of the modes that rewrite or take apart a whole container, at a payload
# of SIZE_MIB: -U, --update_solution_info, -E --TV, -X -s -l and -c (two containers of half
# the size each, so the combined payload is SIZE_MIB), on a TXM container (TZ400) and a legacy
# one (TZ300), and -j of the TXM file. Peak memory is given as a fraction of the payload, time
# (median of 3, page cache warm) as a ratio to `cp` of the same input in the same run.
# Usage: bench/large_payload_bench.sh [SIZE_MIB] [BUILD_DIR] [FAMILY]   (defaults 512, build,
# both; FAMILY txm or legacy runs one of them). TALVEX_BIN names another talvex_bnx_utils to
# measure (its talvex_setup_parser beside it), e.g. an older build to compare with.
# Needs about 8 x SIZE_MIB of free disk in /tmp and a built tree (talvex_bnx_utils,
# talvex_setup_parser, bench/make_big_txm and bench/make_big_legacy).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-512}
build=${2:-build}
family=${3:-both}
bin=${TALVEX_BIN:-$build/bin/talvex_bnx_utils}
work=$(mktemp -d /tmp/talvex_large_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/lib.sh

rss_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

# Times one command (median of 3) beside cp of its input, and its peak memory. Every run writes
# into a fresh folder: removing the previous output is not what is measured.
measure() {  # label input payload_bytes command...
  local label=$1 in=$2 payload=$3
  shift 3
  local t_cp=() t_cmd=()
  cat "$in" > /dev/null
  for _ in 1 2 3; do
    rm -rf "$work/out" "$work/copy"; sync
    t0=$(now); cp "$in" "$work/copy"; t1=$(now)
    rm -f "$work/copy"; sync
    t2=$(now)
    if ! "$@" -O "$work/out" > /dev/null 2> "$work/err"; then
      echo "$label: failed: $(tail -n 1 "$work/err")"
      return 0
    fi
    t3=$(now)
    t_cp+=("$(elapsed "$t0" "$t1")")
    t_cmd+=("$(elapsed "$t2" "$t3")")
  done
  rm -rf "$work/out"; sync
  local k; k=$(rss_kib "$@" -O "$work/out")
  rm -rf "$work/out"
  awk -v l="$label" -v s="$(median "${t_cmd[@]}")" -v c="$(median "${t_cp[@]}")" -v k="$k" -v b="$payload" 'BEGIN {
    printf "%-28s: %6.3f s = %5.2f x cp, peak RSS %5.0f MiB = %.3f x payload\n", l, s, s / c, k / 1024, k * 1024 / b }'
}

payload_of() {  # bytes of a container's all_models (the -I report's payload size)
  "$bin" -I "$1" --json | sed -n 's/.*"size" *: *\([0-9]*\).*/\1/p' | head -n 1
}

run_family() {  # kind target
  local kind=$1 t=$2 half=$((size_mib / 2))
  for x in big:$size_mib a:$half b:$half; do
    local name=${x%%:*} mib=${x##*:} first=1
    [ "$name" = b ] && first=5  # -c needs distinct model ids
    if [ "$kind" = txm ]; then
      "$build/bench/make_big_txm" "$work/$name.txm" "$mib" "$first"
      "$bin" -G -t "$t" -e "$work/$name.txm" -O "$work" -o "$name" > /dev/null
    else
      "$build/bench/make_big_legacy" "$work/fw_$name.bin" "$work/all_$name.bin" "$mib" 4 "$first"
      "$bin" -G -t "$t" -h "$work/fw_$name.bin" -m "$work/all_$name.bin" -O "$work" -o "$name" > /dev/null
      rm -f "$work/fw_$name.bin" "$work/all_$name.bin"
    fi
  done
  local in=$work/big.bnx payload; payload=$(payload_of "$in")
  echo "== $kind TZ$t: container $(stat -c %s "$in") bytes, payload $payload bytes"
  measure "-U" "$in" "$payload" "$bin" -U "$in" --model_info_version 2.0 --model_info_name det
  measure "--update_solution_info" "$in" "$payload" "$bin" --update_solution_info "$in" --solution_id 77 --solution_tag ab
  measure "-E --TV 5" "$in" "$payload" "$bin" -E "$in" --TV 5
  measure "-X -s -l" "$in" "$payload" "$bin" -X "$in" -s -l
  if [ "$kind" = txm ]; then
    measure "-j" "$work/big.txm" "$(stat -c %s "$work/big.txm")" "$bin" -j "$work/big.txm"
    rm -f "$work/big.txm" "$work/a.txm" "$work/b.txm"
  fi
  # cp of the two inputs is taken as cp of one file of their size.
  cat "$work/a.bnx" "$work/b.bnx" > "$work/ab.bin"
  measure "-c (two of half the size)" "$work/ab.bin" "$(( $(payload_of "$work/a.bnx") + $(payload_of "$work/b.bnx") ))" \
    "$bin" -c "$work/a.bnx" "$work/b.bnx"
  rm -f "$work"/*.bnx "$work/ab.bin"
}

[ "$family" != legacy ] && run_family txm 400
[ "$family" != txm ] && run_family legacy 300
exit 0
