#!/usr/bin/env bash
# make deps: installs the Debian packages the build and the tests need, then
# tries to add 32-bit Wine (wine32:i386), which Debian's amd64 Wine needs to
# run i686 programs.
#
#   tools/deps.sh STAMP_DIR PACKAGE...
#
# The packages are required: when they cannot be installed this exits 1.
# 32-bit Wine is wanted, not required. Some days the archive's i386 indexes
# lag behind amd64 (apt-get update then fails once i386 is added, and the
# install cannot resolve), so its outcome decides nothing but whether the
# 32-bit Wine runs happen; the tests find that out by running an i686
# program. When wine32 cannot be had, the i386 architecture is taken out
# again if this script added it, and the machine is left as it was.
# A failed attempt is not repeated for WINE32_RETRY_HOURS (default 12); the
# outcome is kept in STAMP_DIR/wine32.txt (delete it to try again at once).
set -u
stamps=${1:?usage: deps.sh STAMP_DIR PACKAGE...}
shift
retry_hours=${WINE32_RETRY_HOURS:-12}
sudo=
[ "$(id -u)" = 0 ] || sudo=sudo
# Another apt run (someone's upgrade) holds the lock for a while; wait for it.
apt() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }
installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "$@"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    # An index that fails to refresh must not stop the install by itself:
    # whether the packages can be installed decides.
    apt update -qq || echo "deps: apt-get update reported errors; installing from the indexes it has"
    apt install -y -qq --no-install-recommends "${missing[@]}" ||
        { echo "deps: could not install: ${missing[*]}" >&2; exit 1; }
fi

# ---------------------------------------------------------------- 32-bit Wine

# The 32-bit loader, and its preloader for the reason wine64-preloader is wanted.
wine32=(wine32:i386 wine32-preloader:i386)
# The program wine32:i386 installs, which must run here for it to be of use.
wine32_loader=${WINE32_LOADER:-/usr/lib/wine/wine}
[ "$(dpkg --print-architecture)" = amd64 ] || exit 0
installed wine32:i386 && installed wine32-preloader:i386 && exit 0
mkdir -p "$stamps"
stamp=$stamps/wine32.txt
if [ -n "$(find "$stamp" -mmin -$((retry_hours * 60)) 2>/dev/null)" ]; then
    echo "deps: wine32:i386 not tried again: $(cat "$stamp") (delete $stamp to retry now)"
    exit 0
fi

log=$stamps/wine32.log
had_i386=0
dpkg --print-foreign-architectures | grep -qx i386 && had_i386=1
echo "Installing wine32:i386 for 32-bit Wine runs (log: $log)"
{
    [ $had_i386 = 1 ] || $sudo dpkg --add-architecture i386
    # Its exit status is not the verdict: an i386 index caught mid-sync fails
    # it, yet the install below may still resolve from what was fetched.
    apt update -qq
    echo "apt-get update: exit $?"
    apt install -y -qq --no-install-recommends "${wine32[@]}"
} >"$log" 2>&1
why=
if installed wine32:i386 && installed wine32-preloader:i386; then
    # Debian's wine command prefers the 32-bit loader once it is there, for
    # 64-bit programs too; on a kernel that cannot run 32-bit programs every
    # Wine start would then fail ("Exec format error"). Such a machine is
    # better off without it.
    if ran=$("$wine32_loader" --version 2>&1); then
        rm -f "$stamp"
        echo "deps: wine32:i386 installed ($ran)"
        exit 0
    fi
    why="this machine does not run its 32-bit loader: $(echo "$ran" | tail -1) "
    echo "$wine32_loader --version: $ran" >>"$log"
    apt purge -y -qq "${wine32[@]}" >>"$log" 2>&1
fi

[ -n "$why" ] || why=$(grep -E '^(E|W): ' "$log" | tail -3 | tr '\n' ' ')
printf '%s: wine32:i386 cannot be had: %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')" "${why:-see $log}" >"$stamp"
echo "deps: wine32:i386 cannot be had; going on without 32-bit Wine."
echo "      ${why:-see $log}"
if [ $had_i386 = 0 ]; then
    echo "deps: taking the i386 architecture out again"
    {
        # A half-done install may have left i386 packages, which keep the
        # architecture in use; this script brought them, so they go too.
        # Some are protected (libgcc-s1:i386), which apt removes only when told.
        leftovers=$(dpkg-query -W -f='${binary:Package}\n' '*:i386' 2>/dev/null)
        [ -z "$leftovers" ] || apt purge -y -qq --allow-remove-essential $leftovers
        $sudo dpkg --remove-architecture i386
        apt update -qq
    } >>"$log" 2>&1 || echo "deps: removing i386 did not go cleanly (see $log)" >&2
    dpkg --print-foreign-architectures | grep -qx i386 && echo "deps: i386 is still a foreign architecture" >&2
fi
exit 0
