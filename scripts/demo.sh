#!/usr/bin/env bash
# Installs what is missing, builds, generates a container from the bundled sample model,
# reads it back and prints its full information report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
scripts/build.sh talvex_bnx_utils talvex_setup_parser
bin=build/bin/talvex_bnx_utils
out=output

run() { echo "\$ talvex_bnx_utils $*"; "$bin" "$@"; }

run -G -t 400 -e samples/sample.txm -a demo-solution -b 5a6f7e -O "$out"
bnx="$out/models_400.bnx"
for key in target crc uuid schema_version encryption_mode solution_id solution_tag toolchain_version; do
  printf '%-18s ' "$key:"; "$bin" -R "$bnx" -k "$key"
done
run -M "$bnx" -N "0 1"
run -C "$bnx"
run -I "$bnx" -s -O "$out"
