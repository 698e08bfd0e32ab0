#!/bin/sh
# Builds the packages: for Linux a .deb and a .tar.gz (library with its SONAME links, header,
# pkg-config file, CMake package config, the J2534 descriptor /etc/passthru/vtxpts.json, the udev
# rule, ptcan and the examples), from a release build in build/package installed under /usr;
# then the Windows installer, through scripts/package-windows.sh when it is there (its builds go
# to build/package/mingw and build/package/mingw64).
# The Linux packages' paths are printed before the Windows part starts; the installer's path is
# the last line.
#
#   scripts/package.sh
set -eu
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build_dir=$source_dir/build/package
jobs=${JOBS:-2}

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVTX_BUILD_TESTS=OFF -DVTX_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build_dir" -j "$jobs"
rm -f "$build_dir"/vtxpts_*.deb "$build_dir"/vtxpts-*.tar.gz
(cd "$build_dir" && cpack -G "DEB;TGZ" -B "$build_dir")

echo
echo "Linux packages:"
for package in "$build_dir"/vtxpts_*.deb "$build_dir"/vtxpts-*.tar.gz; do
    echo "  $package"
done

if [ -f scripts/package-windows.sh ]; then
    echo
    sh scripts/package-windows.sh -o "$build_dir"
fi
