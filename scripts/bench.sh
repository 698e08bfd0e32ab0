#!/bin/sh
# Builds the benchmarks (release, native) and runs them; arguments go to each benchmark.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh native
CCACHE_BASEDIR=$(pwd)
CCACHE_NOHASHDIR=1  # nor by the build folder, which debug information would otherwise add
export CCACHE_BASEDIR CCACHE_NOHASHDIR
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTX_BUILD_TESTS=OFF \
    -DVTX_BUILD_BENCH=ON -DVTX_WERROR=ON >/dev/null
cmake --build build/bench --target vtx_bench_backlog vtx_bench_flash
build/bench/vtx_bench_backlog "$@"
build/bench/vtx_bench_flash "$@"
