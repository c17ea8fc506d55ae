#!/bin/bash
# Packs the real launcher (build/windows/bin/kel.exe, and the x86 and the
# device's ARM one when they were built) with kelpack, then checks that
# `kelpack show` names its machine, `kelpack preview` draws it, and
# `kelpack show` and `kelpack explain` on the result tell what the launcher does: the merged
# command line, the target name, the relay bytes, the registration trigger,
# and the splash chosen on each screen. The JSON output is read with
# Python's json module, so it must also be well-formed.
#
# Usage: explain_roundtrip.sh KELPACK SOURCE_DIR [WORKDIR]
# Exit: 0 pass, 1 fail, 77 skipped (no launcher built, or no python3).
set -u
KELPACK=${1:?usage: explain_roundtrip.sh KELPACK SOURCE_DIR [WORKDIR]}
SOURCE=${2:?usage: explain_roundtrip.sh KELPACK SOURCE_DIR [WORKDIR]}
WORK=${3:-$(mktemp -d)}
PY=/usr/bin/python3

launchers=()
for l in "$SOURCE/build/windows/bin/kel.exe" "$SOURCE/build/windows-x86/bin/kel.exe" "$SOURCE/build/wince-arm/bin/kel.exe"; do
    [ -f "$l" ] && launchers+=("$l")
done
[ -f "$SOURCE/build/windows/bin/kel.exe" ] || { echo "SKIP: $SOURCE/build/windows/bin/kel.exe not built (make build-windows)"; exit 77; }
[ -x "$PY" ] || { echo "SKIP: $PY missing"; exit 77; }

mkdir -p "$WORK" && cd "$WORK" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
# has TEXT FILE: FILE holds TEXT as a fixed string.
has() { grep -qF -- "$1" "$2" || fail "$2 lacks: $1"; }

"$PY" - <<'PYEOF' || exit 1
import struct
def bmp(path, w, h):
    stride = (24 * w + 7) // 8 + 3 & ~3
    # More than 256 colours, so that kelpack keeps the file at 24 bits as it is.
    px = bytes((i * 7 + i // 997) & 0xff for i in range(stride * h))
    head = b'BM' + struct.pack('<IHHI', 54 + len(px), 0, 0, 54)
    head += struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(px), 2835, 2835, 0, 0)
    open(path, 'wb').write(head + px)
bmp('s240.bmp', 240, 320)
bmp('s480.bmp', 480, 640)
PYEOF

for kel in "${launchers[@]}"; do
    arch=$(basename "$(dirname "$(dirname "$kel")")")
    exe=Game-$arch.exe
    before=$(sha256sum "$kel")
    "$KELPACK" pack "$kel" -o "$exe" --command-line app.Main --splash 240x320:s240.bmp --splash 480x640:s480.bmp \
        --title "Game" > pack.out 2> pack.err || { fail "$arch: pack failed: $(cat pack.err)"; continue; }
    [ "$(sha256sum "$kel")" = "$before" ] || fail "$arch: pack changed its input"

    "$KELPACK" show "$exe" > show.txt 2>&1 || fail "$arch: show failed"
    case $arch in
        windows) has "$exe: PE32+ x64," show.txt ;;
        windows-x86) has "$exe: PE32 x86," show.txt ;;
        wince-arm) has "$exe: PE32 ARM," show.txt ;;
    esac
    has 'Command line: "app.Main"' show.txt
    # The launcher's own version resource is not one pack replaces: the copy keeps it.
    has '#16 (VERSION)' show.txt
    has '240x320  "s240.bmp" (entry 240x320): decodes, 240x320 24-bit' show.txt
    has '320x240  "s240.bmp" (entry 240x320): decodes, 240x320 24-bit, larger than the screen' show.txt
    has '480x640  "s480.bmp" (entry 480x640): decodes, 480x640 24-bit' show.txt
    has '640x480  "s240.bmp"' show.txt
    has '800x480  "s240.bmp"' show.txt
    "$KELPACK" show --json "$exe" > show.json || fail "$arch: show --json failed"
    "$PY" - show.json <<'PYEOF' || fail "$arch: show --json: wrong screens"
import json, sys
r = json.load(open(sys.argv[1]))
got = [(s['screen_width'], s['screen_height'], s['bitmap'], s['decodes']) for s in r['screens']]
want = [(240, 320, 's240.bmp', True), (320, 240, 's240.bmp', True), (240, 240, 's240.bmp', True),
        (480, 640, 's480.bmp', True), (640, 480, 's240.bmp', True), (480, 480, 's240.bmp', True),
        (800, 480, 's240.bmp', True)]
assert got == want, got
assert r['command_line'] == 'app.Main' and r['title'] == 'Game', r
PYEOF

    rm -rf "previews-$arch" && mkdir "previews-$arch"
    "$KELPACK" preview "$exe" -o "previews-$arch" > preview.txt 2>&1 || fail "$arch: preview failed: $(cat preview.txt)"
    [ -s "previews-$arch/preview-240x320.png" ] || fail "$arch: preview drew no preview-240x320.png: $(ls "previews-$arch")"

    "$KELPACK" explain "$exe" -- doc.kel > explain.txt 2>&1 || fail "$arch: explain failed"
    has "merged with the user's: \" app.Main doc.kel\" (17 characters)" explain.txt
    has 'window of class "app_Main"' explain.txt
    has '4. Splash on a 240x320 screen (packed CONFIG): "s240.bmp"' explain.txt
    has 'titled "Game"' explain.txt
    has "A registration by this launcher at \"\\Windows\\$exe\" sets that value to \"\\Windows\\Game-$arch.DLL\"" explain.txt

    "$KELPACK" explain "$exe" --json --screen 480x640 -- -+ -acommand '"go home"' -- > relay.json || fail "$arch: explain --json failed"
    "$PY" - relay.json <<'PYEOF' || fail "$arch: explain --json: wrong relay"
import json, sys
r = json.load(open(sys.argv[1]))
assert r['merged_command_line'] == '-acommand "go home"  app.Main', r['merged_command_line']
assert r['relay']['bytes_hex'] == '67 6f 20 68 6f 6d 65 0a' and r['relay']['bytes_text'] == 'go home\n', r['relay']
assert r['relay']['registry_key'] == 'Software\\Norvane\\KelVM' and r['handoff'] is None, r
assert r['splash']['bitmap'] == 's480.bmp' and r['splash']['decodes'], r['splash']
assert r['engine']['library'] == 'Kel.dll' and r['engine']['registry_key'] == 'KelFile10\\DLL', r['engine']
PYEOF

    # The generic launcher: a lone "+" only registers, a quoted .kel path targets the file's name.
    "$KELPACK" explain "$kel" --json --command-line '+ ' > plus.json || fail "$arch: explain + failed"
    "$PY" -c 'import json,sys; r=json.load(open(sys.argv[1])); assert r["registration"]=="register_only" and r["ends"]=="registration" and r["splash"] is None, r' plus.json \
        || fail "$arch: a lone + does not end at the registration"
    "$KELPACK" explain "$kel" -- '"\My Documents\Game.kel"' > kel.txt || fail "$arch: explain of a .kel path failed"
    has 'window of class "Game_run"' kel.txt
    has '2. File type: not registered' kel.txt
done

[ $fails -eq 0 ] && echo "PASS: show and explain on ${#launchers[@]} packed launcher(s)"
[ $fails -eq 0 ]
