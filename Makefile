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
#   make fuzz       libFuzzer targets (clang 19, ASan + UBSan) in build-fuzz/, each run
#                   FUZZ_SECONDS (default 60) from tests/fuzz/seeds
#
# Compiler: CXX=... picks one for any target, e.g. `make test CXX=clang++`
# (clang 14), `make sanitize CXX=clang++-19`. Each compiler builds in its own
# directories, named after it (build-clang++-19/, build-asan-clang++-19/,
# build-tsan-clang++-19/), so switching compilers never reuses a build; without
# CXX the build uses the system's c++ (g++) in build/, build-asan/, build-tsan/.
# WERROR=1 turns warnings into errors (CI). ccache, when installed, keeps what
# was compiled for the next build.

MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=
TSAN_LABELS ?= platform|filter|display|histogram|autolevel|transform|measure|colour
FUZZ_SECONDS ?= 60
# The test programs of those labels (tests/<label>/ -> test_<label>): all make tsan builds.
TSAN_TARGETS = $(addprefix test_,$(subst |, ,$(TSAN_LABELS)))

ifeq ($(origin CXX),default)
COMPILER_SUFFIX :=
COMPILER_FLAGS :=
else
COMPILER_SUFFIX := -$(notdir $(firstword $(CXX)))
COMPILER_FLAGS := -DCMAKE_CXX_COMPILER=$(firstword $(CXX))
endif
ifneq ($(WERROR),)
COMPILER_FLAGS += -DORBIMG_WERROR=ON
endif
ifneq ($(shell command -v ccache 2>/dev/null),)
COMPILER_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
endif
BUILD_DIR := build$(COMPILER_SUFFIX)
ASAN_DIR := build-asan$(COMPILER_SUFFIX)
TSAN_DIR := build-tsan$(COMPILER_SUFFIX)
CONFIGURE = cmake -S . $(COMPILER_FLAGS) $(CMAKE_FLAGS)

.PHONY: all deps build test sanitize tsan bench demo install clean test-arm64 fuzz

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@$(CONFIGURE) -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

sanitize: deps
	@$(CONFIGURE) -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBIMG_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

tsan: deps
	@$(CONFIGURE) -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBIMG_SANITIZE=thread -DORBIMG_BUILD_TOOLS=OFF >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -L "$(TSAN_LABELS)"

bench:
	@scripts/install-deps.sh --bench
	@$(CONFIGURE) -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DORBIMG_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target orbimg_bench
	./$(BUILD_DIR)/bench/orbimg_bench $(if $(BENCH_FILTER),--benchmark_filter='$(BENCH_FILTER)') $(BENCH_ARGS)

demo: build
	./$(BUILD_DIR)/tools/orbimg/orbimg demo demo-out

fuzz:
	@scripts/install-deps.sh --fuzz
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-19 \
		-DORBIMG_SANITIZE=address,undefined -DORBIMG_BUILD_FUZZ=ON -DORBIMG_BUILD_TESTS=OFF \
		-DORBIMG_BUILD_EXAMPLES=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_api fuzz_load fuzz_options
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh build-fuzz

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-tsan build-*/

# ---- 64-bit ARM -------------------------------------------------------------------
# Cross-built with Debian's aarch64 compiler and arm64 libraries, tested under
# qemu-aarch64 with the "max" processor: NEON, SVE and SVE2 with 512-bit
# vectors, where the tests force each build of the vector kernels. The tests
# of the vector builds run again with 128- and 256-bit SVE vectors, which
# Highway serves with builds of their own (SVE2_128, SVE_256). Timings under
# the emulator mean nothing.
ARM_CTEST = ctest --test-dir build-arm64 --output-on-failure -j $(JOBS)

test-arm64:
	@scripts/install-deps.sh --arm64
	@cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
		$(filter-out -DCMAKE_CXX_COMPILER=%,$(COMPILER_FLAGS)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-arm64 -j $(JOBS)
	QEMU_CPU=max $(ARM_CTEST)
	QEMU_CPU=max,sve-default-vector-length=16 $(ARM_CTEST) -R '^Simd/'
	QEMU_CPU=max,sve-default-vector-length=32 $(ARM_CTEST) -R '^Simd/'
