#!/bin/sh
# stress.sh N: runs the end-to-end suites (vtx_e2e_tests, vtx_e2e_kernel_tests and
# vtx_e2e_library_tests) N times each on the debug and tsan presets, building them first if
# needed, and prints every test that failed even once: test, program, preset, failures/runs.
# Exits non-zero if any test failed.
#
# The suites' test names are the same in every program, so tests are picked by the program
# that runs them (from ctest's JSON listing) and run by index, one program at a time.
#
#   VTX_STRESS_PRESETS     presets to run (default "debug tsan")
#   VTX_STRESS_BUILD_ROOT  where the presets' build directories are, one per preset name
#                          (default build/); another root is configured with the preset's
#                          settings on first use
#   VTX_STRESS_JOBS        tests run at once (default 2)
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
programs="vtx_e2e_tests vtx_e2e_kernel_tests vtx_e2e_library_tests"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
results=$work/results # lines: preset program test passed|failed

build() {
    dir=$build_root/$1
    if [ ! -f "$dir/CTestTestfile.cmake" ]; then
        (cd "$root" && cmake --preset "$1" -B "$dir" >/dev/null)
    fi
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" --target vtxpts32 $programs
}

# The ctest indices of one program's tests, as "i,j,k" (empty when it has none).
indices_of() {
    ctest --test-dir "$1" -N --show-only=json-v1 | python3 -c '
import json, os, sys
program = sys.argv[1]
tests = json.load(sys.stdin)["tests"]
print(",".join(str(i + 1) for i, t in enumerate(tests)
               if t.get("command") and os.path.basename(t["command"][0]) == program))
' "$2"
}

# One ctest run of one program's tests; appends a result line per test.
run_once() {
    preset=$1 dir=$2 program=$3 list=$4
    log=$work/log
    ctest --test-dir "$dir" -I "0,0,0,$list" -j "$jobs" --timeout 300 >"$log" 2>&1 || true
    grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" | sed -E \
        -e 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.+ *\**(Passed)?.*$/\1 \2/' |
        while read -r name outcome; do
            echo "$preset $program $name ${outcome:+passed}${outcome:-failed}"
        done >>"$results"
}

: >"$results"
for preset in $presets; do
    echo "=== $preset: build ==="
    build "$preset"
    dir=$build_root/$preset
    for program in $programs; do
        list=$(indices_of "$dir" "$program")
        if [ -z "$list" ]; then
            echo "$preset: no tests of $program" >&2
            continue
        fi
        i=1
        while [ "$i" -le "$runs" ]; do
            echo "=== $preset $program: run $i of $runs ==="
            run_once "$preset" "$dir" "$program" "$list"
            i=$((i + 1))
        done
    done
done

total=$(wc -l <"$results")
echo
echo "=== $total test runs; tests that failed at least once ==="
failures=$(awk '
    { runs[$3 " " $2 " " $1]++ }
    $4 == "failed" { failed[$3 " " $2 " " $1]++ }
    END {
        for (key in failed) {
            split(key, f, " ")
            printf "%-70s %-22s %-6s %d/%d\n", f[1], f[2], f[3], failed[key], runs[key]
        }
    }' "$results" | sort)
if [ -z "$failures" ]; then
    echo "none"
    exit 0
fi
printf "%-70s %-22s %-6s %s\n" test program preset failures/runs
echo "$failures"
exit 1
