#!/usr/bin/env bash
# Runs each fuzz target for a while on a scratch copy of its seed corpus and
# tells what it found.  Usage: fuzz/run.sh <build dir> <seconds> <target>...
# New inputs go to <build dir>/fuzz-corpus/<target>, findings (crash-*,
# leak-*, timeout-*, oom-*) to <build dir>/fuzz-findings/<target>; the
# checked-in corpus is never written.
set -uo pipefail
build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
status=0
summary=()

for target in "$@"; do
    exe=$build/bin/fuzz_$target
    work=$build/fuzz-corpus/$target
    findings=$build/fuzz-findings/$target
    log=$build/fuzz-$target.log
    mkdir -p "$work" "$findings"
    cp -n "$here/corpus/$target"/* "$work"/
    dict=()
    [ -f "$here/$target.dict" ] && dict=(-dict="$here/$target.dict")
    before=$(find "$findings" -type f | wc -l)

    echo "=== fuzz_$target: ${seconds} s on $(find "$work" -type f | wc -l) inputs"
    start=$(date +%s)
    LSAN_OPTIONS="suppressions=$here/../.ci/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
        "$exe" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$findings/" "${dict[@]}" "$work" >"$log" 2>&1
    rc=$?
    took=$(($(date +%s) - start))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[^ ]+' "$log" | tail -n 1)
    new=$(($(find "$findings" -type f | wc -l) - before))
    line="fuzz_$target: ${took} s, ${runs:-?} executions, ${cov:-no coverage line}, exit $rc"
    if [ "$rc" -ne 0 ] || [ "$new" -ne 0 ]; then
        status=1
        line="$line, FOUND $new new finding(s) in $findings (log: $log)"
        grep -E -A12 '^\*\*\* invariant violated|^==[0-9]+==ERROR|runtime error|deadly signal' "$log" | head -n 40
    else
        line="$line, found nothing"
    fi
    echo "$line"
    summary+=("$line")
done

echo
echo "=== fuzz summary"
printf '%s\n' "${summary[@]}"
exit $status
