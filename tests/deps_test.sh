#!/bin/bash
# tools/deps.sh against a stand-in package system: apt-get, dpkg and
# dpkg-query are replaced (on PATH) by small scripts that keep the foreign
# architectures and the installed packages in files, and refresh the i386
# indexes only when told the archive allows it. Each case checks what a real
# machine would be left with: the foreign architectures, whether wine32 is
# installed, the note make deps keeps, and the exit status.
#
# Usage: deps_test.sh   Exit: 0 pass, 1 fail.
set -u
here=$(cd "$(dirname "$0")" && pwd)
deps=$here/../tools/deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

mkdir -p "$work/bin"
cat > "$work/bin/dpkg" <<'SH'
#!/bin/bash
echo "dpkg $*" >> "$STATE/calls"
case $1 in
    --print-architecture) echo amd64 ;;
    --print-foreign-architectures) cat "$STATE/foreign" ;;
    --add-architecture) echo "$2" >> "$STATE/foreign" ;;
    --remove-architecture)
        grep -q ":$2\$" "$STATE/installed" && { echo "dpkg: error: cannot remove architecture '$2' currently in use by the database" >&2; exit 2; }
        grep -vx "$2" "$STATE/foreign" > "$STATE/foreign.new"; mv "$STATE/foreign.new" "$STATE/foreign" ;;
esac
SH
cat > "$work/bin/dpkg-query" <<'SH'
#!/bin/bash
format=; names=()
for a in "$@"; do case $a in -W) ;; -f=*) format=${a#-f=} ;; *) names+=("$a") ;; esac; done
case $format in
    *Status*) grep -qx "${names[0]}" "$STATE/installed" && { echo "install ok installed"; exit 0; }
              echo "dpkg-query: no packages found matching ${names[0]}" >&2; exit 1 ;;
    *) grep ':i386$' "$STATE/installed" || exit 1 ;;
esac
SH
cat > "$work/bin/apt-get" <<'SH'
#!/bin/bash
echo "apt-get $*" >> "$STATE/calls"
words=(); for a in "$@"; do case $a in -*|DPkg::*) ;; *) words+=("$a") ;; esac; done
case ${words[0]} in
    update)
        if grep -qx i386 "$STATE/foreign" && [ "$I386_INDEX" = lagging ]; then
            echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
            exit 100
        fi ;;
    install)
        for p in "${words[@]:1}"; do
            case $p in
                wine32:i386)
                    if [ "$I386_INDEX" = half ]; then   # dpkg fails halfway through
                        echo "libwine:i386" >> "$STATE/installed"
                        echo "E: Sub-process /usr/bin/dpkg returned an error code (1)"; exit 100
                    fi
                    grep -qx i386 "$STATE/foreign" && [ "$I386_INDEX" = current ] ||
                        { echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."; exit 100; }
                    echo "wine32:i386" >> "$STATE/installed"; echo "libwine:i386" >> "$STATE/installed" ;;
                unknown-*) echo "E: Unable to locate package $p"; exit 100 ;;
                *) echo "$p" >> "$STATE/installed" ;;
            esac
        done ;;
    purge)
        for p in "${words[@]:1}"; do grep -vx "$p" "$STATE/installed" > "$STATE/i.new"; mv "$STATE/i.new" "$STATE/installed"; done ;;
esac
SH
printf '#!/bin/sh\nexec "$@"\n' > "$work/bin/sudo"
# The 32-bit loader wine32:i386 brings: it runs unless the kernel cannot run 32-bit programs.
cat > "$work/bin/wine32-loader" <<'SH'
#!/bin/bash
[ "$KERNEL_RUNS_I386" = yes ] && { echo "wine-8.0 (Debian 8.0~repack-4)"; exit 0; }
echo "wine: 40: exec: /usr/lib/wine/wine: Exec format error" >&2; exit 126
SH
chmod +x "$work/bin/"*

