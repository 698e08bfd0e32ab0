#!/bin/sh
# Builds the library and the example, then runs it against the simulated device: the library is
# loaded by path as an application loads it, opens the simulated USB-to-CAN interface, connects
# ISO15765, asks the simulated ECU for engine speed and vehicle speed and reads the VIN.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh native
cmake --preset release >/dev/null
cmake --build --preset release

echo
echo "=== obd_demo against the simulated device (VTXPTS_DEVICE=sim) ==="
VTXPTS_DEVICE=sim build/release/obd_demo build/release/libvtxpts32.so

echo
echo "=== without a device driver (VTXPTS_DEVICE unset) ==="
build/release/ptcan build/release/libvtxpts32.so open || true
