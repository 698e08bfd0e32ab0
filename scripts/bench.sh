#!/bin/sh
# Builds the benchmarks (release, native) and runs them all, even when one fails or misses a
# target; fails at the end if any did.
#   scripts/bench.sh [RUNS] [SECONDS]
# RUNS goes to each program that takes it (each has its own default; busbench's is 3); SECONDS
# is how long busbench measures each scenario (default 5), on each of the two device paths; where
# the unsigned-long library is built (64-bit Linux), busbench-ulong measures the rx scenarios
# through its exports the same way. The micro-benchmarks need Google Benchmark
# (libbenchmark-dev), installed here when run as root, skipped otherwise. VTX_BENCH_DIR: the build
# folder (default build/bench).
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh native
if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q " installed$"; then
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: libbenchmark-dev"
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y libbenchmark-dev
    else
        echo "libbenchmark-dev is missing: the micro-benchmarks are skipped" >&2
        echo "  (sudo apt-get install -y libbenchmark-dev)" >&2
    fi
fi
CCACHE_BASEDIR=$(pwd)
CCACHE_NOHASHDIR=1  # nor by the build folder, which debug information would otherwise add
export CCACHE_BASEDIR CCACHE_NOHASHDIR
dir=${VTX_BENCH_DIR:-build/bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTX_BUILD_TESTS=OFF \
    -DVTX_BUILD_BENCH=ON -DVTX_WERROR=ON >/dev/null
targets="vtx_bench_backlog vtx_bench_flash vtx_busbench"
ulong=false
if ninja -C "$dir" -t query vtx_busbench_ulong >/dev/null 2>&1; then
    targets="$targets vtx_busbench_ulong"
    ulong=true
fi
micro=false
if ninja -C "$dir" -t query vtx_bench_micro >/dev/null 2>&1; then
    targets="$targets vtx_bench_micro"
    micro=true
fi
# shellcheck disable=SC2086  # the target list is meant to split
cmake --build "$dir" --target $targets

failed=""
run() {
    echo
    echo "== $*"
    "$@" || failed="$failed $(basename "$1")"
}
runs=${1:-}
run "$dir"/vtx_bench_backlog ${runs:+"$runs"}
run "$dir"/vtx_bench_flash ${runs:+"$runs"}
# busbench on both device paths: the WinUSB family (sim) and the kernel-driver family.
for device in sim sim-kernel; do
    run "$dir"/busbench "${1:-3}" "${2:-5}" "" "$device"
done
# The receive path through the unsigned-long exports: the same scenarios, records of 8-byte
# integers in the calls (set beside busbench's rx lines above).
if $ulong; then
    for device in sim sim-kernel; do
        run "$dir"/busbench-ulong "${1:-3}" "${2:-5}" rx "$device"
    done
fi
if $micro; then
    run "$dir"/vtx_bench_micro
fi
if [ -n "$failed" ]; then
    echo
    echo "failed or missed a target:$failed"
    exit 1
fi
