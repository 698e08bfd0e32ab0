#!/bin/sh
# Installs what the build needs on Debian 12, when it is missing.
#   setup-debian.sh native   compiler, CMake, Ninja, CLI11 (the demo and the tools), libusb and
#                            pkg-config (the real device over USB)
#   setup-debian.sh all      also GoogleTest, python-can, mingw-w64 (32 and 64 bits), 64-bit
#                            Wine, NSIS, pkg-config and dpkg-dev, umockdev, Qt's J2534 plugin
#                            (every test, the installers and packages); and, optionally,
#                            32-bit Wine
#   setup-debian.sh fuzz     clang with its libFuzzer and sanitizer runtimes, CMake, Ninja and
#                            what the project's configure step needs
# As root it installs with apt-get; otherwise it prints the command to run and fails.
#
# A registry's bad day does not stop it: `apt-get update` is tried up to VTX_APT_ATTEMPTS times
# (3), VTX_APT_PAUSE seconds apart (10); when some indexes still fail (a mirror caught in the
# middle of a sync), it goes on with the lists apt has, as apt itself does. Success is judged by
# whether the wanted packages end up installed.
#
# Required packages must install: one that cannot stops the script, named with apt's error. The
# optional part is 32-bit Wine (wine32:i386, with the i386 architecture), which only runs the
# 32-bit DLL's tests; when it cannot be installed the script prints one line,
#   optional: wine32:i386 not installed: <apt's reason>
# and succeeds. scripts/test.sh reads that line for its summary.
set -eu

what=${1:-all}
attempts=${VTX_APT_ATTEMPTS:-3}
pause=${VTX_APT_PAUSE:-10}

native="cmake ninja-build g++ binutils ccache libcli11-dev libusb-1.0-0-dev pkg-config"
# The fuzz build configures the whole project, whose tools need CLI11.
fuzz="clang libclang-rt-14-dev cmake ninja-build libcli11-dev pkg-config"
tests="libgtest-dev libgmock-dev googletest python3-can g++-mingw-w64-i686-posix wine wine64"
# i686-w64-mingw32-objdump: the checks that read the 32-bit DLL's exports, code and imports
tests="$tests binutils-mingw-w64-i686"
tests="$tests g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nsis"
tests="$tests pkg-config dpkg-dev"  # the Linux package's install test
tests="$tests umockdev libumockdev-dev"  # the USB device emulated for the libusb tests
# Qt's J2534 backend, its command-line tool and what a Qt program needs to be built: third-party
# clients of the unsigned-long library
tests="$tests libqt5serialbus5-plugins libqt5serialbus5-bin qtbase5-dev libqt5serialbus5-dev"
optional_32bit="wine32:i386"

case $what in
    native) required=$native optional="" ;;
    all) required="$native $tests" optional=$optional_32bit ;;
    fuzz) required=$fuzz optional="" ;;
    *) echo "usage: $0 native|all|fuzz" >&2; exit 2 ;;
esac

is_installed() {
    case $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) in
        *" installed") return 0 ;;
        *) return 1 ;;
    esac
}

# The packages of the list $1 that are not installed, each after a space.
missing_of() {
    result=""
    for package in $1; do
        is_installed "$package" || result="$result $package"
    done
    echo "$result"
}

missing_required=$(missing_of "$required")
missing_optional=$(missing_of "$optional")
[ -z "$missing_required" ] && [ -z "$missing_optional" ] && exit 0

needs_i386() {
    case $missing_optional in *:i386*) ;; *) return 1 ;; esac
    ! dpkg --print-foreign-architectures | grep -qx i386
}

if [ "$(id -u)" -ne 0 ]; then
    steps=""
    needs_i386 && steps="dpkg --add-architecture i386 && "
    steps="${steps}apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y"
    if [ -z "$missing_required" ]; then
        echo "optional:$missing_optional not installed: not root; to install it:" \
            "sudo sh -c '$steps$missing_optional'"
        exit 0
    fi
    echo "Missing packages:$missing_required$missing_optional" >&2
    echo "Run as root, then run this command again:" >&2
    echo "  sudo sh -c '$steps$missing_required$missing_optional'" >&2
    exit 1
fi

DEBIAN_FRONTEND=noninteractive
export DEBIAN_FRONTEND
output=$(mktemp)
trap 'rm -f "$output"' EXIT

# apt's reason for the failure whose output is in $output: its error lines, on one line; the
# last line when it printed none.
apt_reason() {
    reason=$(sed -n 's/^E: //p' "$output" | tr '\n' ' ' | sed 's/ *$//; s/  */ /g')
    [ -n "$reason" ] || reason=$(grep -v '^ *$' "$output" | tail -n 1)
    echo "${reason:-apt-get printed nothing}"
}

# Runs apt-get with the given arguments, showing its output and keeping it in $output.
run_apt() {
    status=0
    apt-get "$@" >"$output" 2>&1 || status=$?
    cat "$output"
    return "$status"
}

# Leaves in $update_problem apt's reason when the lists could not all be fetched.
update_problem=""
update_package_lists() {
    attempt=1
    while ! run_apt update; do
        if [ "$attempt" -ge "$attempts" ]; then
            update_problem=$(apt_reason)
            echo "apt-get update failed $attempt times ($update_problem); going on with the" \
                "package lists apt has"
            return 0
        fi
        echo "apt-get update failed (attempt $attempt of $attempts); again in $pause s"
        sleep "$pause"
        attempt=$((attempt + 1))
    done
}

# Installs the packages given, all in one go, then one by one those still missing, so that every
# package that can be installed is. Leaves in $failures the lines "PACKAGE: REASON" of those that are
# still not installed.
install_packages() {
    failures=""
    run_apt install -y "$@" || true
    for package in "$@"; do
        is_installed "$package" && continue
        # apt refuses a whole list for one package it cannot install: try the rest one by one.
        if [ $# -eq 1 ] || ! run_apt install -y "$package" || ! is_installed "$package"; then
            failures="$failures$package: $(apt_reason)
"
        fi
    done
}

echo "Installing:$missing_required$missing_optional"
needs_i386 && dpkg --add-architecture i386
update_package_lists

if [ -n "$missing_required" ]; then
    # shellcheck disable=SC2086 # the package list is split on purpose
    install_packages $missing_required
    if [ -n "$failures" ]; then
        printf '%s' "$failures" | while IFS= read -r line; do
            echo "required package ${line%%: *} could not be installed: ${line#*: }" >&2
        done
        exit 1
    fi
fi

if [ -n "$missing_optional" ]; then
    # shellcheck disable=SC2086 # the package list is split on purpose
    install_packages $missing_optional
    context=""
    [ -n "$update_problem" ] && context=" (after apt-get update failed: $update_problem)"
    printf '%s' "$failures" | while IFS= read -r line; do
        echo "optional: ${line%%: *} not installed: ${line#*: }$context"
    done
fi
exit 0
