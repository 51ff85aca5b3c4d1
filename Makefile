# orbimg: the project's front door.
#   make            Release build in build/
#   make test       dependencies, build, all tests
#   make sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/, all tests
#   make tsan       ThreadSanitizer build in build-tsan/, the threaded tests
#   make bench      benchmarks (Release, with OpenCV comparisons when available);
#                   BENCH_FILTER=regex picks some, BENCH_ARGS passes more flags
#   make demo       build and run the demo
#   make install    install under PREFIX (default /usr/local)
#   make fuzz       libFuzzer targets (clang 19, ASan + UBSan) in build-fuzz/, each run
#                   FUZZ_SECONDS (default 60) from generated seeds

MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=
TSAN_LABELS ?= platform|filter|display|histogram
FUZZ_SECONDS ?= 60

.PHONY: all deps build test sanitize tsan bench demo install clean fuzz

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

fuzz:
	@scripts/install-deps.sh --fuzz
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-19 \
		-DORBIMG_SANITIZE=address,undefined -DORBIMG_BUILD_FUZZ=ON -DORBIMG_BUILD_TESTS=OFF \
		-DORBIMG_BUILD_EXAMPLES=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_api fuzz_load fuzz_options fuzz_seeds
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh build-fuzz

install: build
	cmake --install build --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-tsan build-fuzz
