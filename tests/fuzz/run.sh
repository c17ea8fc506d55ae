#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds each, starting from
# its checked-in seed corpus (tests/fuzz/corpus/<target>/), and prints the
# executions per target. Exits non-zero on the first finding; the crashing
# input is left in build/fuzz/findings/.
set -euo pipefail
seconds=${1:-60}
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$top/build/fuzz/bin
work=$top/build/fuzz/corpus
findings=$top/build/fuzz/findings
mkdir -p "$work" "$findings"
shopt -s nullglob
targets=("$bin"/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz targets built in $bin" >&2
    exit 1
fi
printf '%-28s %12s %10s\n' target executions seconds
for target in "${targets[@]}"; do
    name=$(basename "$target")
    seeds=$top/tests/fuzz/corpus/$name
    mkdir -p "$work/$name" "$seeds"
    log=$top/build/fuzz/$name.log
    if ! ASAN_OPTIONS=detect_leaks=1 "$target" "$work/$name" "$seeds" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/$name-" -print_final_stats=1 >"$log" 2>&1; then
        tail -40 "$log"
        echo "FINDING in $name: see $findings" >&2
        exit 1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    printf '%-28s %12s %10s\n' "$name" "$runs" "$seconds"
done
