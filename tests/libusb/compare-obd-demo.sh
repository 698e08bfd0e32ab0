#!/bin/sh
# The OBD demo over libusb against the emulated device, VTXPTS_DEVICE unset, must print exactly
# what it prints against the simulated device behind the WinUSB path.
#   compare-obd-demo.sh OBD_DEMO LIBRARY HOST
set -u
demo=$1 library=$2 host=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

VTXPTS_DEVICE=sim "$demo" "$library" >"$dir/sim.txt" 2>&1
echo "sim: exit $?"
env -u VTXPTS_DEVICE "$(dirname "$0")/under-umockdev.sh" "$host" "$demo" "$library" \
    >"$dir/libusb.txt" 2>&1
status=$?
echo "libusb: exit $status"
if [ $status -eq 77 ]; then
    cat "$dir/libusb.txt"
    exit 77
fi
if ! diff -u "$dir/sim.txt" "$dir/libusb.txt"; then
    echo "the outputs differ"
    exit 1
fi
cat "$dir/libusb.txt"
[ $status -eq 0 ]
