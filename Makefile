# Thin wrapper over CMake: `make run` and `make test` work from a clean clone.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
ARGS ?= --nc -F open examples
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build run test test-release test-asan test-tsan fuzz bench bench-tree format install package package-check clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/source/pyrn $(ARGS)

test: deps
	@scripts/run-tests

test-release: deps
	@scripts/run-tests release

test-asan: deps
	@scripts/run-tests asan

test-tsan: deps
	@scripts/run-tests tsan

fuzz: deps
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzz

bench: build
	$(BUILD)/bench/pyrn_bench $(BENCH_ARGS)

bench-tree: build
	bench/run-tree $(BUILD)/source/pyrn

format:
	clang-format -i $$(git ls-files 'source/*.[ch]pp' 'tests/*.[ch]pp' 'bench/*.[ch]pp' | grep -v '^tests/fixtures/')

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, written to $(BUILD)/pyrn_<version>_amd64.deb.
package: build
	cmake --build $(BUILD) --target package

# Installs that package with apt on a fresh Debian 12 (debootstrap; root, about a minute).
package-check: build
	scripts/check-package $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
