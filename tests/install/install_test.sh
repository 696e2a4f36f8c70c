#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed programs, from a folder
# outside the source and build trees, on the bundled samples: generate, verify, extract.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR [CMAKE]
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
cmake_bin=${3:-cmake}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# expect STATUS COMMAND...: the command exits with STATUS ("nonzero": anything but 0).
expect() {
  local want=$1; shift
  local got=0
  "$@" >"$tmp/last.out" 2>"$tmp/last.err" || got=$?
  if [[ "$want" == nonzero && $got -ne 0 ]] || [[ "$want" == "$got" ]]; then return 0; fi
  fail "exit $got (expected $want): $*"
  sed 's/^/  | /' "$tmp/last.out" "$tmp/last.err" >&2
  return 0
}

"$cmake_bin" --install "$build" --prefix "$prefix" >"$tmp/install.log"

# What lands where.
for f in bin/talvex_bnx_utils bin/talvex_setup_parser \
         share/man/man1/talvex_bnx_utils.1.gz share/man/man1/talvex_setup_parser.1.gz \
         share/bash-completion/completions/talvex_bnx_utils \
         share/bash-completion/completions/talvex_setup_parser; do
  [[ -e "$prefix/$f" ]] || fail "not installed: $f"
done
for f in bin/talvex_bnx_utils bin/talvex_setup_parser; do
  [[ -x "$prefix/$f" ]] || fail "not executable: $f"
done
zcat "$prefix/share/man/man1/talvex_bnx_utils.1.gz" | grep -q '^\.TH TALVEX_BNX_UTILS 1' || fail "man page talvex_bnx_utils(1)"
zcat "$prefix/share/man/man1/talvex_setup_parser.1.gz" | grep -q '^\.TH TALVEX_SETUP_PARSER 1' || fail "man page talvex_setup_parser(1)"
bash -c "source '$prefix/share/bash-completion/completions/talvex_bnx_utils' && complete -p talvex_bnx_utils \
  && complete -p talvex_setup_parser" >/dev/null || fail "completion does not register"
# Completion offers the options and the targets.
got=$(bash -c "source '$prefix/share/bash-completion/completions/talvex_bnx_utils'
  COMP_WORDS=(talvex_bnx_utils --split); COMP_CWORD=1; _talvex_bnx_utils; echo \"\${COMPREPLY[*]}\"
  COMP_WORDS=(talvex_bnx_utils -G -t 4); COMP_CWORD=3; _talvex_bnx_utils; echo \"\${COMPREPLY[*]}\"")
[[ "$got" == $'--split_core\n400' ]] || fail "completion gave: $got"

# The installed programs, found on PATH, run from an unrelated folder.
work="$tmp/work"
mkdir -p "$work"
cd "$work"
export PATH="$prefix/bin:$PATH"
[[ "$(command -v talvex_bnx_utils)" == "$prefix/bin/talvex_bnx_utils" ]] || fail "talvex_bnx_utils not taken from the prefix"
cp "$src/samples/sample.txm" .
cp -r "$src/samples/tz100" "$src/samples/tz300" .

expect 0 talvex_bnx_utils -H
expect 0 talvex_setup_parser --help

# Generate.
expect 0 talvex_bnx_utils -G -t 400 -e sample.txm -O out
expect 0 talvex_bnx_utils -G -t 100 -h tz100/fw_info.bin -m tz100/all_models.bin -O out
expect 0 talvex_bnx_utils -G -t 300 -h tz300/fw_info.bin -m tz300/all_models.bin -O out
for t in 100 300 400; do
  [[ -s "out/models_$t.bnx" ]] || fail "no out/models_$t.bnx"
done

# Verify: the CRC of every intact container, the header, and --verify.
for t in 100 300 400; do
  expect 0 talvex_bnx_utils -C "out/models_$t.bnx"
  grep -q '0x2144df1c' "$tmp/last.out" || fail "-C on models_$t.bnx: $(cat "$tmp/last.out")"
  expect 0 talvex_bnx_utils -R "out/models_$t.bnx" -k target
done
expect 0 talvex_bnx_utils --verify out/models_100.bnx out/models_300.bnx out/models_400.bnx
cp out/models_400.bnx damaged.bnx
size=$(stat -c %s damaged.bnx)
printf '\xff' | dd of=damaged.bnx bs=1 seek=$((size - 2)) conv=notrunc status=none
expect nonzero talvex_bnx_utils --verify damaged.bnx

# Extract, with the setup views written by the installed talvex_setup_parser.
expect 0 talvex_bnx_utils -X out/models_400.bnx -s -O x400
ls x400/*.txm >/dev/null 2>&1 || fail "-X -s on models_400.bnx wrote no TXM file"
for t in 100 300; do
  expect 0 talvex_bnx_utils -X "out/models_$t.bnx" -s -O "x$t"
  n=$(find "x$t" -name '*_setup.bin.json' | wc -l)
  [[ $n -gt 0 ]] || fail "-X -s on models_$t.bnx wrote no setup JSON view"
  for j in $(find "x$t" -name '*_setup.bin.json'); do
    jq empty "$j" >/dev/null 2>&1 || fail "not JSON: $j"
  done
done

# The parser is looked up next to the running program, not on PATH or in the build tree: a
# copy of the tool alone in another folder cannot produce the setup views.
mkdir -p alone
cp "$prefix/bin/talvex_bnx_utils" alone/
expect nonzero alone/talvex_bnx_utils -X out/models_300.bnx -s -O xalone

if [[ $failures -ne 0 ]]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "installed programs: generate, verify and extract passed"
