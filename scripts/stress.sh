#!/bin/sh
# stress.sh N: runs the end-to-end suites N times on the debug and tsan presets, building them
# first if needed, and prints every test that failed even once: test, preset, failures/runs.
# Exits non-zero if any test failed.
#
# The suites are the CTest tests of vtx_e2e_tests behind both device paths and of
# vtx_e2e_library_tests, named e2e/..., e2e_kernel/... and e2e_library/...
#
#   VTX_STRESS_PRESETS     presets to run (default "debug tsan")
#   VTX_STRESS_BUILD_ROOT  where the presets' build directories are, one per preset name
#                          (default build/); a directory not there yet is configured with the
#                          preset's settings
#   VTX_STRESS_JOBS        tests run at once, and build jobs (default 2)
#   VTX_STRESS_TESTS       only the tests whose name (after the suite's e2e.../ prefix) starts
#                          with this, e.g. "Iso15765" (default: all)
#
# The output of every run with a failure is kept, with the failing tests' own output, in
# stress-failures/ beside the build directories (PRESET-run-I.log); the summary names the folder.
set -eu
usage() {
    echo "usage: $0 N" >&2
    exit 2
}
[ $# -eq 1 ] || usage
runs=$1
case "$runs" in '' | *[!0-9]* | 0) usage ;; esac

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${VTX_STRESS_BUILD_ROOT:-$root/build}
presets=${VTX_STRESS_PRESETS:-debug tsan}
jobs=${VTX_STRESS_JOBS:-2}
suites="^(e2e|e2e_kernel|e2e_library)/${VTX_STRESS_TESTS:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
results=$work/results # one line per test run: preset test passed|failed
kept=$build_root/stress-failures
rm -rf "$kept"

build() {
    dir=$build_root/$1
    if [ ! -f "$dir/CTestTestfile.cmake" ]; then
        (cd "$root" && cmake --preset "$1" -B "$dir" >/dev/null)
    fi
    cmake --build "$dir" -j "$jobs" --target vtxpts32 vtx_e2e_tests vtx_e2e_library_tests
}

# One ctest run of the suites; appends a result line per test that passed or failed (a test
# that skipped itself counts as neither).
run_once() {
    preset=$1 dir=$2 run=$3
    log=$work/log
    if ! ctest --test-dir "$dir" -R "$suites" -j "$jobs" --timeout 300 --output-on-failure \
        >"$log" 2>&1; then
        mkdir -p "$kept"
        cp "$log" "$kept/$preset-run-$run.log"
    fi
    if ! grep -qE '^ *[0-9]+/[0-9]+ Test +#' "$log"; then
        echo "$preset: no end-to-end tests ran" >&2
        tail -5 "$log" >&2
        echo "$preset (no tests ran) failed" >>"$results"
        return
    fi
    grep -v '\*\*\*Skipped' "$log" | sed -nE \
        's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .*[^*](Passed).*$/\1 passed/p;
         s/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .*\*\*\*.*$/\1 failed/p' |
        sed "s/^/$preset /" >>"$results"
    grep -E 'tests passed|tests failed' "$log" || true
}

: >"$results"
for preset in $presets; do
    echo "=== $preset: build ==="
    build "$preset"
    i=1
    while [ "$i" -le "$runs" ]; do
        echo "=== $preset: run $i of $runs ==="
        run_once "$preset" "$build_root/$preset" "$i"
        i=$((i + 1))
    done
done

echo
echo "=== $(wc -l <"$results") test runs; tests that failed at least once ==="
failures=$(awk '
    { runs[$2 " " $1]++ }
    $3 == "failed" { failed[$2 " " $1]++ }
    END {
        for (key in failed) {
            split(key, f, " ")
            printf "%-90s %-6s %d/%d\n", f[1], f[2], failed[key], runs[key]
        }
    }' "$results" | sort)
if [ -z "$failures" ]; then
    echo "none"
    exit 0
fi
printf "%-90s %-6s %s\n" test preset failures/runs
echo "$failures"
echo "their runs' output: $kept/"
exit 1
