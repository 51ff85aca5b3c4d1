#!/bin/sh
# Builds and runs the host program tests/consumer/host.cpp against orbimg the
# ways a host project uses it, each with g++ and with clang++:
#   shared   the library of BUILD_DIR, installed; the host found by
#            find_package and by pkg-config
#   static   the library built static through add_subdirectory (host linked
#            there too), then installed; the host found by find_package
#            (which must find TBB itself) and by pkg-config --static
# The hosts are compiled for this processor (-march=native: fused multiply-add
# available) and let the compiler fuse: g++ with -ffp-contract=fast, clang++
# with its default (it fuses a * b + c within an expression). No rounding may
# depend on how a host compiles the headers: every host must print
# tests/consumer/host_expected.txt exactly.
#   scripts/check-consumers.sh BUILD_DIR WORK_DIR [LIBRARY_CXX [LAUNCHER [WERROR]]]
# LIBRARY_CXX (default c++) compiles the static library, through LAUNCHER
# (e.g. ccache) when one is given, with ORBIMG_WERROR=WERROR (default OFF):
# the flags of BUILD_DIR, so that a compiler cache can serve it.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=$1
work=$2
library_cxx=${3:-c++}
launcher=${4:-}
werror=${5:-OFF}
expected="$src/tests/consumer/host_expected.txt"
rm -rf "$work"
mkdir -p "$work"

host_flags() {
    case "$1" in
        clang*) echo "-O2 -march=native" ;;
        *) echo "-O2 -march=native -ffp-contract=fast" ;;
    esac
}

# run NAME LIBDIR PROGRAM: runs a host and compares what it prints with the
# expected.
run() {
    if ! env LD_LIBRARY_PATH="$2:${LD_LIBRARY_PATH:-}" "$3" >"$work/$1.out" 2>&1; then
        echo "host $1 failed:" >&2
        cat "$work/$1.out" >&2
        exit 1
    fi
    if ! diff -u "$expected" "$work/$1.out" >&2; then
        echo "host $1 printed other numbers" >&2
        exit 1
    fi
}

# libdir PREFIX: the library folder of an installed prefix.
libdir() {
    dirname "$(ls -d "$1"/lib*/pkgconfig | head -n 1)"
}

# cmake_host NAME CXX PREFIX: the host by find_package against an installed prefix.
cmake_host() {
    cmake -S "$src/tests/consumer" -B "$work/$1" -DCMAKE_CXX_COMPILER="$2" -DCMAKE_CXX_FLAGS="$(host_flags "$2")" \
        -DCMAKE_PREFIX_PATH="$3" >/dev/null
    cmake --build "$work/$1" >/dev/null
    run "$1" "$(libdir "$3")" "$work/$1/host"
}

# pkgconfig_host NAME CXX PREFIX [--static]
pkgconfig_host() {
    lib=$(libdir "$3")
    flags=$(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config ${4:-} --cflags --libs orbimg)
    # shellcheck disable=SC2046,SC2086
    "$2" $(host_flags "$2") "$src/tests/consumer/host.cpp" $flags -o "$work/$1"
    run "$1" "$lib" "$work/$1"
}

# ---- shared ----
cmake --install "$build" --prefix "$work/shared" >/dev/null
for cxx in g++ clang++; do
    cmake_host "shared-cmake-$cxx" "$cxx" "$work/shared"
    pkgconfig_host "shared-pkgconfig-$cxx" "$cxx" "$work/shared"
done

# ---- static ----
cmake -S "$src/tests/consumer" -B "$work/subdir" -DORBIMG_SOURCE_DIR="$src" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$library_cxx" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
    -DORBIMG_WERROR="$werror" >/dev/null
cmake --build "$work/subdir" -j 2 >/dev/null
# Not top level: the library alone, no tests, tools or benchmarks.
if [ -e "$work/subdir/orbimg/tests" ] || [ -e "$work/subdir/orbimg/tools" ]; then
    echo "add_subdirectory built more than the library" >&2
    exit 1
fi
run subdir-static "" "$work/subdir/host"
cmake --install "$work/subdir" --prefix "$work/static" >/dev/null
if [ -n "$(find "$work/static" -name 'liborbimg.so*')" ] || [ -z "$(find "$work/static" -name liborbimg.a)" ]; then
    echo "the static install holds no liborbimg.a, or a liborbimg.so" >&2
    exit 1
fi
for cxx in g++ clang++; do
    cmake_host "static-cmake-$cxx" "$cxx" "$work/static"
    pkgconfig_host "static-pkgconfig-$cxx" "$cxx" "$work/static" --static
done
if ldd "$work/static-cmake-g++/host" | grep -q orbimg; then
    echo "the static host loads a shared orbimg" >&2
    exit 1
fi

echo "consumers: g++ and clang++ hosts print the same numbers, shared and static (find_package, pkg-config," \
    "add_subdirectory)"
