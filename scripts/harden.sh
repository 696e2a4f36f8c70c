#!/usr/bin/env bash
# Builds the suite and the fuzz targets with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, in build-fuzz/), runs the suite, then runs every fuzz target for SECONDS (default 20)
# from its seed corpus. Fails on any test failure, crash, leak, sanitizer report or timeout
# and prints the reproducer's path.
#   scripts/harden.sh [SECONDS]
# The build is the bulk of it: only what the tests and fuzz targets need, in one translation
# unit per module, at -O1 with line tables only (enough for the sanitizers' stack traces).
# Each step prints its time.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
case "$seconds" in ''|*[!0-9]*) echo "usage: scripts/harden.sh [SECONDS]" >&2; exit 2 ;; esac

started=$SECONDS
step_started=$SECONDS
step() {  # step NAME: the time of the step that just ended
  echo "harden: $1 took $((SECONDS - step_started))s" >&2
  step_started=$SECONDS
}

scripts/install_deps.sh
# clang and its sanitizer and libFuzzer runtimes, when missing (safe to run again).
missing=()
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
echo 'int main(){}' > /tmp/talvex_rt_probe.$$.cc
if ! clang++ -fsanitize=fuzzer-no-link,address,undefined /tmp/talvex_rt_probe.$$.cc \
       -o /tmp/talvex_rt_probe.$$ >/dev/null 2>&1; then
  missing+=(clang libclang-rt-14-dev)
fi
rm -f /tmp/talvex_rt_probe.$$ /tmp/talvex_rt_probe.$$.cc
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

step "dependencies"

jobs="$(nproc)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Harden \
  -DCMAKE_CXX_FLAGS_HARDEN="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_HARDEN="-O1 -gline-tables-only" \
  -DTALVEX_FUZZ=ON -DTALVEX_UNITY_BUILD=ON >/dev/null
# The test programs, the tool, the setup parser and the case inputs' writer, the man pages the install test
# installs, and the fuzz targets; not the benchmark programs.
cmake --build build-fuzz -j"$jobs" --target unit_tests talvex_bnx_utils talvex_setup_parser make_input talvex_man fuzz_all
step "build"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
ctest --test-dir build-fuzz --output-on-failure -j"$jobs"
step "test suite"

# Each target starts from the seed corpus (never written to) and keeps what it finds in
# build-fuzz/fuzz/corpus/<target>; a finding is written to build-fuzz/fuzz/findings/.
fuzz_dir=build-fuzz/fuzz
mkdir -p "$fuzz_dir/findings"
# The targets hand their inputs to path-taking entry points through files in memory.
TALVEX_FUZZ_DIR="$(mktemp -d /dev/shm/talvex_fuzz.XXXXXX)"
export TALVEX_FUZZ_DIR
trap 'rm -rf "$TALVEX_FUZZ_DIR"' EXIT
failed=0
for exe in "$fuzz_dir"/fuzz_*; do
  [ -x "$exe" ] || continue
  name="$(basename "$exe")"
  target="${name#fuzz_}"
  corpus="$fuzz_dir/corpus/$target"
  mkdir -p "$corpus"
  log="$fuzz_dir/findings/$target.log"
  echo "fuzz $target: ${seconds}s"
  fuzz_started=$SECONDS
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1048576 \
        -close_fd_mask=1 -print_final_stats=1 \
        -artifact_prefix="$fuzz_dir/findings/$target-" "$corpus" "$fuzz_dir/seeds" \
        >"$log" 2>&1; then
    failed=1
    echo "FAIL fuzz $target (log: $log)" >&2
    grep -aE "^(==[0-9]+==ERROR|SUMMARY|.*runtime error)" "$log" | head -5 >&2 || true
    for repro in "$fuzz_dir/findings/$target"-*; do
      [ -f "$repro" ] && echo "reproducer: $repro  (rerun: $exe $repro)" >&2
    done
  else
    grep -aE "^stat::number_of_executed_units|^stat::average_exec_per_sec|^#[0-9]+.*DONE" "$log" | tr '\n' ' '
    echo "($((SECONDS - fuzz_started))s)"
  fi
done
step "fuzz targets"
echo "harden: total $((SECONDS - started))s" >&2
[ "$failed" -eq 0 ] && echo "harden: passed" >&2
exit "$failed"
