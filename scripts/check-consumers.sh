#!/bin/sh
# Builds and runs a small host program against orbimg three ways: installed
# with find_package, installed with pkg-config, and through add_subdirectory.
#   scripts/check-consumers.sh BUILD_DIR WORK_DIR
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$src/tests/consumer" -B "$work/find" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/find" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:${LD_LIBRARY_PATH:-}" "$work/find/host"

libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs orbimg)
# shellcheck disable=SC2086
c++ "$src/tests/consumer/host.cpp" $flags -o "$work/pkgconfig-host"
LD_LIBRARY_PATH="$(dirname "$libdir"):${LD_LIBRARY_PATH:-}" "$work/pkgconfig-host"

cmake -S "$src/tests/consumer" -B "$work/subdir" -DORBIMG_SOURCE_DIR="$src" >/dev/null
cmake --build "$work/subdir" -j 2 >/dev/null
"$work/subdir/host"
# Not top level: the library alone, no tests, tools or benchmarks.
if [ -e "$work/subdir/orbimg/tests" ] || [ -e "$work/subdir/orbimg/tools" ]; then
    echo "add_subdirectory built more than the library" >&2
    exit 1
fi
echo "consumers: find_package, pkg-config and add_subdirectory all work"
