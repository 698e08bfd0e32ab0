#!/bin/sh
# Qt's command-line CAN tool, canbusutil, with its J2534 plugin listening through the library
# against the simulated device: the traffic generator's frames reach it in order with none lost,
# first with an 11-bit identifier, then with a 29-bit one. Each listener runs until it has shown
# enough frames (or a hang guard ends it).
#   canbusutil_test.sh CANBUSUTIL LIBRARY
set -u
canbusutil=$1
library=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VTXPTS_DEVICE=sim VTXPTS_SIM_TRAFFIC=500 QT_QPA_PLATFORM=offscreen
passed=0
failed=0

# Listens with the generator's identifier set to $1 until 20 frames were shown; prints them.
listen() {
    : >"$work/out"  # there before the listener writes it, for the loop below to count from
    VTXPTS_SIM_TRAFFIC_ID=$1 "$canbusutil" -l passthrucan "$library" >"$work/out" 2>&1 &
    listener=$!
    waited=0
    while [ "$(grep -c '\[8\]' "$work/out")" -lt 20 ] && [ "$waited" -lt 600 ] &&
        kill -0 "$listener" 2>/dev/null; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -TERM "$listener" 2>/dev/null
    wait "$listener" 2>/dev/null
    cat "$work/out"
}

# Checks that the listener showed at least 20 frames of identifier $1 (as canbusutil prints it)
# with consecutive sequence numbers from the first, and nothing else.
check() {
    what=$1
    id=$2
    output=$(listen "$3")
    frames=$(echo "$output" | grep -c '\[8\]')
    others=$(echo "$output" | grep '\[8\]' | grep -vc "^ *$id  *\[8\]")
    gaps=0
    last=""
    for number in $(echo "$output" | grep '\[8\]' | awk '{ print $3 $4 $5 $6 }'); do
        [ -n "$last" ] && [ $((0x$number)) -ne $((last + 1)) ] && gaps=$((gaps + 1))
        last=$((0x$number))
    done
    if [ "$frames" -ge 20 ] && [ "$others" -eq 0 ] && [ "$gaps" -eq 0 ] &&
        ! echo "$output" | grep -qi error; then
        echo "ok: $what ($frames frames)"
        passed=$((passed + 1))
    else
        echo "FAILED: $what: $frames frames, $others of another identifier, $gaps gaps"
        echo "$output" | head -n 30 | sed 's/^/  | /'
        failed=$((failed + 1))
    fi
}

check "11-bit frames in order" 100 100
check "29-bit frames in order" 18FEF100 18FEF100
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
