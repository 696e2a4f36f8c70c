#!/usr/bin/env bash
# Configures and builds into build/ (release with debug info), showing the build's progress.
# Arguments name the targets to build (default: everything, tests included).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" "${targets[@]}"
echo "built: build/bin/talvex_bnx_utils, build/bin/talvex_setup_parser"
