#!/usr/bin/env bash
# Encoder throughput beside memcpy, then -S on a large TXM file: time and peak memory.
# Usage: bench/encode_split_bench.sh [BUILD_DIR] [ENCODE_MIB] [TXM_MIB]   (defaults: build 256 512)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
encode_mib=${2:-256}
txm_mib=${3:-512}
bin=$build/bin/talvex_bnx_utils
[ -x "$bin" ] || bin=$build/src/talvex_bnx_utils  # trees configured before the bin/ folder
work=$(mktemp -d /tmp/talvex_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "== Encoder, ${encode_mib} MiB in memory"
"$build/bench/encode_bench" "$encode_mib"

echo "== -S on a ${txm_mib} MiB TXM file"
"$build/bench/make_big_txm" "$work/big.txm" "$txm_mib"
ls -l "$work/big.txm" | awk '{ printf "input: %d bytes\n", $5 }'
cat > "$work/addr.json" <<'JSON'
{ "input_addr": "0x80000000", "output_addr": "0x80100000",
  "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000" }
JSON
cat "$work/big.txm" > /dev/null  # warm the page cache
for core in 0 3; do
  /usr/bin/time -v "$bin" -S "$work/big.txm" -d "$core" -p "$work/addr.json" -O "$work/out" \
    > "$work/split.out" 2> "$work/time.txt"
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  echo "core $core: wall $wall, peak RSS $((rss / 1024)) MiB, files: $(tr '\n' ' ' < "$work/split.out")"
  rm -rf "$work/out"
done
