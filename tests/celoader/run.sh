#!/usr/bin/env bash
# The device kel.exe under qemu-arm beside the host build (README.md here):
#
#   run.sh SOURCE_DIR
#
# Packs the launcher copies the scenarios run with the host kelpack, from the
# device kel.exe, into a scratch folder. Then runs the armel loader on the
# wince-arm build: as it is, when the device's results must equal the host
# build's in every scenario and every planted fault must make one differ,
# first by the line the fault table names for it; with 64-bit arguments taken the Linux
# way, when they must not agree (the engine's check line differs), which
# shows that the comparison catches a broken calling convention; with the
# device sample engine, whose window, splash dismissal, ServerPort and relay
# must show what the desktop pair shows, and whose planted fault (the port
# published in the wrong byte order) must be caught; and
# `celoader run` on two copies, whose exit codes, transcripts and screen
# shot are checked, and on a pair (--then) with the device sample engine.
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
for file in build/wince-arm/bin/kel.exe build/wince-arm/celoader/Kel.dll build/armel/bin/celoader build/host/bin/kelpack; do
    if [ ! -e "$top/$file" ]; then
        echo "$file is missing: build the host, wince-arm and armel presets first"
        exit 1
    fi
done
# The processor of the Pocket PC 2003 handhelds: an XScale (ARMv5TE). The
# loader is an armel program, which needs ARMv5TE too, so the older cores
# the device files must also run on (StrongARM, ARM920T) cannot run it;
# the device check reads the device files' code for those (tests/device).
cpu=pxa255
loader() { qemu-arm -cpu "$cpu" "$top/build/armel/bin/celoader" "$@"; }
copies=$(mktemp -d)
trap 'rm -rf "$copies"' EXIT

# The copies, as a packager makes them: kelpack's own path, from the pictures
# and options the scenarios' table gives.
recipes=$(loader copies "$copies") || { echo "celoader could not name the copies"; exit 1; }
while IFS=$'\x1f' read -r -a options; do
    if ! (cd "$copies" && "$top/build/host/bin/kelpack" pack "$top/build/wince-arm/bin/kel.exe" \
              -o "${options[0]}" "${options[@]:1}") >"$copies/pack.log" 2>&1; then
        cat "$copies/pack.log"
        echo "kelpack could not pack ${options[0]}"
        exit 1
    fi
done <<<"$recipes"
echo "packed $(wc -l <<<"$recipes") copies of the device kel.exe with kelpack"

run() { loader "$top/build/wince-arm" --copies "$copies" "$@" 2>&1; }

run --faults || exit 1
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
out=$(run --sample-engine "$top/build/wince-arm/bin/Kel.dll")
code=$?
echo "$out"
if [ $code != 0 ] || ! grep -q "^caught .*ServerPort written in network byte order" <<<"$out" ||
   ! grep -q "^caught .*one process id for all programs" <<<"$out"; then
    echo "expected the device sample engine to keep the desktop pair's facts and both planted faults to be caught, got exit $code"
    exit 1
fi
echo "the device sample engine ran as the desktop one does"

# One copy run as a packager would try it: the engine records its line and
# returns its length; the screen shot holds the splash, centred, exactly.
hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n' | sed 's/../00&/g'; }
echo "== celoader run --screen 320x240 --png shot.png full.exe doc.kel"
out=$(loader run --screen 320x240 --png "$copies/shot.png" "$copies/full.exe" doc.kel 2>&1)
code=$?
echo "$out"
if [ $code != 17 ] || ! grep -qx "engine command_line=$(hex " app.Main doc.kel")" <<<"$out"; then
    echo "expected exit 17 and the merged line \" app.Main doc.kel\" handed to the engine, got exit $code"
    exit 1
fi
/usr/bin/python3 - "$copies/shot.png" "$copies/full.bmp" 320 240 <<'EOF' || exit 1
import struct, sys, zlib
png, bmp, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = open(png, "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
at, idat = 8, b""
while at < len(data):
    length, kind = struct.unpack(">I4s", data[at:at + 8])
    body = data[at + 8:at + 8 + length]
    if kind == b"IHDR":
        w, h, depth, colour = struct.unpack(">IIBB", body[:10])
        assert (w, h, depth, colour) == (width, height, 8, 2), f"{w}x{h}, depth {depth}, colour type {colour}"
    idat += body if kind == b"IDAT" else b""
    at += 12 + length
raw, stride, rows, previous = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
for y in range(height):
    kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = row[i - 3] if i >= 3 else 0
        b, c = previous[i], previous[i - 3] if i >= 3 else 0
        p = a + b - c
        paeth = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
        row[i] = (row[i] + [0, a, b, (a + b) // 2, paeth][kind]) & 0xFF
    rows.append(row)
    previous = row
shot = lambda x, y: tuple(rows[y][3 * x:3 * x + 3])
picture = open(bmp, "rb").read()
offset, pw, ph = struct.unpack("<I", picture[10:14])[0], *struct.unpack("<ii", picture[18:26])
pstride = (pw * 3 + 3) // 4 * 4
left, top = (width - pw) // 2, (height - ph) // 2
wrong = 0
for y in range(height):
    for x in range(width):
        if left <= x < left + pw and top <= y < top + ph:
            at = offset + (ph - 1 - (y - top)) * pstride + 3 * (x - left)
            want = (picture[at + 2], picture[at + 1], picture[at])
        else:
            want = (0x3A, 0x6E, 0xA5)   # the desktop
        wrong += shot(x, y) != want
if wrong:
    sys.exit(f"the screen shot differs from the splash {pw}x{ph} at ({left},{top}) on the desktop in {wrong} pixels")
print(f"the screen shot is the splash {pw}x{ph} at ({left},{top}) on the desktop, every pixel")
EOF

echo "== celoader run line.exe, no line"
out=$(loader run "$copies/line.exe" 2>&1)
code=$?
echo "$out"
if [ $code != 8 ] || ! grep -qx "engine command_line=$(hex "app.Main")" <<<"$out"; then
    echo "expected exit 8 and the embedded line alone handed to the engine, got exit $code"
    exit 1
fi
echo "celoader run ran both copies as the device would"

# A pair by hand: the device sample engine up in the first start, a second
# start relays "quit 7", and the first ends with it.
echo "== celoader run --engine Kel.dll full.exe doc.kel --then '-+ -acommand \"quit 7\" --'"
out=$(timeout 120 qemu-arm -cpu "$cpu" "$top/build/armel/bin/celoader" run --engine "$top/build/wince-arm/bin/Kel.dll" \
          "$copies/full.exe" doc.kel --then '-+ -acommand "quit 7" --' 2>&1)
code=$?
echo "$out"
if [ $code != 7 ] || ! grep -qx "2 exit 0" <<<"$out" || ! grep -qx "2 call send(socket, ptr, 6, 0x0)" <<<"$out" ||
   ! grep -qx "1 call DestroyWindow(window:app_Main)" <<<"$out"; then
    echo "expected the second start to relay \"quit 7\" and exit 0, and the first to act on it and exit 7, got exit $code"
    exit 1
fi
echo "celoader run --then ran the pair: the relay reached the device engine"
