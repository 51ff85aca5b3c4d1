# orbimg: the project's front door.
#   make            Release build in build/
#   make test       dependencies, build, all tests
#   make sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/, all tests
#   make tsan       ThreadSanitizer build in build-tsan/, the threaded tests
#   make bench      benchmarks (Release, with OpenCV comparisons when available);
#                   BENCH_FILTER=regex picks some, BENCH_ARGS passes more flags
#   make demo       build and run the demo
#   make install    install under PREFIX (default /usr/local)
#   make test-arm64 64-bit ARM: cross build in build-arm64/, all tests under
#                   qemu-aarch64 (NEON and SVE)

MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=
TSAN_LABELS ?= platform|filter|display|histogram

.PHONY: all deps build test sanitize tsan bench demo install clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

sanitize: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBIMG_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir build-asan --output-on-failure -j $(JOBS)

tsan: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBIMG_SANITIZE=thread -DORBIMG_BUILD_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -L "$(TSAN_LABELS)"

bench:
	@scripts/install-deps.sh --bench
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORBIMG_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target orbimg_bench
	./build/bench/orbimg_bench $(if $(BENCH_FILTER),--benchmark_filter='$(BENCH_FILTER)') $(BENCH_ARGS)

demo: build
	./build/tools/orbimg/orbimg demo demo-out

install: build
	cmake --install build --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-tsan build-arm64

# ---- 64-bit ARM -------------------------------------------------------------------
# Cross-built with Debian's aarch64 compiler and arm64 libraries, tested under
# qemu-aarch64 with the "max" processor: NEON, SVE and SVE2 with 512-bit
# vectors, where the tests force each build of the vector kernels. The tests
# of the vector builds run again with 128- and 256-bit SVE vectors, which
# Highway serves with builds of their own (SVE2_128, SVE_256). Timings under
# the emulator mean nothing.
.PHONY: test-arm64
ARM_CTEST = ctest --test-dir build-arm64 --output-on-failure -j $(JOBS)

test-arm64:
	@scripts/install-deps.sh --arm64
	@cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
		$(CMAKE_FLAGS) >/dev/null
	@cmake --build build-arm64 -j $(JOBS)
	QEMU_CPU=max $(ARM_CTEST)
	QEMU_CPU=max,sve-default-vector-length=16 $(ARM_CTEST) -R '^Simd/'
	QEMU_CPU=max,sve-default-vector-length=32 $(ARM_CTEST) -R '^Simd/'
