#!/bin/sh
# Runs a program under umockdev's preload library, as the libusb tests need; exits 77 (CTest's
# skip) with the reason when umockdev is not installed.
if ! command -v umockdev-wrapper >/dev/null 2>&1; then
    echo "SKIP: umockdev-wrapper is not installed (Debian: umockdev)"
    exit 77
fi
exec umockdev-wrapper "$@"
