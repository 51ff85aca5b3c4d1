#!/bin/sh
# Installs the Debian packages the project needs, when they are missing.
#   scripts/install-deps.sh          build, test and tool dependencies
#   scripts/install-deps.sh --bench  also the benchmark comparisons (OpenCV);
#                                    a failure there is reported, not fatal
#   scripts/install-deps.sh --fuzz   also clang 19 with its libFuzzer and
#                                    sanitizer runtimes, and its symbolizer (make fuzz)
# As root, missing packages are installed with apt-get; otherwise the one
# command to run is printed and the script fails. Quiet when all is there.
set -eu

required="cmake make g++ pkg-config libtbb-dev libgtest-dev libbenchmark-dev libcfitsio-dev libpng-dev libjpeg-dev zlib1g-dev"
optional=""
if [ "${1:-}" = "--bench" ]; then
    optional="libopencv-dev"
fi
if [ "${1:-}" = "--fuzz" ]; then
    required="$required clang-19 libclang-rt-19-dev llvm-19"
fi

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
    # shellcheck disable=SC2086
    if ! apt-get install -y -q --no-install-recommends $1 >/dev/null; then
        apt-get update -q >/dev/null
        # shellcheck disable=SC2086
        apt-get install -y -q --no-install-recommends $1 >/dev/null
    fi
}

missing=$(missing_of $required)
if [ -n "$missing" ]; then
    install "$missing" || exit 1
fi

if [ -n "$optional" ]; then
    missing=$(missing_of $optional)
    if [ -n "$missing" ]; then
        install "$missing" || echo "optional packages not installed:$missing (comparisons skipped)" >&2
    fi
fi
