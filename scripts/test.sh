#!/bin/sh
# Builds and runs every test: the native build, its address+undefined and thread sanitizer
# builds, then the 32-bit Windows DLL and its tests under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh all

log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0
for preset in debug asan tsan mingw; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    status=0
    ctest --preset "$preset" >"$log" 2>&1 || status=$?
    cat "$log"
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
    if [ -n "$line" ]; then
        total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
        bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed.*/\1/')
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    if [ "$status" -ne 0 ]; then
        echo "tests: $passed passed, $((failed > 0 ? failed : 1)) failed"
        exit "$status"
    fi
done
echo "tests: $passed passed, $failed failed"
