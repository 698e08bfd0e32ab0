#!/bin/sh
# Builds and runs every test: the native build, its address+undefined and thread sanitizer
# builds, then the 32-bit Windows DLL with the checks that read it without running it (its
# exports, their stack clean-up, its imports) and, where 32-bit Wine can run, its tests under
# Wine, then the 64-bit DLL and its tests (the installer's among them, with the 32-bit DLL built
# just before) under 64-bit Wine. Every preset runs even when an earlier one failed; each prints
# its own summary, and the last line counts them all. Exits non-zero when anything failed.
set -eu
cd "$(dirname "$0")/.."
setup_log=$(mktemp)
{
    status=0
    scripts/setup-debian.sh all 2>&1 || status=$?
    echo "$status" >"$setup_log.status"
} | tee "$setup_log"
# What setup-debian.sh said of 32-bit Wine when it could not install it.
wine32_problem=$(sed -n 's/^optional: wine32:i386 not installed: //p' "$setup_log")
status=$(cat "$setup_log.status")
rm -f "$setup_log" "$setup_log.status"
[ "$status" -eq 0 ] || exit "$status"

# ccache (see CMakeLists.txt) keys its entries by paths relative to the checkout.
CCACHE_BASEDIR=$(pwd)
CCACHE_NOHASHDIR=1  # nor by the build folder, which debug information would otherwise add
export CCACHE_BASEDIR CCACHE_NOHASHDIR

log=$(mktemp)
summaries=$(mktemp)
trap 'rm -f "$log" "$summaries"' EXIT
passed=0
failed=0

# The 32-bit DLL's tests run under 32-bit Wine, which needs its package and a kernel that executes
# 32-bit x86 programs (some virtual machines' kernels do not). Prints why they cannot run, or
# nothing when they can.
why_no_32bit_wine() {
    case $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null || true) in
        *" installed") ;;
        *)
            echo "wine32 could not be installed: ${wine32_problem:-it is not installed}"
            return
            ;;
    esac
    # 32-bit Wine brings the 32-bit loader.
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 || echo "this kernel cannot run 32-bit programs"
}

# Runs CTest on a preset, with any further arguments of ctest (a label to select), and adds its
# counts to the totals; leaves them in ran_passed and ran_failed.
run_ctest() {
    preset=$1
    shift
    status=0
    ctest --preset "$preset" "$@" >"$log" 2>&1 || status=$?
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
    ran_passed=$((total - bad))
    ran_failed=$bad
    passed=$((passed + ran_passed))
    failed=$((failed + ran_failed))
}

# Runs one preset: configure, build, test. Adds its counts to the totals and its lines to the
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
    if [ "$preset" = mingw ]; then
        # The checks that read the 32-bit DLL without running it (CTest label "abi": the exports'
        # names, ordinals and stack clean-up, the imported DLLs) run everywhere; the build itself
        # has asserted the records' layout. The other tests need 32-bit Wine.
        run_ctest "$preset" -L '^abi$'
        echo "$preset: 32-bit ABI checks: $ran_passed passed, $ran_failed failed" \
            "(record layouts asserted by the build)" >>"$summaries"
        why_not=$(why_no_32bit_wine)
        if [ -z "$why_not" ]; then
            run_ctest "$preset" -LE '^abi$'
            echo "$preset: 32-bit Wine suites: $ran_passed passed, $ran_failed failed" \
                "($(($(date +%s) - started)) s)" >>"$summaries"
        else
            echo "$preset: 32-bit Wine suites not run: $why_not" \
                "($(($(date +%s) - started)) s)" >>"$summaries"
        fi
        return
    fi
    run_ctest "$preset"
    echo "$preset: $ran_passed passed, $ran_failed failed ($(($(date +%s) - started)) s)" \
        >>"$summaries"
}

for preset in debug asan tsan mingw mingw64; do
    run_preset "$preset"
done

echo "=== summary ==="
cat "$summaries"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
