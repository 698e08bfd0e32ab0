#!/bin/sh
# Builds the libFuzzer targets (fuzz/) with clang in build/fuzz and runs each for SECONDS
# seconds on a copy of its seed corpus; the checked-in corpus does not change. Prints per target
# the executions and what was found, and fails on any crash, leak or timeout. What a target
# found stays in build/fuzz/runs/TARGET/ with the run's log.
#   scripts/fuzz.sh SECONDS
# The API-sequence target drives the simulated device behind the WinUSB path; run with
# VTXPTS_DEVICE=sim-kernel for the kernel driver's path.
set -eu

if [ $# -ne 1 ] || ! [ "$1" -gt 0 ] 2>/dev/null; then
    echo "usage: $0 SECONDS" >&2
    exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
runs=$build/runs
targets="fuzz_device_replies fuzz_sim_packets fuzz_api_sequence"

"$root/scripts/setup-debian.sh" fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DVTX_FUZZ=ON -DVTX_BUILD_TESTS=OFF -DVTX_WERROR=ON >/dev/null
# shellcheck disable=SC2086 # the target list is split on purpose
cmake --build "$build" -j2 --target $targets

rm -rf "$runs"
failed=0
for target in $targets; do
    out=$runs/$target
    mkdir -p "$out/corpus"
    cp "$root/fuzz/corpus/$target/"* "$out/corpus/"
    log=$out/run.log
    # The API sequences spend most of their time waiting on the library's threads: three
    # processes share the two cores. Fork mode would pass over timeouts and running out of
    # memory unless told not to.
    parallel=""
    if [ "$target" = fuzz_api_sequence ]; then
        parallel="-fork=3 -ignore_timeouts=0 -ignore_ooms=0"
    fi
    # A single input runs in milliseconds; one that takes 10 s is stuck.
    # shellcheck disable=SC2086 # the options are split on purpose
    if "$build/$target" $parallel -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus" >"$log" 2>&1; then
        status=ok
    else
        status=failed
        failed=1
    fi
    # The final statistics, or in fork mode the last status line.
    executions=$(sed -n -e 's/^stat::number_of_executed_units: *//p' \
        -e 's/^#\([0-9][0-9]*\): cov:.*/\1/p' "$log" | tail -n 1)
    found=$(find "$out" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) -exec basename {} \; | tr '\n' ' ')
    if [ "$status" = ok ] && [ -z "$found" ]; then
        echo "$target: ${executions:-0} executions, nothing found"
    else
        echo "$target: ${executions:-?} executions, FOUND: ${found:-see log} (log: $log)"
        failed=1
    fi
done
exit $failed
