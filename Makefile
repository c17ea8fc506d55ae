# The whole set-up on a fresh Debian machine:
#   make demo   install what is missing, build, show a packaged application under Wine,
#               and make its installer for the device
#   make test   install what is missing, build, and run every unit and end-to-end test
#   make dist   install what is missing, build, and make the release archive
#               build/dist/kel-VERSION.tar.gz, checked unpacked, and the Debian
#               package build/dist/kelpack_VERSION_amd64.deb (tools/dist.sh)
# The CMake presets (host, windows, windows-x86, ...) are the interface underneath;
# tests/stages.sh defines each build and test stage once.

SHELL := /bin/bash
JOBS ?= $(shell nproc)

# Debian packages the build and the tests need (libgmp10, libmpfr6 and
# libmpc3 for the device's compiler; cabextract, an independent reader of the
# installation cabinets kelpack makes; zlib for its MSZIP, on Linux and for
# kelpack.exe; gcab, a second cabinet writer the benchmark measures kelpack
# against). make deps also tries to add wine32:i386 for the 32-bit Wine runs
# (tools/deps.sh) and unpacks the device's compiler (tools/ce_toolchain.sh).
# wine64-preloader reserves Wine's fixed addresses before anything else is
# mapped; without it the wine64 loader's randomly placed heap now and then
# covers the shared user data page, and Wine ends such a start at once with
# exit code 1 ("failed to map the shared user data").
# lintian checks the Debian package make dist makes.
PACKAGES := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev \
	g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
	wine wine64 wine64-preloader xvfb xauth x11-utils imagemagick python3 clang libclang-rt-14-dev icoutils \
	python3-pefile googletest g++-arm-linux-gnueabi qemu-user libstb-dev groff-base \
	libgmp10 libmpfr6 libmpc3 xz-utils cabextract zlib1g-dev libz-mingw-w64-dev gcab lintian

# Seconds each fuzz target runs: `make fuzz FUZZ_SECONDS=600`; make test runs each briefly.
FUZZ_SECONDS ?= 60
TEST_FUZZ_SECONDS ?= 15

BUILDS := build-host build-asan build-fuzz build-windows build-windows-x86 build-armel build-wince-arm
# Every stage runs even when one before it failed; the failed ones are named at the end.
STAGES = JOBS=$(JOBS) STAGES_NAME="make $@" bash tests/stages.sh

.PHONY: all deps build $(BUILDS) test unit asan armel device device-run fuzz e2e e2e-x86 bench demo dist clean

all: build

# The device's compiler, unpacked from the archive beside the project when
# there is none yet; this installs no package.
UNPACK_TOOLCHAIN = bash tools/ce_toolchain.sh --unpack >/dev/null || echo "$@: no device compiler; the device stage will be skipped"

# Missing packages are fatal: nothing can be built or tested without them.
deps:
	@bash tools/deps.sh build/deps $(PACKAGES)
	@$(UNPACK_TOOLCHAIN)

$(BUILDS):
	@$(STAGES) $@

# Builds with what is installed: no package is installed here (make deps does).
build:
	@$(UNPACK_TOOLCHAIN)
	@$(STAGES) $(BUILDS)

unit: deps
	@$(STAGES) build-host unit

asan: deps
	@$(STAGES) build-asan asan

# The unit tests on the devices' processor class: ARMv5TE under qemu-arm.
armel: deps
	@$(STAGES) build-armel armel

# The device's kel.exe and Kel.dll (Windows CE on ARM), checked as files.
device: deps
	@$(STAGES) build-host build-wince-arm device

# The device's kel.exe run, its own ARM code, under qemu-arm on the
# simulation beside the host build (tests/celoader); skipped without a device compiler.
device-run: deps
	@$(STAGES) build-host build-armel build-wince-arm device-run

fuzz: deps
	@FUZZ_SECONDS=$(FUZZ_SECONDS) $(STAGES) build-fuzz fuzz

e2e: deps
	@$(STAGES) build-host build-windows e2e

# The end-to-end tests against the 32-bit build, where Wine runs 32-bit programs.
e2e-x86: deps
	@$(STAGES) build-host build-windows-x86 e2e-x86

# The 64-bit Wine suite comes last, so that the summary ending the output is
# that of tests that ran even where the 32-bit ones are skipped.
test: deps
	@FUZZ_SECONDS=$(TEST_FUZZ_SECONDS) $(STAGES) $(BUILDS) unit asan armel device device-run fuzz e2e-x86 e2e

# Figures: the host build's benchmarks, kelpack's memory, kelpack cab beside
# gcab, then start-up and size under Wine.
bench: deps
	@$(STAGES) build-host build-windows build-windows-x86 build-wince-arm
	bash tests/bench/host.sh
	bash tests/bench/kelpack_memory.sh
	bash tests/bench/kelpack_cab.sh
	bash tests/bench/startup.sh

demo: deps
	@$(STAGES) build-windows build-wince-arm
	bash tests/e2e/demo.sh

# The release: host, windows, windows-x86 and wince-arm built, installed together and
# packed into one archive, which is checked unpacked before it is kept, and
# the Debian package made from it.
dist: deps
	@JOBS=$(JOBS) bash tools/dist.sh

clean:
	rm -rf build
