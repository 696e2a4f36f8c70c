#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
scripts/build.sh
bin=build/src/talvex_bnx_utils
sample=samples/sample.bnx
echo "\$ talvex_bnx_utils --help"
"$bin" --help || true
echo "\$ talvex_bnx_utils -C $sample"
"$bin" -C "$sample"
