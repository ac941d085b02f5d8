#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each inside the hermetic runner, on a
# scratch copy of its seed corpus and saved crash inputs, and prints the
# executions per target. A crash input is kept under /tmp and named in the
# output; copy it to fuzz/regressions/<target>/ once the fault is fixed.
#   run_fuzzers.sh BUILD_DIR [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=${2:-60}
work=$(mktemp -d /tmp/orvi-fuzz.XXXXXX)
status=0
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
    cp -r "$here/corpus/$name/." "$work/$name/corpus/" 2>/dev/null || true
    [ -d "$here/regressions/$name" ] && cp -r "$here/regressions/$name/." "$work/$name/corpus/"
    log="$work/$name/log"
    if "$here/../sim/orvi-sim-run" -- "$target" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=3 \
        -artifact_prefix="$work/$name/artifacts/" -rss_limit_mb=2048 "$work/$name/corpus" \
        >"$log" 2>&1; then
        result=clean
    else
        result="FAILED (inputs in $work/$name/artifacts, log $log)"
        status=1
    fi
    execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
    printf '%-26s %10s executions in %ss: %s\n' "$name" "$execs" "$seconds" "$result"
done
[ $status -eq 0 ] && rm -rf "$work"
exit $status
