# Cross build for 64-bit ARM Linux with Debian's aarch64 cross compiler and
# the arm64 libraries of a multiarch system (scripts/install-deps.sh --arm64);
# programs run under qemu-aarch64, also for ctest and GoogleTest discovery.
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
# The emulated processor is $QEMU_CPU when the tests run (make test-arm64 sets
# it to "max", which has SVE and SVE2 as well as NEON).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The arm64 packages' CMake files, libraries and pkg-config files; never the
# build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

find_program(ORBIMG_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBIMG_QEMU_AARCH64})
