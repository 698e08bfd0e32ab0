#!/bin/sh
# soak.sh MINUTES: builds the soak program and runs it for that many minutes against the
# simulated device: traffic both ways at about half the bus, periodic messages, filter churn,
# an unplug and replug every minute. It prints a sample of its memory, threads and descriptors
# every 10 s and fails on loss, damage, unexpected statuses, or growth after warm-up (the first
# 2 minutes). Not part of CI.
#
#   VTX_SOAK_BUILD_DIR  build directory (default build/debug, configured with the debug preset
#                       if it is not there yet)
#   VTX_SOAK_WARMUP     warm-up in minutes (default 2)
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 MINUTES" >&2
    exit 2
fi
minutes=$1
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VTX_SOAK_BUILD_DIR:-$root/build/debug}
warmup=${VTX_SOAK_WARMUP:-2}

if [ ! -f "$dir/build.ninja" ] && [ ! -f "$dir/Makefile" ]; then
    (cd "$root" && cmake --preset debug -B "$dir" >/dev/null)
fi
cmake --build "$dir" -j 2 --target vtx_soak
echo "soak: $minutes min, warm-up $warmup min"
exec "$dir/vtx_soak" "$minutes" "$warmup"
