#!/usr/bin/env bash
# The device kel.exe under qemu-arm beside the host build (README.md here):
#
#   run.sh SOURCE_DIR
#
# Runs the armel loader on the wince-arm build twice: as it is, when the
# device's results must equal the host build's, and with 64-bit arguments
# taken the Linux way, when they must not (the engine's check line differs),
# which shows that the comparison catches a broken calling convention. Then
# once with the sample engine, which calls for more of the device than the
# loader provides: the run must stop and name the first such import.
# Every run is on an XScale processor. Exit 77, with the reason, where it
# cannot run: no qemu-arm, or no device compiler to have built the device's files.
set -u
top=$1
if ! command -v qemu-arm >/dev/null; then
    echo "skipped: no qemu-arm (Debian's qemu-user) to run ARM code"
    exit 77
fi
if ! why=$(bash "$top/tools/ce_toolchain.sh" 2>&1 >/dev/null); then
    echo "skipped: no device compiler: $why"
    exit 77
fi
for file in build/wince-arm/bin/kel.exe build/wince-arm/celoader/Kel.dll build/armel/bin/celoader; do
    if [ ! -e "$top/$file" ]; then
        echo "$file is missing: build the wince-arm and armel presets first"
        exit 1
    fi
done
# The processor of the Pocket PC 2003 handhelds: an XScale (ARMv5TE). The
# loader is an armel program, which needs ARMv5TE too, so the older cores
# the device files must also run on (StrongARM, ARM920T) cannot run it;
# the device check reads the device files' code for those (tests/device).
cpu=pxa255
run() { qemu-arm -cpu "$cpu" "$top/build/armel/bin/celoader" "$top/build/wince-arm" "$@" 2>&1; }

run || exit 1
echo "== again, with 64-bit arguments taken the Linux way"
out=$(run --align-wide-arguments)
code=$?
echo "$out"
if [ $code != 1 ] || ! grep -q "device: engine command_line_check=" <<<"$out"; then
    echo "expected the engine's 64-bit check line to differ (exit 1), got exit $code"
    exit 1
fi
echo "the misread 64-bit argument was caught, as it must be"

echo "== with the sample engine"
out=$(run --engine "$top/build/wince-arm/bin/Kel.dll")
code=$?
echo "$out"
if [ $code != 3 ] || ! grep -q "stopped: .*Kel.dll: imports COREDLL.dll![A-Za-z]*, which the loader does not provide" <<<"$out"; then
    echo "expected the run to stop at the first unknown import by its name (exit 3), got exit $code"
    exit 1
fi
echo "the unknown import stopped the run, as it must"
