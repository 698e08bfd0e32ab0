#!/bin/sh
# Runs scripts/setup-debian.sh with apt-get, dpkg, dpkg-query, id and sleep replaced by the
# stand-ins of standins/ (no network, nothing installed on this machine), one case a function,
# and checks its exit status, what it printed and what it asked apt for.
#   setup_debian_test.sh [SETUP_SCRIPT]
set -u
here=$(cd "$(dirname "$0")" && pwd)
setup=${1:-$here/../../scripts/setup-debian.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# A fresh state: nothing installed, no foreign architecture, update outcomes as given.
fresh_state() {
    STANDIN_STATE=$work/state
    export STANDIN_STATE
    rm -rf "$STANDIN_STATE"
    mkdir -p "$STANDIN_STATE"
    : >"$STANDIN_STATE/installed"
    : >"$STANDIN_STATE/architectures"
    : >"$STANDIN_STATE/broken"
    : >"$STANDIN_STATE/calls"
    printf '%s\n' "$@" >"$STANDIN_STATE/update-outcomes"
}

# Runs the setup script on MODE; leaves its exit status in $status and its output in $out.
run_setup() {
    status=0
    PATH=$here/standins:$PATH VTX_APT_PAUSE=7 sh "$setup" "$1" >"$work/out" 2>&1 || status=$?
    out=$(cat "$work/out")
}

fail() {
    echo "  FAILED: $*"
    echo "  --- output ---"
    sed 's/^/  | /' "$work/out"
    echo "  --- apt calls ---"
    sed 's/^/  | /' "$STANDIN_STATE/calls"
    case_ok=false
}
expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
expect_line() { grep -qxF -- "$1" "$work/out" || fail "no line: $1"; }
expect_text() { grep -qF -- "$1" "$work/out" || fail "no text: $1"; }
expect_no_text() { ! grep -qF -- "$1" "$work/out" || fail "unexpected text: $1"; }
expect_installed() {
    grep -qx -- "$1" "$STANDIN_STATE/installed" || fail "$1 is not installed"
}
expect_not_installed() {
    ! grep -qx -- "$1" "$STANDIN_STATE/installed" || fail "$1 is installed"
}
expect_calls() {
    count=$(grep -c -x -- "$1" "$STANDIN_STATE/calls")
    [ "$count" -eq "$2" ] || fail "'$1' called $count times, expected $2"
}

case_update_fails_once_then_succeeds() {
    fresh_state fail ok
    run_setup all
    expect_status 0
    expect_line "apt-get update failed (attempt 1 of 3); again in 7 s"
    expect_calls "apt-get update" 2
    expect_calls "sleep 7" 1
    expect_installed nsis
    expect_installed wine64
    expect_installed wine32:i386
    expect_calls "dpkg --add-architecture i386" 1
    expect_no_text "optional:"
}

case_update_ignores_indexes_and_the_install_goes_on() {
    fresh_state ignored
    run_setup all
    expect_status 0
    expect_text "apt-get update failed 3 times (Failed to fetch i386/Packages.xz File has"
    expect_text "going on with the package lists apt has"
    expect_calls "apt-get update" 3
    expect_installed g++-mingw-w64-i686-posix
    expect_installed wine32:i386
}

case_optional_package_cannot_be_installed() {
    fresh_state ignored
    echo "wine32:i386 Unable to correct problems, you have held broken packages." \
        >"$STANDIN_STATE/broken"
    run_setup all
    expect_status 0
    expect_line "optional: wine32:i386 not installed: Unable to correct problems, you have held\
 broken packages. (after apt-get update failed: Failed to fetch i386/Packages.xz File has\
 unexpected size Some index files failed to download. They have been ignored, or old ones used\
 instead.)"
    expect_installed wine64
    expect_installed libqt5serialbus5-plugins
    expect_not_installed wine32:i386
    # A second run tries the optional part again, and nothing else.
    : >"$STANDIN_STATE/calls"
    run_setup all
    expect_status 0
    expect_line "Installing: wine32:i386"
    expect_calls "apt-get install -y wine32:i386" 1
    expect_calls "dpkg --add-architecture i386" 0
}

case_required_package_cannot_be_installed() {
    fresh_state ok
    echo "nsis Unable to locate package nsis" >"$STANDIN_STATE/broken"
    run_setup all
    expect_status 1
    expect_line "required package nsis could not be installed: Unable to locate package nsis"
    # Every other required package is installed, one by one, before it stops.
    expect_installed wine64
    expect_installed cmake
    expect_not_installed nsis
    expect_not_installed wine32:i386
}

case_nothing_missing_asks_apt_nothing() {
    fresh_state ok
    run_setup all
    expect_status 0
    : >"$STANDIN_STATE/calls"
    run_setup all
    expect_status 0
    [ -z "$out" ] || fail "printed: $out"
    [ ! -s "$STANDIN_STATE/calls" ] || fail "apt or dpkg was called"
}

case_native_needs_no_optional_part() {
    fresh_state ok
    echo "wine32:i386 Unable to locate package wine32:i386" >"$STANDIN_STATE/broken"
    run_setup native
    expect_status 0
    expect_installed cmake
    expect_installed libcli11-dev
    expect_not_installed wine64
    expect_no_text "wine32"
    expect_calls "dpkg --add-architecture i386" 0
}

case_without_root_prints_the_command() {
    fresh_state ok
    STANDIN_UID=1000 run_setup native
    expect_status 1
    expect_text "Run as root, then run this command again:"
    expect_text "apt-get install -y cmake ninja-build"
    [ ! -s "$STANDIN_STATE/calls" ] || fail "apt or dpkg changed something"
}

for test_case in $(sed -n 's/^\(case_[a-z_]*\)() {$/\1/p' "$0"); do
    case_ok=true
    $test_case
    if $case_ok; then
        passed=$((passed + 1))
        echo "ok: $test_case"
    else
        failed=$((failed + 1))
        echo "FAILED: $test_case"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
