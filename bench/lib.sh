# Timing helpers shared by the benchmark scripts (sourced, not run).
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }
min() { awk -v x="$1" -v y="$2" 'BEGIN { print (y < x) ? y : x }'; }
peak_kib() {  # peak RSS of one run of the command, in KiB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
# Median of the numbers given as arguments (three repetitions: the middle one). On a shared
# machine the median of a few runs moves less than their minimum.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Bytes a command hands to write(), pwrite() and copy_file_range(), from an strace of one run.
bytes_written() {
  local log; log=$(mktemp)
  strace -f -qq -e trace=write,pwrite64,writev,copy_file_range -o "$log" "$@" > /dev/null 2>&1 || true
  awk -F'= ' '/= [0-9]+$/ { s += $NF } END { printf "%.0f\n", s }' "$log"
  rm -f "$log"
}
