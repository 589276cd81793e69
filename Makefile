# Front door over CMake. `make test` and `make demo` work on a fresh machine.
BUILD       ?= build
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=
CI          ?=
# CI builds treat warnings in our own code as errors.
ifneq ($(CI),)
  CMAKE_FLAGS += -DVX_WERROR=ON
endif

.PHONY: all setup configure build test demo bench clean test-asan test-tsan fuzz package install package-test

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

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_FLAGS="$(CMAKE_FLAGS) -DVX_SANITIZE=address,undefined -DVX_BUILD_BENCH=OFF"

# The concurrency tests (server, executor) under ThreadSanitizer.
test-tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan CTEST_FLAGS="-L concurrency" \
	  CMAKE_FLAGS="$(CMAKE_FLAGS) -DVX_SANITIZE=thread -DVX_BUILD_BENCH=OFF"

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
