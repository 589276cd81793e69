# Front door over CMake. `make test` and `make demo` work on a fresh machine.
BUILD       ?= build
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=
CI          ?=
# CI builds treat warnings in our own code as errors.
ifneq ($(CI),)
  CMAKE_FLAGS += -DVX_WERROR=ON
endif

.PHONY: bench-multi all setup configure build test demo bench clean test-asan test-tsan fuzz load package install package-test

all: build

setup:
	@BUILD_DIR=$(CURDIR)/$(BUILD) tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DVX_THIRD_PARTY_DIR=$(CURDIR)/$(BUILD)/third_party -DVX_BUILD_TESTS=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) $(CTEST_FLAGS)

demo: build
	@tools/demo.sh $(BUILD)

# Benchmarks (Release build of their own; needs root for private namespaces): bench/results/.
BENCH_BUILD ?= build-bench
bench: setup
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVX_BUILD_BENCH=ON \
	  -DVX_THIRD_PARTY_DIR=$(CURDIR)/$(BUILD)/third_party $(CMAKE_FLAGS) >/dev/null
	@bench/run.sh $(BENCH_BUILD)

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer.
# log4cxx 1.0 itself frees rolling appender internals with a mismatched type; that one check
# is off so the rest of ASan still covers our code.
test-asan:
	@ASAN_OPTIONS=new_delete_type_mismatch=0:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(MAKE) --no-print-directory test BUILD=build-asan CMAKE_FLAGS="$(CMAKE_FLAGS) -DVX_SANITIZE=address,undefined -DVX_BUILD_BENCH=OFF"

# The multi-handle executor against blocking transfers, 1,000 GETs on a local nginx.
bench-multi: build
	@bench/multi.sh $(CURDIR)/$(BUILD)

# wrk against the real service and the dev vault, 30 s (needs root): bench/load/run.sh.
load: build
	@bench/load/run.sh $(BUILD)

# libFuzzer targets (clang, build-fuzz), each FUZZ_SECONDS (default 60) on its seed corpus.
fuzz: setup
	@FUZZ_SECONDS=$(or $(FUZZ_SECONDS),60) VX_THIRD_PARTY_DIR=$(CURDIR)/$(BUILD)/third_party JOBS=$(JOBS) test/fuzz/run.sh

# The concurrency tests (server, executor) under ThreadSanitizer.
# Only the targets that hold them are built, which keeps this stage short in CI.
TSAN_TARGETS = http_server_tests multi_tests vault-e2e-tests fault-tests fuzz-replay-server_core
test-tsan:
	@$(MAKE) --no-print-directory configure BUILD=build-tsan \
	  CMAKE_FLAGS="$(CMAKE_FLAGS) -DVX_SANITIZE=thread -DVX_BUILD_BENCH=OFF"
	@cmake --build build-tsan -j $(JOBS) --target $(TSAN_TARGETS)
	@cd build-tsan && ctest --output-on-failure --no-tests=error -j $(JOBS) -L concurrency

clean:
	rm -rf build build-asan build-tsan build-fuzz build-pkg

# The Debian package, installed under /usr: build-pkg/vx-vault-accessor_0.6.0~3_amd64.deb
package: setup
	@cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF -DVX_THIRD_PARTY_DIR=$(CURDIR)/$(BUILD)/third_party >/dev/null
	@cmake --build build-pkg -j $(JOBS)
	@cd build-pkg && cpack -G DEB >/dev/null && ls -1 $(CURDIR)/build-pkg/*.deb

install: build
	@cmake --install $(BUILD)

# Builds the .deb, installs it here, checks the installed service answers, purges it.
package-test:
	@tools/package-test.sh
