#!/bin/sh
# Builds the benchmarks (release, native) and runs them; arguments go to each benchmark.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh native
CCACHE_BASEDIR=$(pwd)
export CCACHE_BASEDIR
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTX_BUILD_TESTS=OFF \
    -DVTX_BUILD_BENCH=ON -DVTX_WERROR=ON >/dev/null
cmake --build build/bench --target vtx_bench_backlog
build/bench/vtx_bench_backlog "$@"
