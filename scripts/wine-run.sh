#!/bin/sh
# Runs a Windows program under Wine with a private, quiet prefix: used by CTest as the
# emulator of the mingw build. The prefix lives in build/wineprefix unless WINEPREFIX is set.
# VTX_WINE_WIDTH=64 (wine64-run.sh sets it) runs 64-bit programs with the 64-bit loader in a
# 64-bit prefix, build/wineprefix64: that loader needs no kernel support for 32-bit x86.
set -e
here=$(cd "$(dirname "$0")" && pwd)
if [ "${VTX_WINE_WIDTH:-}" = 64 ]; then
    : "${WINEPREFIX:=$here/../build/wineprefix64}"
    export WINEARCH=win64
else
    : "${WINEPREFIX:=$here/../build/wineprefix}"
fi
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: the tests are console programs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY

wine=""
candidates="wine wine-stable /usr/lib/wine/wine"
# Debian's wine script picks the 32-bit loader whenever it is installed, even where it cannot run.
[ "${VTX_WINE_WIDTH:-}" = 64 ] && candidates="wine64 /usr/lib/wine/wine64 wine64-stable"
for candidate in $candidates; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wine=$candidate
        break
    fi
done
if [ -z "$wine" ]; then
    echo "wine-run.sh: Wine is not installed" >&2
    exit 127
fi

# The first use creates the prefix; programs started in parallel wait for it.
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/.vtx-ready" ]; then
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.vtx-ready" ]; then
            "$wine" wineboot --init >/dev/null 2>&1 || true
            wineserver -w 2>/dev/null || "${wine%wine*}wineserver" -w 2>/dev/null || true
            touch "$WINEPREFIX/.vtx-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
