#!/bin/sh
# Runs a Windows program under Wine with a private, quiet prefix: used by CTest as the
# emulator of the mingw build. The prefix lives in build/wineprefix unless WINEPREFIX is set.
set -e
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../build/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: the tests are console programs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY

wine=""
for candidate in wine wine-stable /usr/lib/wine/wine; do
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
