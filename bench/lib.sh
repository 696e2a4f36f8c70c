# Timing helpers shared by the benchmark scripts (sourced, not run).
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }
min() { awk -v x="$1" -v y="$2" 'BEGIN { print (y < x) ? y : x }'; }
peak_kib() {  # peak RSS of one run of the command, in KiB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
