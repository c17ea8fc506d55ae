#!/bin/bash
# Packs real mingw-built executables (x64 and i686, with and without a
# resource section of their own) with kelpack, then reads the results back
# with readers that share no code with it: icoutils' wrestool and Python's
# pefile. With --wine it also runs each packed program, which looks its
# resources up with FindResourceW and prints them.
#
# Usage: roundtrip_wrestool.sh KELPACK [WORKDIR] [--arch ARCH]... [--wine[=ARCH]]...
#   --arch ARCH   pack and check ARCH's programs only (x86_64, i686; default both)
#   --wine        also run the packed programs under Wine; --wine=ARCH those of ARCH only
# Exit: 0 pass, 1 fail, 77 skipped (a needed tool is missing, or Wine for the runs asked for).
set -u
KELPACK=${1:?usage: roundtrip_wrestool.sh KELPACK [WORKDIR] [--arch ARCH]... [--wine[=ARCH]]...}
shift
WORK=
ARCHS=()
WINE_ARCHS=()
while [ $# -gt 0 ]; do
    case $1 in
        --arch) ARCHS+=("${2:?--arch needs an architecture}"); shift ;;
        --wine) WINE_ARCHS+=(all) ;;
        --wine=*) WINE_ARCHS+=("${1#--wine=}") ;;
        -*) echo "unknown option: $1" >&2; exit 1 ;;
        *) WORK=$1 ;;
    esac
    shift
