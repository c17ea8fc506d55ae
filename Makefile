# The whole set-up on a fresh Debian machine:
#   make demo   install what is missing, build, and show a packaged application under Wine
#   make test   install what is missing, build, and run every unit and end-to-end test
# The CMake presets (host, windows, windows-x86) are the interface underneath.

SHELL := /bin/bash
JOBS ?= $(shell nproc)

# Debian packages the build and the tests need.
PACKAGES := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev \
	g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
	wine wine64 xvfb xauth x11-utils imagemagick python3 clang libclang-rt-14-dev icoutils python3-pefile

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Seconds each fuzz target runs: `make fuzz FUZZ_SECONDS=600`; make test runs each briefly.
FUZZ_SECONDS ?= 60
TEST_FUZZ_SECONDS ?= 15

.PHONY: all deps build build-host build-asan build-fuzz build-windows test unit asan fuzz e2e bench demo clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build-host:
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)

build-asan:
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

build-fuzz:
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzzers

build-windows:
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)
	cmake --preset windows-x86 >/dev/null
	cmake --build --preset windows-x86 -j $(JOBS)

build: deps build-host build-asan build-fuzz build-windows

unit: deps build-host
	ctest --preset host -j $(JOBS)

asan: deps build-asan
	ctest --preset asan -j $(JOBS)

fuzz: deps build-fuzz
	bash tests/fuzz/run.sh $(FUZZ_SECONDS)

e2e: deps build-windows
	ctest --preset windows

test: deps build
	ctest --preset host -j $(JOBS)
	ctest --preset asan -j $(JOBS)
	bash tests/fuzz/run.sh $(TEST_FUZZ_SECONDS)
	ctest --preset windows

# Figures: host benchmarks, then start-up and size under Wine.
bench: deps build-host build-windows
	bash tests/bench/host.sh
	if [ -f tests/bench/startup.sh ]; then bash tests/bench/startup.sh; fi

demo: deps build-windows
	bash tests/e2e/demo.sh

clean:
	rm -rf build
