#!/bin/sh
# Installs the Debian packages the project needs, when they are missing.
#   scripts/install-deps.sh          build, test and tool dependencies
#   scripts/install-deps.sh --bench  also the benchmark comparisons (OpenCV, and
#                                    SEP with NumPy for bench/stars_vs_sep.py;
#                                    astropy, NumPy and OpenCV's Python module
#                                    for bench/tool100.sh) and perf for
#                                    profiling; a failure there is reported,
#                                    not fatal
#   scripts/install-deps.sh --fuzz   also clang 19's symbolizer (make fuzz; clang 19
#                                    and its libFuzzer come with the required set)
#   scripts/install-deps.sh --arm64  also the 64-bit ARM cross build and its
#                                    emulator: the aarch64 cross compiler,
#                                    qemu-user and the arm64 libraries (adds
#                                    the arm64 architecture to dpkg)
# As root, missing packages are installed with apt-get; otherwise the one
# command to run is printed and the script fails. Quiet when all is there.
set -eu

# Compilers: g++ 12 (the default), clang 14 (Debian's clang) and clang 19 with
# the run-times of its sanitizers (clang 14 brings its own). Every one builds
# and tests the project (make test CXX=clang++-19), and the consumer check
# builds a host program with g++ and clang++. clang-format (14) keeps the house
# style (scripts/format.sh).
compilers="g++ clang clang-19 libclang-rt-19-dev clang-format"
required="cmake make ccache pkg-config $compilers libtbb-dev libgtest-dev libbenchmark-dev libcfitsio-dev libpng-dev libjpeg-dev libhwy-dev zlib1g-dev libcli11-dev"
optional=""
arm64=""
case "${1:-}" in
--bench) optional="libopencv-dev python3-numpy python3-sep python3-astropy python3-opencv linux-perf" ;;
--fuzz) required="$required llvm-19" ;;
--arm64)
    arm64="g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user libtbb-dev:arm64 libgtest-dev:arm64"
    arm64="$arm64 libcfitsio-dev:arm64 libpng-dev:arm64 libjpeg-dev:arm64 libhwy-dev:arm64 zlib1g-dev:arm64"
    ;;
esac

missing_of() {
    out=""
    for pkg in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
        case "$status" in
            *"install ok installed"*) ;;
            *) out="$out $pkg" ;;
        esac
    done
    echo "$out"
}

install() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages:$1" >&2
        echo "run: sudo apt-get install -y$1" >&2
        return 1
    fi
    echo "installing:$1"
    export DEBIAN_FRONTEND=noninteractive
    flags="-y -q --no-install-recommends${NO_REMOVE:+ --no-remove}"
    # shellcheck disable=SC2086
    if ! apt-get install $flags $1 >/dev/null; then
        apt-get update -q >/dev/null || echo "apt-get update reported errors (other repositories?)" >&2
        # shellcheck disable=SC2086
        apt-get install $flags $1 >/dev/null
    fi
}

missing=$(missing_of $required)
if [ -n "$missing" ]; then
    install "$missing" || exit 1
fi

if [ -n "$arm64" ]; then
    missing=$(missing_of $arm64)
    if [ -n "$missing" ] && [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
        echo "adding the arm64 architecture"
        dpkg --add-architecture arm64
        # Repositories other than Debian's may have no arm64 lists; their
        # errors are not ours (the install below reports what is missing).
        apt-get update -q >/dev/null 2>&1 || echo "apt-get update reported errors (other repositories?)" >&2
    fi
    if [ -n "$missing" ]; then
        # --no-remove: never trade an installed amd64 package for its arm64 twin.
        NO_REMOVE=1 install "$missing" || exit 1
    fi
fi

if [ -n "$optional" ]; then
    missing=$(missing_of $optional)
    if [ -n "$missing" ]; then
        install "$missing" || echo "optional packages not installed:$missing (comparisons skipped)" >&2
    fi
fi