# case NAME FOREIGN I386_INDEX NOTE_AGE_MINUTES PACKAGES -- WANT_EXIT WANT_FOREIGN WANT_WINE32 WANT_NOTE WANT_CALL NOT_CALL
#   FOREIGN: foreign architectures before ("-" none); I386_INDEX: lagging, current, or half
#   (wine32's install fails halfway, leaving i386 packages), or current-no-i386-kernel (it
#   installs, but the kernel cannot run its 32-bit loader);
#   NOTE_AGE_MINUTES: age of an earlier failure's note ("-" none); PACKAGES: asked for, comma-separated,
#   installed already unless named new-* (installable) or unknown-* (not in the archive);
#   "wine32" among them: wine32:i386 and its preloader installed already; WANT_WINE32: yes/no; WANT_NOTE: yes/no;
#   WANT_CALL / NOT_CALL: a call that must / must not have been made ("-" for none).
check() {
    local name=$1 foreign=$2 index=$3 age=$4 packages=$5 want_exit=$7 want_foreign=$8 want_wine32=$9
    local runs_i386=yes
    [ "$index" = current-no-i386-kernel ] && index=current runs_i386=no
    local want_note=${10} want_call=${11} not_call=${12}
    local state=$work/$name stamps=$work/$name/stamps
    mkdir -p "$stamps"
    [ "$foreign" = - ] && : > "$state/foreign" || echo "$foreign" > "$state/foreign"
    : > "$state/installed"; : > "$state/calls"
    local asked=()
    IFS=, read -ra list <<< "$packages"
    for p in "${list[@]}"; do
        case $p in
            wine32) printf 'wine32:i386\nwine32-preloader:i386\n' >> "$state/installed" ;;
            new-*|unknown-*) asked+=("$p") ;;
            *) echo "$p" >> "$state/installed"; asked+=("$p") ;;
        esac
    done
    if [ "$age" != - ]; then
        echo "earlier: wine32:i386 could not be installed" > "$stamps/wine32.txt"
        touch -d "-$age minutes" "$stamps/wine32.txt"
    fi
    STATE=$state I386_INDEX=$index KERNEL_RUNS_I386=$runs_i386 WINE32_LOADER=$work/bin/wine32-loader PATH=$work/bin:$PATH bash "$deps" "$stamps" "${asked[@]}" > "$state/out" 2>&1
    local code=$? before=$fails
    [ $code = "$want_exit" ] || fail "$name: exit $code, expected $want_exit: $(cat "$state/out")"
    local got_foreign
    got_foreign=$(tr '\n' ' ' < "$state/foreign" | sed 's/ $//')
    [ "$got_foreign" = "${want_foreign/-/}" ] || fail "$name: foreign architectures '$got_foreign', expected '${want_foreign/-/}'"
    local got_wine32=no
    grep -qx wine32:i386 "$state/installed" && got_wine32=yes
    [ $got_wine32 = "$want_wine32" ] || fail "$name: wine32 installed: $got_wine32, expected $want_wine32"
    grep -q ':i386$' "$state/installed" && [ -z "$got_foreign" ] && fail "$name: i386 packages left without the architecture"
    local got_note=no
    [ -f "$stamps/wine32.txt" ] && got_note=yes
    [ $got_note = "$want_note" ] || fail "$name: note kept: $got_note, expected $want_note"
    [ "$want_call" = - ] || grep -qF -- "$want_call" "$state/calls" || fail "$name: no call '$want_call' in: $(cat "$state/calls")"
    [ "$not_call" = - ] || ! grep -qF -- "$not_call" "$state/calls" || fail "$name: unexpected call '$not_call'"
    [ $fails = "$before" ] && echo "ok: $name"
}

#     name                   foreign index    age  packages           -- exit foreign wine32 note call                        not call
check lagging-no-i386-before -       lagging  -    cmake,make         -- 0    -       no     yes  "dpkg --remove-architecture" -
check lagging-i386-before    i386    lagging  -    cmake              -- 0    i386    no     yes  "apt-get -o DPkg::Lock::Timeout=600 install" "--remove-architecture"
check archive-current        -       current  -    cmake              -- 0    i386    yes    no   "install -y -qq --no-install-recommends wine32:i386 wine32-preloader:i386" "--remove-architecture"
check no-i386-kernel         -       current-no-i386-kernel - cmake -- 0 - no  yes  "purge -y -qq wine32:i386 wine32-preloader:i386" -
check no-i386-kernel-had-i386 i386   current-no-i386-kernel - cmake -- 0 i386 no yes "purge -y -qq wine32:i386 wine32-preloader:i386" "--remove-architecture"
check half-installed         -       half     -    cmake              -- 0    -       no     yes  "purge -y -qq --allow-remove-essential libwine:i386" -
check recent-failure-waits   -       current  60   cmake              -- 0    -       no     yes  -                           "apt-get"
check old-failure-retried    -       current  800  cmake              -- 0    i386    yes    no   "dpkg --add-architecture i386" -
check already-installed      i386    lagging  -    cmake,wine32       -- 0    i386    yes    no   -                           "apt-get"
check missing-installs-first -       lagging  -    cmake,new-pkg      -- 0    -       no     yes  "install -y -qq --no-install-recommends new-pkg" -
check missing-cannot-install -       lagging  -    unknown-pkg        -- 1    -       no     no   "install -y -qq --no-install-recommends unknown-pkg" "--add-architecture"

[ $fails = 0 ] && echo "PASS" || echo "$fails failure(s)"
[ $fails = 0 ]
