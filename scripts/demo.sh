#!/bin/sh
# Builds the library and ptcan, then shows what the library does so far: loaded by path as an
# application loads it, with its trace events on standard error.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh native
cmake --preset release >/dev/null
cmake --build --preset release

echo
echo "=== ptcan: open the device through the J2534 API ==="
build/release/ptcan build/release/libvtxpts32.so open || true

echo
echo "=== the same with tracing on (VTXPTS_ENABLELOG=1, events to standard error) ==="
VTXPTS_ENABLELOG=1 VTXPTS_TRACE=- build/release/ptcan build/release/libvtxpts32.so open || true
