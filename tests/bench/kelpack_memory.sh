#!/usr/bin/env bash
# Peak resident memory and time of `kelpack pack` where inputs are large, as
# /usr/bin/time -v reports them: a 200 MB application package (a sparse
# file, made with truncate) packed with --allow-large, the same package
# refused without it, and the largest picture kelpack decodes (8192x8192,
# 64 Mi pixels) fitted to a 480x640 entry.
# Usage: tests/bench/kelpack_memory.sh [KELPACK [LAUNCHER]]
#   (defaults: build/host/bin/kelpack and build/windows/bin/kel.exe;
#   exit 77 when either is missing)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
kelpack=${1:-$top/build/host/bin/kelpack}
launcher=${2:-$top/build/windows/bin/kel.exe}
for f in "$kelpack" "$launcher"; do
    if [ ! -f "$f" ]; then
        echo "no $f: build it first (cmake --build --preset host / --preset windows)" >&2
        exit 77
    fi
done
if [ ! -x /usr/bin/time ]; then
    echo "no /usr/bin/time (Debian package time)" >&2
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

truncate -s 200M "$work/app.kel"
# An 8192x8192 picture of more than 256 colours whose rows repeat the first
# (PNG's "up" filter, all zero after it): a file of a few hundred KiB, so
# that what is measured is decoding and scaling, not the file.
python3 - "$work/big.png" <<'PY'
import struct, sys, zlib
w = h = 8192
row = bytes(b for x in range(w) for b in (x % 256, (x // 32) % 256, 128))
z = zlib.compressobj(6)
body = b"".join(z.compress(b"\2" + (row if y == 0 else bytes(len(row)))) for y in range(h)) + z.flush()
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + chunk(b"IDAT", body) + chunk(b"IEND", b""))
PY

measure() {
    local what=$1
    shift
    local log=$work/time.log code=0
    /usr/bin/time -v "$kelpack" "$@" >/dev/null 2>"$log" || code=$?
    local rss seconds
    rss=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$log")
    seconds=$(sed -n 's/^[[:space:]]*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
    printf '%-52s exit %-3s peak %8s KiB (%6.1f MiB)  %s\n' "$what" "$code" "$rss" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$seconds"
    rm -f "$work/out.exe"
}

echo "kelpack pack: peak resident memory and wall time ($(basename "$launcher") as the launcher)"
measure "200 MB package, --allow-large" pack "$launcher" -o "$work/out.exe" --app "$work/app.kel" --allow-large
measure "200 MB package, refused (exit 4 expected)" pack "$launcher" -o "$work/out.exe" --app "$work/app.kel"
measure "8192x8192 PNG, --fit to 480x640" pack "$launcher" -o "$work/out.exe" --splash "480x640:$work/big.png" --fit
