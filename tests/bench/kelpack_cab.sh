#!/usr/bin/env bash
# `kelpack cab` beside gcab, a general cabinet writer, on the same members:
# a copy of the device's kel.exe carrying a 30 MB application package (a
# third of it random, the rest text-like, so that MSZIP has work to do) and
# the engine. For each of stored and MSZIP: the best wall time of three runs
# and the peak resident memory (/usr/bin/time -v), the cabinet's size, and
# kelpack's time and size over gcab's. Figures, not a test: nothing here fails
# on a ratio.
# Usage: tests/bench/kelpack_cab.sh [KELPACK [DEVICE_BIN]]
#   (defaults: build/host/bin/kelpack and build/wince-arm/bin; exit 77 when a
#   file, gcab or cabextract is missing)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
kelpack=${1:-$top/build/host/bin/kelpack}
device=${2:-$top/build/wince-arm/bin}
for f in "$kelpack" "$device/kel.exe" "$device/Kel.dll" /usr/bin/time; do
    [ -f "$f" ] || { echo "no $f (build host and wince-arm; /usr/bin/time is Debian's time)" >&2; exit 77; }
done
for tool in gcab cabextract; do
    command -v "$tool" >/dev/null || { echo "no $tool (make deps installs it)" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/app.kel" <<'PY'
import random, sys
rng = random.Random(30)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
with open(sys.argv[1], "wb") as f:
    for block in range(30 * 16):  # 30 MB in 64 KiB pieces
        if block % 3 == 0:
            f.write(rng.randbytes(65536))
        else:
            text = b" ".join(rng.choice(words) for _ in range(12000))
            f.write(text[:65536].ljust(65536, b"."))
PY
"$kelpack" pack "$device/kel.exe" -o "$work/Game.exe" --app "$work/app.kel" --command-line game.Main >/dev/null 2>&1
cp "$device/Kel.dll" "$work/Kel.dll"

# best-of-three seconds and the peak KiB of the last run, for one command
measure() {
    local best= rss= log=$work/time.log
    for _ in 1 2 3; do
        /usr/bin/time -v "$@" >/dev/null 2>"$log" || { cat "$log" >&2; exit 1; }
        local s
        s=$(sed -n 's/^[[:space:]]*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" | awk -F: '{ print $(NF-1) * 60 + $NF }')
        rss=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$log")
        best=$(awk -v a="${best:-$s}" -v b="$s" 'BEGIN { print (b < a ? b : a) }')
    done
    echo "$best $rss"
}

echo "kelpack cab beside gcab: $(stat -c %s "$work/Game.exe") byte copy, $(stat -c %s "$work/Kel.dll") byte engine"
printf '%-22s %9s %10s %12s %10s %10s\n' writer seconds "peak MiB" bytes "time/gcab" "size/gcab"
for mode in stored mszip; do
    flag=; zflag=
    [ $mode = mszip ] && flag=--compress && zflag=-z
    read -r kt kr < <(measure "$kelpack" cab "$work/Game.exe" --engine "$work/Kel.dll" --provider Bench -o "$work/k.cab" $flag)
    # gcab gets the very members, in kelpack's order.
    rm -rf "$work/m" && mkdir "$work/m"
    (cd "$work/m" && cabextract -q ../k.cab)
    members=$(cabextract -l "$work/k.cab" | sed -n 's/^.* | //p' | tail -n +2)
    read -r gt gr < <(cd "$work/m" && measure gcab -c $zflag "$work/g.cab" $members)
    ks=$(stat -c %s "$work/k.cab")
    gs=$(stat -c %s "$work/g.cab")
    printf '%-22s %9.3f %10.1f %12s %10s %10s\n' "kelpack cab $mode" "$kt" "$(awk -v k="$kr" 'BEGIN { print k / 1024 }')" "$ks" \
        "$(awk -v a="$kt" -v b="$gt" 'BEGIN { printf "%.2fx", (b > 0 ? a / b : 0) }')" "$(awk -v a="$ks" -v b="$gs" 'BEGIN { printf "%.4f", a / b }')"
    printf '%-22s %9.3f %10.1f %12s\n' "gcab -c $zflag" "$gt" "$(awk -v k="$gr" 'BEGIN { print k / 1024 }')" "$gs"
done
