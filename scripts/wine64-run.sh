#!/bin/sh
# Runs a 64-bit Windows program under 64-bit Wine, in a prefix of its own (build/wineprefix64
# unless WINEPREFIX is set): CTest's emulator of the mingw64 build.
export VTX_WINE_WIDTH=64
exec "$(cd "$(dirname "$0")" && pwd)/wine-run.sh" "$@"
