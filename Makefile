# Thin wrapper around CMake; see README.md.
BUILD      ?= build
BUILD_TSAN ?= build-tsan
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
CMAKE_GEN  := -G Ninja
# Seconds per fuzz target and of the soak: make fuzz and make soak, and the
# shorter runs of make check.
FUZZ_SECONDS       ?= 300
SOAK_SECONDS       ?= 600
CHECK_FUZZ_SECONDS ?= 20
CHECK_SOAK_SECONDS ?= 60

.PHONY: all deps configure build test check check-tsan check-asan fuzz soak demo serve bench install \
	package format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The plain suite of the normal build, as in the edit loop.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Every test of the normal build, then the threaded tests again under the
# thread sanitizer, the whole suite under the address and undefined-behaviour
# sanitizers, a short run of each fuzz target, a minute of the soak, and the
# Windows builds with their tests under Wine.
check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory check-tsan
	$(MAKE) --no-print-directory check-asan
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(CHECK_FUZZ_SECONDS)
	$(MAKE) --no-print-directory soak SOAK_SECONDS=$(CHECK_SOAK_SECONDS)
	JOBS=$(JOBS) bash scripts/windows-check.sh
	JOBS=$(JOBS) bash scripts/consumer-check.sh
	@if [ -s build-win32/windows-check-skipped.txt ]; then cat build-win32/windows-check-skipped.txt; fi

check-tsan: deps
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNADIXQ_SANITIZE=thread -DNADIXQ_BUILD_BENCH=OFF
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(BUILD_TSAN) --output-on-failure -j $(JOBS) -L tsan

# clang's AddressSanitizer (leak detection on) and UndefinedBehaviorSanitizer
# over the whole suite but the Python binding, whose interpreter does not
# carry the sanitizers' runtime.
check-asan: deps
	NADIXQ_EXTRA_PACKAGES="clang libclang-rt-14-dev" bash scripts/install-deps.sh
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DNADIXQ_SANITIZE=address,undefined -DNADIXQ_BUILD_BENCH=OFF
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS="detect_leaks=1 detect_stack_use_after_return=1 strict_init_order=1" \
	UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
	  ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS) -LE python

# Each libFuzzer target of fuzz/ for FUZZ_SECONDS, from its seed corpus.
fuzz: deps
	BUILD_FUZZ=$(BUILD_FUZZ) JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

# Continuous runs on the simulated board for SOAK_SECONDS, checking every
# file and that memory and descriptors stay flat.
soak: build
	mkdir -p $(BUILD)/soak-work
	cd $(BUILD)/soak-work && ../tests/soak/nadixq_soak --seconds $(SOAK_SECONDS)

demo: build
	@bash scripts/demo.sh $(BUILD)

# The web view on the simulated instrument of the build, at http://127.0.0.1:8650/.
serve: build
	NADIXQ_LIBRARY=$(CURDIR)/$(BUILD)/libnadixq.so PYTHONPATH=$(CURDIR)/python \
	  /usr/bin/python3 -m nadixq serve

# Builds only what the benchmarks need, runs them and writes bench/RESULTS.md.
bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target nadixq_benchmarks nadixq_web_assets
	@bash scripts/bench.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package and the Windows zip, into dist/.
package: deps
	JOBS=$(JOBS) bash scripts/package.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(BUILD_TSAN) $(BUILD_ASAN) $(BUILD_FUZZ) build-win32 build-win32-sim \
	  build-win64 build-win64-sim build-package dist
