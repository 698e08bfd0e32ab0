#!/bin/sh
# Builds the Windows installer, vtxpts-setup-VERSION.exe, with NSIS (makensis).
#
#   package-windows.sh [-o OUTPUT_DIR] [BUILD_DIR...]
#
# Without BUILD_DIR it configures the presets mingw (vtxpts32.dll) and mingw64 (vtxpts64.dll)
# without tests in build folders of the packaging's own, build/package/mingw and
# build/package/mingw64 (the presets' own folders, which the tests use, are left alone), builds
# the library and ptcan only, and packages both. With BUILD_DIRs it takes the files those builds
# made, as they are: each build's windows-package.txt names its library, its ptcan.exe and the
# project version. The installer holds every library it is given; ptcan.exe
# is the 64-bit one when there is a 64-bit build. With a 64-bit library it is a 64-bit installer
# (64-bit Windows only); with only vtxpts32.dll a 32-bit installer.
# The installer goes to OUTPUT_DIR (default build/package); its path is the last line printed.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
output_dir=$source_dir/build/package

fail() {
    printf 'package-windows.sh: %s\n' "$1" >&2
    exit 1
}

while getopts "o:" option; do
    case "$option" in
        o) output_dir=$OPTARG ;;
        *) echo "usage: $0 [-o OUTPUT_DIR] [BUILD_DIR...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

command -v makensis >/dev/null 2>&1 || fail "makensis is not installed (Debian package nsis)"

# Configures and builds one Windows preset's library and ptcan, without tests, in
# build/package/PRESET; prints that folder.
build_preset() {
    preset_dir=$source_dir/build/package/$1
    (cd "$source_dir" && cmake --preset "$1" -B "$preset_dir" -DVTX_BUILD_TESTS=OFF) >&2
    cmake --build "$preset_dir" --target vtxpts32 ptcan -j2 >&2
    echo "$preset_dir"
}

# The value of KEY in a build's windows-package.txt.
package_value() {
    sed -n "s/^$2=//p" "$1/windows-package.txt"
}

if [ $# -eq 0 ]; then
    set -- "$(build_preset mingw)" "$(build_preset mingw64)"
fi

version=""
defines=""
ptcan32=""
ptcan64=""
for build in "$@"; do
    [ -f "$build/windows-package.txt" ] ||
        fail "$build is no Windows build (no windows-package.txt)"
    library=$(package_value "$build" library)
    ptcan=$(package_value "$build" ptcan)
    build_version=$(package_value "$build" version)
    [ -f "$library" ] || fail "$library is not built"
    [ -f "$ptcan" ] || fail "$ptcan is not built"
    if [ -n "$version" ] && [ "$version" != "$build_version" ]; then
        fail "the builds disagree on the version: $version and $build_version"
    fi
    version=$build_version
    case "$(basename "$library")" in
        vtxpts64.dll) defines="$defines -DDLL64=$library"; ptcan64=$ptcan ;;
        vtxpts32.dll) defines="$defines -DDLL32=$library"; ptcan32=$ptcan ;;
        *) fail "$library: neither vtxpts32.dll nor vtxpts64.dll" ;;
    esac
done
[ -n "$version" ] || fail "no build given"

ptcan=${ptcan64:-$ptcan32}
mkdir -p "$output_dir"
installer=$(cd "$output_dir" && pwd)/vtxpts-setup-$version.exe
# The paths hold no spaces (build folders of this tree); makensis takes each -D as one word.
# shellcheck disable=SC2086
makensis -V2 -WX -DVERSION="$version" $defines -DPTCAN="$ptcan" -DOUTFILE="$installer" \
    "$source_dir/install/windows/installer.nsi" >&2
echo "$installer"
