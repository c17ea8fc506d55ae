#!/usr/bin/env bash
# make demo: packages a small sample application into a copy of the
# launcher, starts it under Wine on a virtual 480x640 display, and tells
# what happened: the command line the engine received, the splash and the
# application on screenshots, a second start handed over, a command relayed,
# and the exit code; then makes the same application's installation cabinet
# for the device (when the device's kel.exe is built) and shows what it installs.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build/windows"
demo="$root/build/demo"

if [ ! -f "$build/bin/kel.exe" ] || [ ! -f "$build/bin/Kel.dll" ]; then
    echo "Build the launcher first: cmake --preset windows && cmake --build --preset windows" >&2
    exit 1
fi

# The packager is a host program.
if [ ! -x "$root/build/host/bin/kelpack" ]; then
    echo "Building the packager (kelpack)..."
    (cd "$root" && cmake --preset host >/dev/null && cmake --build --preset host --target kelpack -j "$(nproc)" >/dev/null)
fi

export KEL_E2E_BUILD="$build" KEL_E2E_SOURCE="$root" KEL_E2E_RUN_DIR="$demo/run" PYTHONDONTWRITEBYTECODE=1

echo "Starting a virtual display and a fresh Wine prefix (about 15 s)..."
python3 "$here/fixture.py" setup >"$demo.setup.log" 2>&1 || { cat "$demo.setup.log"; exit 1; }
trap 'python3 "$here/fixture.py" cleanup >/dev/null 2>&1 || true' EXIT

python3 "$here/demo.py" "$demo" "$root/build/host/bin/kelpack"
