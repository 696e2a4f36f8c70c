#!/usr/bin/env bash
# Configures and builds into build/ (release with debug info); the log is shown only on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build -j"$(nproc)"; } >"$log" 2>&1; then
  cat "$log"
  echo "build failed" >&2
  exit 1
fi
echo "built: build/bin/talvex_bnx_utils, build/bin/talvex_setup_parser"
