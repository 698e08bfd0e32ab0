#!/bin/sh
# Installs what the build needs on Debian 12, when it is missing.
#   setup-debian.sh native   compiler, CMake, Ninja, CLI11 (the demo and the tools), libusb and
#                            pkg-config (the real device over USB)
#   setup-debian.sh all      also GoogleTest, python-can, mingw-w64 (32 and 64 bits), Wine (32
#                            and 64 bits), NSIS, pkg-config and dpkg-dev, umockdev (every test,
#                            the installers and packages)
#   setup-debian.sh fuzz     clang with its libFuzzer and sanitizer runtimes, CMake, Ninja
# As root it installs with apt-get; otherwise it prints the command to run and fails.
set -eu

what=${1:-all}
native="cmake ninja-build g++ binutils ccache libcli11-dev libusb-1.0-0-dev pkg-config"
fuzz="clang libclang-rt-14-dev cmake ninja-build"
tests="libgtest-dev libgmock-dev googletest python3-can g++-mingw-w64-i686-posix wine wine32:i386"
# i686-w64-mingw32-objdump: the checks that read the 32-bit DLL's exports, code and imports
tests="$tests binutils-mingw-w64-i686"
tests="$tests g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis"
tests="$tests pkg-config dpkg-dev"  # the Linux package's install test
tests="$tests umockdev libumockdev-dev"  # the USB device emulated for the libusb tests

case $what in
    native) wanted=$native ;;
    all) wanted="$native $tests" ;;
    fuzz) wanted=$fuzz ;;
    *) echo "usage: $0 native|all|fuzz" >&2; exit 2 ;;
esac

missing=""
for package in $wanted; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case $status in
        *" installed") ;;
        *) missing="$missing $package" ;;
    esac
done
[ -z "$missing" ] && exit 0

needs_i386=false
case $missing in *:i386*) needs_i386=true ;; esac
if $needs_i386 && dpkg --print-foreign-architectures | grep -qx i386; then
    needs_i386=false
fi

steps=""
$needs_i386 && steps="dpkg --add-architecture i386 && "
steps="${steps}apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y$missing"

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages:$missing" >&2
    echo "Run as root, then run this command again:" >&2
    echo "  sudo sh -c '$steps'" >&2
    exit 1
fi

echo "Installing:$missing"
sh -c "$steps"
