# Thin wrapper around CMake; see README.md.
BUILD      ?= build
BUILD_TSAN ?= build-tsan
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
CMAKE_GEN  := -G Ninja

.PHONY: all deps configure build check check-tsan demo bench install package format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test of the normal build, then the threaded tests again under the
# thread sanitizer.
check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory check-tsan
	JOBS=$(JOBS) bash scripts/windows-check.sh
	JOBS=$(JOBS) bash scripts/consumer-check.sh

check-tsan: deps
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNADIXQ_SANITIZE=thread -DNADIXQ_BUILD_BENCH=OFF
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(BUILD_TSAN) --output-on-failure -j $(JOBS) -L tsan

demo: build
	@bash scripts/demo.sh $(BUILD)

# Builds only what the benchmarks need, runs them and writes bench/RESULTS.md.
bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target nadixq_benchmarks
	@bash scripts/bench.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package and the Windows zip, into dist/.
package: deps
	JOBS=$(JOBS) bash scripts/package.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(BUILD_TSAN) build-win32 build-win32-sim build-win64 build-win64-sim \
	  build-package dist