done
WORK=${WORK:-$(mktemp -d)}
[ ${#ARCHS[@]} -gt 0 ] || ARCHS=(x86_64 i686)
PY=/usr/bin/python3   # Debian's, where python3-pefile lives

# run_under_wine ARCH: whether ARCH's packed programs are to run under Wine.
run_under_wine() {
    local w
    for w in "${WINE_ARCHS[@]}"; do [ "$w" = all ] || [ "$w" = "$1" ] && return 0; done
    return 1
}

[ -x "$KELPACK" ] || { echo "SKIP: $KELPACK is not built (cmake --build --preset host)"; exit 77; }
KELPACK=$(realpath "$KELPACK")   # the work happens in WORK
for arch in "${ARCHS[@]}"; do
    for tool in $arch-w64-mingw32-gcc $arch-w64-mingw32-windres; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
    done
done
for tool in wrestool "$PY"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
"$PY" -c 'import pefile' 2>/dev/null || { echo "SKIP: python3-pefile not installed"; exit 77; }
wine_missing=0
if [ ${#WINE_ARCHS[@]} -gt 0 ] && ! command -v wine >/dev/null; then
    wine_missing=1
    WINE_ARCHS=()
fi

mkdir -p "$WORK" && cd "$WORK" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# A program that prints what FindResourceW finds in its own module.
cat > probe.c <<'C'
#include <windows.h>
#include <stdio.h>
static void text(const wchar_t* name) {
    HRSRC r = FindResourceW(NULL, name, L"Text");
    if (!r) { printf("%ls=<none>\n", name); return; }
    printf("%ls=[%.*s]\n", name, (int)SizeofResource(NULL, r), (const char*)LoadResource(NULL, r));
}
int main(void) {
    /* Unbuffered, and this line first: output shows the program was reached. */
    setvbuf(stdout, NULL, _IONBF, 0);
    printf("probe=%lu\n", GetCurrentProcessId());
    text(L"CommandLine");
    text(L"CONFIG");
    HRSRC k = FindResourceW(NULL, L"KEL-APPLICATION.KEL", L"KELFILE");
    printf("KELFILE=%lu\n", k ? (unsigned long)SizeofResource(NULL, k) : 0UL);
    HRSRC s = FindResourceW(NULL, L"splash240.bmp", L"SplashScreen");
    printf("SPLASH=%lu\n", s ? (unsigned long)SizeofResource(NULL, s) : 0UL);
    printf("ICON50=%s\n", LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(50)) ? "yes" : "no");
    return 0;
}
C
cat > own.rc <<'RC'
1 VERSIONINFO
FILEVERSION 1,0,0,0
BEGIN
END
CommandLine Text { "old.Main" }
Keep RCDATA { "kept" }
RC

# Inputs: two bitmaps, an icon, an application package.
"$PY" - <<'PYEOF' || exit 1
import struct
def bmp(path, w, h, bits):
    stride = ((bits * w + 7) // 8 + 3) // 4 * 4
    # Distinct palette entries, every one used, and more than 256 colours at
    # 24 bits: each file is at its smallest exact depth, so kelpack packs it as it is.
    pal = b'' if bits == 24 else b''.join(bytes((i, 255 - i, (i * 7) & 0xff, 0)) for i in range(1 << bits))
    off = 54 + len(pal)
    px = bytes((i * 13 + i // 997) & 0xff for i in range(stride * h))
    head = b'BM' + struct.pack('<IHHI', off + len(px), 0, 0, off)
    head += struct.pack('<IiiHHIIiiII', 40, w, h, 1, bits, 0, len(px), 2835, 2835, 0, 0)
    open(path, 'wb').write(head + pal + px)
bmp('splash240.bmp', 240, 320, 24)
bmp('splash480.bmp', 480, 640, 8)
w = 32
dib = struct.pack('<IiiHHIIiiII', 40, w, 2 * w, 1, 32, 0, 0, 0, 0, 0, 0) + b'\x40' * (w * w * 4) + b'\x00' * (w * 4)
open('app.ico', 'wb').write(struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', w, w, 0, 0, 1, 32, len(dib), 22) + dib)
open('game.kel', 'wb').write(b'KEL\x00' + bytes(range(256)) * 3)
PYEOF

if [ ${#WINE_ARCHS[@]} -gt 0 ]; then
    # The prefix is made before the first run, not by it: the runs' own
    # output then holds only what the programs and Wine said about them.
    export WINEPREFIX=$WORK/wineprefix WINEDEBUG=-all,err+all
    wineboot -i > wineboot.log 2>&1 || echo "wineboot -i ended with code $? (see $WORK/wineboot.log)"
fi

exes=()
for arch in "${ARCHS[@]}"; do
    exes+=(probe-$arch probe-$arch-rsrc)
    ${arch}-w64-mingw32-gcc -O1 -s probe.c -o probe-$arch.exe || exit 1
    ${arch}-w64-mingw32-windres own.rc -o own-$arch.o || exit 1
    ${arch}-w64-mingw32-gcc -O1 -s probe.c own-$arch.o -o probe-$arch-rsrc.exe || exit 1
done

for exe in "${exes[@]}"; do
    fails_before=$fails
    before=$(sha256sum "$exe.exe")
    "$KELPACK" pack "$exe.exe" -o "$exe-packed.exe" --app game.kel --command-line 'game.Main -x "a b"' \
        --splash 240x320:splash240.bmp --splash 480x640:splash480.bmp:Big.bmp --title 'Round Trip' \
        --icon app.ico > pack.log 2>&1 || { cat pack.log; fail "$exe: kelpack pack"; continue; }
    [ "$before" = "$(sha256sum "$exe.exe")" ] || fail "$exe: the input changed"

    # wrestool: each resource comes back as the bytes that went in.
    check() {  # type name expected-file
        wrestool -x --raw -t "$1" -n "$2" "$exe-packed.exe" > got.bin 2>/dev/null
        cmp -s got.bin "$3" || fail "$exe: wrestool -t $1 -n $2 differs from $3"
    }
    printf '%s' 'game.Main -x "a b"' > want-cl.txt
    printf '%s' 'SplashScreen=240x320;splash240.bmp|SplashScreen=480x640;Big.bmp|SplashScreenTitle=Round Trip' > want-config.txt
    check KELFILE KEL-APPLICATION.KEL game.kel
    check TEXT COMMANDLINE want-cl.txt
    check TEXT CONFIG want-config.txt
    check SPLASHSCREEN SPLASH240.BMP splash240.bmp
    check SPLASHSCREEN BIG.BMP splash480.bmp
    # The icon image itself, and the .ico file wrestool rebuilds from group 50
    # (it pads its output with zeros, so only the icon file's length counts).
    tail -c +23 app.ico > want-icon.bin
    check 3 1 want-icon.bin
    wrestool -x -t 14 -n 50 "$exe-packed.exe" > got.ico 2>/dev/null
    cmp -s -n "$(stat -c %s app.ico)" got.ico app.ico || fail "$exe: wrestool rebuilds a different icon file from group 50"
    case $exe in *-rsrc)
        printf 'kept' > want-keep.txt
        check 10 KEEP want-keep.txt
        wrestool -l "$exe-packed.exe" | grep -q -- '--type=16 --name=1 ' || fail "$exe: the version resource was lost" ;;
    esac

    # pefile: headers are consistent and the tree holds exactly what was packed.
    "$PY" - "$exe.exe" "$exe-packed.exe" <<'PYEOF' || fail "$exe: pefile check"
import sys, pefile
before = set(pefile.PE(sys.argv[1]).get_warnings())  # e.g. about the input's own version resource
pe = pefile.PE(sys.argv[2])
problems = []
if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
    problems.append('checksum %#x, expected %#x' % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
last = max(pe.sections, key=lambda s: s.VirtualAddress)
align = pe.OPTIONAL_HEADER.SectionAlignment
end = last.VirtualAddress + max(last.Misc_VirtualSize, 1)
if pe.OPTIONAL_HEADER.SizeOfImage != (end + align - 1) // align * align:
    problems.append('SizeOfImage %#x' % pe.OPTIONAL_HEADER.SizeOfImage)
found = {}
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    tname = str(t.name) if t.name is not None else t.id
    for n in t.directory.entries:
        nname = str(n.name) if n.name is not None else n.id
        for l in n.directory.entries:
            d = l.data.struct
            found[(tname, nname)] = pe.get_data(d.OffsetToData, d.Size)
want = {
    ('KELFILE', 'KEL-APPLICATION.KEL'): open('game.kel', 'rb').read(),
    ('TEXT', 'COMMANDLINE'): b'game.Main -x "a b"',
    ('SPLASHSCREEN', 'SPLASH240.BMP'): open('splash240.bmp', 'rb').read(),
    ('SPLASHSCREEN', 'BIG.BMP'): open('splash480.bmp', 'rb').read(),
}
for k, v in want.items():
    if found.get(k) != v:
        problems.append('resource %s/%s differs' % k)
if 50 not in [n for (t, n) in found if t == 14]:
    problems.append('no icon group 50')
for w in pe.get_warnings():
    if w.split(' at file offset')[0] not in {b.split(' at file offset')[0] for b in before}:
        problems.append('pefile warns: ' + w)
if problems:
    print('\n'.join(problems))
    sys.exit(1)
PYEOF

    # kelpack's own reader agrees.
    "$KELPACK" show --json "$exe-packed.exe" > show.json || fail "$exe: kelpack show"
    grep -q '"command_line": "game.Main -x \\"a b\\""' show.json || fail "$exe: kelpack show command line"

    arch=${exe#probe-}; arch=${arch%-rsrc}
    if run_under_wine "$arch"; then
        # A probe that did not announce itself never ran: Wine failed to
        # start it. That start, and only that kind, is tried once more.
        wine "$exe-packed.exe" > wine.out 2> wine.err; code=$?
        if ! grep -q '^probe=' wine.out; then
            echo "Wine did not start $exe-packed.exe (exit code $code, stderr: $(head -c 600 wine.err)); once more"
            wine "$exe-packed.exe" > wine.out 2> wine.err; code=$?
        fi
        tr -d '\r' < wine.out > wine.txt
        said="exit code $code, output: $(cat wine.txt), stderr: $(head -c 600 wine.err)"
        grep -qx 'CommandLine=\[game.Main -x "a b"\]' wine.txt || fail "$exe: FindResourceW CommandLine under Wine: $said"
        grep -qxF "CONFIG=[$(cat want-config.txt)]" wine.txt || fail "$exe: CONFIG under Wine"
        grep -qx "KELFILE=$(stat -c %s game.kel)" wine.txt || fail "$exe: KELFILE under Wine"
        grep -qx "SPLASH=$(stat -c %s splash240.bmp)" wine.txt || fail "$exe: SplashScreen under Wine"
        grep -qx 'ICON50=yes' wine.txt || fail "$exe: LoadIconW 50 under Wine"
    fi
    [ $fails = $fails_before ] && echo "ok: $exe"
done

[ $fails = 0 ] || { echo "$fails failure(s)"; exit 1; }
[ $wine_missing = 0 ] || { echo "SKIP: wine not installed: the packed programs were checked but not run"; exit 77; }
echo "PASS"
