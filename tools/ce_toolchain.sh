#!/usr/bin/env bash
# Finds the device's compiler, arm-mingw32ce (GCC 4.4 for Windows CE on ARM),
# and prints the folder that holds it:
#
#   tools/ce_toolchain.sh           the folder of arm-mingw32ce-g++; exit 1, with
#                                   the reason on stderr, when there is none that runs
#   tools/ce_toolchain.sh --unpack  the same, but first unpacks the archive kept
#                                   beside the project (../shared/toolchains) into
#                                   build/toolchains when no other one is found
#
# It is looked for where cmake/wince-arm.cmake looks, in the same order: the
# folder named by $KEL_CE_BIN, then PATH, then build/toolchains/cegcc-prefix/bin.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
unpacked=$top/build/toolchains/cegcc-prefix/bin
archive=$(ls "$top"/../shared/toolchains/arm-mingw32ce-*.tar.xz 2>/dev/null | head -1)

find_compiler() {
    if [ -n "${KEL_CE_BIN:-}" ]; then
        echo "$KEL_CE_BIN/arm-mingw32ce-g++"
    elif command -v arm-mingw32ce-g++ >/dev/null; then
        command -v arm-mingw32ce-g++
    elif [ -e "$unpacked/arm-mingw32ce-g++" ]; then
        echo "$unpacked/arm-mingw32ce-g++"
    fi
}

compiler=$(find_compiler)
if [ -z "$compiler" ] && [ "${1:-}" = --unpack ] && [ -n "$archive" ]; then
    mkdir -p "$top/build/toolchains"
    tar -C "$top/build/toolchains" -xJf "$archive" || { echo "could not unpack $archive" >&2; exit 1; }
    compiler=$(find_compiler)
fi
if [ -z "$compiler" ]; then
    echo "no arm-mingw32ce-g++: not in \$KEL_CE_BIN, on PATH or in build/toolchains, and no archive in ../shared/toolchains to unpack" >&2
    exit 1
fi
# Its programs are Linux programs that need libgmp, libmpfr and libmpc (make deps installs them).
if ! version=$("$compiler" --version 2>&1); then
    echo "$compiler does not run: $(echo "$version" | head -1)" >&2
    exit 1
fi
dirname "$compiler"
