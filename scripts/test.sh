#!/bin/sh
# Builds and runs every test: the native build, its address+undefined and thread sanitizer
# builds, then the 32-bit Windows DLL and its tests under Wine, then the 64-bit DLL and its tests
# (the installer's among them, with the 32-bit DLL built just before) under 64-bit Wine. Every
# preset runs even when an earlier one failed; each prints its own summary, and the last line
# counts them all. Exits non-zero when anything failed.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh all

# ccache (see CMakeLists.txt) keys its entries by paths relative to the checkout.
CCACHE_BASEDIR=$(pwd)
CCACHE_NOHASHDIR=1  # nor by the build folder, which debug information would otherwise add
export CCACHE_BASEDIR CCACHE_NOHASHDIR

log=$(mktemp)
summaries=$(mktemp)
trap 'rm -f "$log" "$summaries"' EXIT
passed=0
failed=0

# The Windows tests run under 32-bit Wine, which needs a kernel that executes 32-bit x86
# programs (some virtual machines' kernels do not). 32-bit Wine brings the 32-bit loader.
runs_32bit_programs() {
    /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Runs one preset: configure, build, test. Adds its counts to the totals and one line to the
# summaries; a preset that does not build counts as one failure.
run_preset() {
    preset=$1
    started=$(date +%s)
    echo "=== $preset ==="
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; then
        failed=$((failed + 1))
        echo "$preset: build failed ($(($(date +%s) - started)) s)" >>"$summaries"
        return
    fi
    if [ "$preset" = mingw ] && ! runs_32bit_programs; then
        echo "$preset: built; tests not run: this machine cannot execute 32-bit x86 programs," \
            "which 32-bit Wine needs ($(($(date +%s) - started)) s)" >>"$summaries"
        return
    fi
    status=0
    ctest --preset "$preset" >"$log" 2>&1 || status=$?
    cat "$log"
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
    total=0
    bad=0
    if [ -n "$line" ]; then
        total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
        bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed.*/\1/')
    fi
    if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
        bad=1  # ctest failed without a count (no tests found, or it could not run them)
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    echo "$preset: $((total - bad)) passed, $bad failed ($(($(date +%s) - started)) s)" >>"$summaries"
}

for preset in debug asan tsan mingw mingw64; do
    run_preset "$preset"
done

echo "=== summary ==="
cat "$summaries"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
