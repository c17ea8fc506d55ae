#!/usr/bin/env bash
# The stages the Makefile builds and tests with, each defined here once:
#
#   tests/stages.sh STAGE...
#
#   build-host build-asan build-fuzz build-windows build-windows-x86 build-armel
#              configure and build that preset (build-fuzz: the fuzz targets)
#   build-wince-arm
#              the device build (kel.exe and Kel.dll for Windows CE on ARM),
#              where tools/ce_toolchain.sh finds the device's compiler; else
#              it says why not and leaves the verdict to the device stage
#   unit       ctest --preset host: unit tests, kelpack's round trips
#   asan       ctest --preset asan
#   armel      ctest --preset armel: the unit tests built for ARMv5TE, under qemu-arm
#   device     the host build's device_build test: the device build checked
#              as files, or one skip saying why there is none
#   device-run the device kel.exe run under qemu-arm on the simulation beside
#              the host build (tests/celoader), or skipped with the reason
#   fuzz       every fuzz target for $FUZZ_SECONDS seconds (default 15)
#   e2e        ctest --preset windows: the end-to-end tests under Wine
#   e2e-x86    ctest --preset windows-x86 where Wine runs 32-bit programs;
#              elsewhere its e2e_wine32 test alone, which skips with the reason
#
# Every stage named runs whatever became of those before it, so that one red
# stage hides no other's results; only a test stage whose build failed in
# this same call is counted as failed without running. The output ends with
# the last stage's own (CTest's summary), then a table of each stage's
# seconds (so that a stage that grows is seen in every run), then one line
# naming the stages that failed, if any; the exit status is then 1.
#
# A build folder whose cache a failed configure left (no compiler yet, say)
# is configured afresh: CMake would otherwise keep the empty flags it cached
# for the build type and build without optimisation, saying nothing.
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
name=${STAGES_NAME:-stages.sh}
failed=()

build() {  # PRESET [TARGET]
    local fresh=
    # CMakeLists.txt writes the marker at the end of a configure that got through.
    if [ -e "build/$1/CMakeCache.txt" ] && [ ! -e "build/$1/kel-configured" ]; then
        echo "build/$1: its cache was left by a configure that did not finish; configuring afresh"
        fresh=--fresh
    fi
    cmake --preset "$1" $fresh >/dev/null && cmake --build --preset "$1" -j "$jobs" ${2:+--target "$2"}
}

# The 32-bit Wine runs, all in the windows-x86 tests, or one skip saying why not.
e2e_x86() {
    local verdict code
    verdict=$(python3 tests/e2e/wine32.py build/windows-x86)
    code=$?
    echo "$verdict"
    case $code in
        0) ctest --preset windows-x86 ;;
        77) ctest --preset windows-x86 -R '^e2e_wine32$' ;;
        *) return 1 ;;
    esac
}

# The device build, or the reason there is none; the device stage's one
# test then skips with the same reason.
build_device() {
    local bin
    if ! bin=$(bash tools/ce_toolchain.sh); then
        echo "no device build: the device compiler cannot be had"
        return 0
    fi
    KEL_CE_BIN=$bin build wince-arm
}

# The build stages a test stage runs on.
build_of() {
    case $1 in
        unit) echo build-host ;;
        asan) echo build-asan ;;
        armel) echo build-armel ;;
        device) echo build-wince-arm ;;
        device-run) echo build-armel build-wince-arm ;;
        fuzz) echo build-fuzz ;;
        e2e) echo build-windows ;;
        e2e-x86) echo build-windows-x86 ;;
    esac
}

run() {
    case $1 in
        build-host) build host ;;
        build-asan) build asan ;;
        build-fuzz) build fuzz fuzzers ;;
        build-windows) build windows ;;
        build-windows-x86) build windows-x86 ;;
        build-armel) build armel ;;
        build-wince-arm) build_device ;;
        unit) ctest --preset host -j "$jobs" -LE device ;;
        asan) ctest --preset asan -j "$jobs" ;;
        armel) ctest --preset armel -j "$jobs" ;;
        device) ctest --preset host -L '^device$' ;;
        device-run) ctest --preset host -L device_run ;;
        fuzz) bash tests/fuzz/run.sh "${FUZZ_SECONDS:-15}" ;;
        e2e) ctest --preset windows ;;
        e2e-x86) e2e_x86 ;;
        *) echo "$name: no stage named $1" >&2; return 1 ;;
    esac
}

timing=()
for stage in "$@"; do
    broken=
    for needed in $(build_of "$stage"); do
        [[ " ${failed[*]} " == *" $needed "* ]] && broken=$needed
    done
    if [ -n "$broken" ]; then
        echo "== $stage: not run, $broken failed"
        failed+=("$stage")
        timing+=("$(printf '%-18s %6s  not run' "$stage" -)")
        continue
    fi
    echo "== $stage"
    began=$SECONDS
    verdict=
    run "$stage" || { failed+=("$stage"); verdict="  failed"; }
    timing+=("$(printf '%-18s %6d%s' "$stage" $((SECONDS - began)) "$verdict")")
done

echo "== seconds per stage"
printf '%s\n' "${timing[@]}"
printf '%-18s %6d\n' total "$SECONDS"
if [ ${#failed[@]} -gt 0 ]; then
    echo "$name: failed stages: ${failed[*]}"
    exit 1
fi
