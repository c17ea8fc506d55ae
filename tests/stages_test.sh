#!/bin/bash
# tests/stages.sh (what make test runs) against stand-in cmake, ctest and
# python3 on PATH, which record their calls and fail where a case says: every
# stage runs whatever failed before it, a test stage whose build failed does
# not, the failed stages are named on the last line after CTest's summary
# and the table of each stage's seconds,
# the 32-bit Wine runs are either all there or one skip, and the device
# build happens only where a device compiler is found, while its check runs
# either way (and skips itself without one).
#
# Usage: stages_test.sh   Exit: 0 pass, 1 fail.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

mkdir -p "$work/bin"
# cmake fails for the preset in $FAIL_BUILD; ctest fails for the one in
# $FAIL_TEST and ends, like CTest, with its summary.
# A configure afresh (a build folder of this tree that a failed configure
# left) is recorded as any other.
cat > "$work/bin/cmake" <<'SH'
#!/bin/bash
echo "cmake $*" | sed 's/ --fresh$//' >> "$CALLS"
for a in "$@"; do [ "$a" = "$FAIL_BUILD" ] && exit 1; done
exit 0
SH
cat > "$work/bin/ctest" <<'SH'
#!/bin/bash
echo "ctest $*" >> "$CALLS"
echo "Total Test time (real) = 1.00 sec ($*)"
[ "$2" != "$FAIL_TEST" ]
SH
# The 32-bit Wine probe answers with $WINE32 (0 runs, 77 does not, else broken).
cat > "$work/bin/python3" <<'SH'
#!/bin/bash
echo "python3 $*" >> "$CALLS"
echo "probe says $WINE32"
exit "$WINE32"
SH
# A device compiler that answers --version, for KEL_CE_BIN to name.
mkdir -p "$work/ce"
printf '#!/bin/bash\necho "arm-mingw32ce-g++ (GCC) 4.4.0"\n' > "$work/ce/arm-mingw32ce-g++"
chmod +x "$work/bin/"* "$work/ce/"*
export KEL_CE_BIN=$work/ce

ALL="build-host build-asan build-windows build-windows-x86 build-armel build-wince-arm unit asan device device-run e2e e2e-x86"

# check NAME FAIL_BUILD FAIL_TEST WINE32 -- WANT_EXIT WANT_LAST ABOVE WANT_CALLS... -- NOT_CALLS...
#   WANT_LAST: the output's last line but the table of seconds ("summary": CTest's, i.e. nothing failed);
#   ABOVE: "summary" when CTest's summary must be right above it (the last stage ran CTest);
#   the table must have a row for each stage, and a total.
#   calls are matched as whole lines of the record.
check() {
    local name=$1 fail_build=$2 fail_test=$3 wine32=$4 want_exit=$6 want_last=$7 above=$8
    shift 8
    local wanted=() unwanted=() side=want
    for a in "$@"; do
        [ "$a" = -- ] && { side=not; continue; }
        [ $side = want ] && wanted+=("$a") || unwanted+=("$a")
    done
    local calls=$work/$name.calls out=$work/$name.out before=$fails
    : > "$calls"
    JOBS=2 CALLS=$calls FAIL_BUILD=$fail_build FAIL_TEST=$fail_test WINE32=$wine32 STAGES_NAME="make test" \
        PATH=$work/bin:$PATH bash "$here/stages.sh" $ALL > "$out" 2>&1
    local code=$?
    [ $code = "$want_exit" ] || fail "$name: exit $code, expected $want_exit"
    local last table body
    table=$(sed -n '/^== seconds per stage$/,/^total /p' "$out")
    body=$(sed '/^== seconds per stage$/,/^total /d' "$out")
    for s in $ALL total; do
        grep -Eq "^$s +([0-9]+|-)( |\$)" <<<"$table" || fail "$name: no row for $s in the table of seconds"
    done
    [ "$(tail -1 <<<"$table" | cut -d' ' -f1)" = total ] && [ "$(sed -n '/^total /,$p' "$out" | wc -l)" -le 2 ] ||
        fail "$name: the table of seconds is not at the end"
    last=$(tail -1 <<<"$body")
    if [ "$want_last" = summary ]; then
        [[ $last == "Total Test time"* ]] || fail "$name: last line '$last', expected CTest's summary"
    else
        [ "$last" = "$want_last" ] || fail "$name: last line '$last', expected '$want_last'"
        [ "$above" != summary ] || [[ $(tail -2 <<<"$body" | head -1) == "Total Test time"* ]] ||
            fail "$name: CTest's summary is not right above the last line"
    fi
    for c in "${wanted[@]}"; do grep -qxF -- "$c" "$calls" || fail "$name: no call '$c'"; done
    for c in "${unwanted[@]}"; do ! grep -qxF -- "$c" "$calls" || fail "$name: unexpected call '$c'"; done
    [ $fails = "$before" ] && echo "ok: $name"
}

check all-green-no-wine32 - - 77 -- 0 summary - \
    "ctest --preset host -j 2 -LE device" "cmake --preset wince-arm" "ctest --preset host -L ^device\$" \
    "ctest --preset host -L device_run" \
    "ctest --preset windows" "python3 tests/e2e/wine32.py build/windows-x86" \
    "ctest --preset windows-x86 -R ^e2e_wine32\$" -- "ctest --preset windows-x86"
check all-green-wine32 - - 0 -- 0 summary - \
    "ctest --preset windows-x86" -- "ctest --preset windows-x86 -R ^e2e_wine32\$"
check probe-broken - - 3 -- 1 "make test: failed stages: e2e-x86" - \
    "ctest --preset windows" -- "ctest --preset windows-x86" "ctest --preset windows-x86 -R ^e2e_wine32\$"
check asan-build-red asan - 77 -- 1 "make test: failed stages: build-asan asan" summary \
    "ctest --preset host -j 2 -LE device" "ctest --preset windows" "ctest --preset windows-x86 -R ^e2e_wine32\$" \
    -- "ctest --preset asan -j 2" "cmake --build --preset asan -j 2"
check unit-red - host 77 -- 1 "make test: failed stages: unit device device-run" summary \
    "ctest --preset asan -j 2" "ctest --preset windows"
check windows-red - windows 77 -- 1 "make test: failed stages: e2e" summary \
    "ctest --preset windows-x86 -R ^e2e_wine32\$"
KEL_CE_BIN=$work/none check no-device-compiler - - 77 -- 0 summary - \
    "ctest --preset host -L ^device\$" "ctest --preset host -L device_run" -- "cmake --preset wince-arm"
check device-build-red wince-arm - 77 -- 1 "make test: failed stages: build-wince-arm device device-run" summary \
    "ctest --preset windows" -- "ctest --preset host -L ^device\$" "ctest --preset host -L device_run"
check armel-build-red armel - 77 -- 1 "make test: failed stages: build-armel device-run" summary \
    "ctest --preset host -L ^device\$" -- "ctest --preset host -L device_run"

[ $fails = 0 ] && echo "PASS" || echo "$fails failure(s)"
[ $fails = 0 ]
