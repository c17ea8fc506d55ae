#!/usr/bin/env bash
# make dist: the release as one archive for packagers and engine authors,
# build/dist/kel-VERSION.tar.gz, and as the Debian package
# build/dist/kelpack_VERSION_amd64.deb, checked the way they would use them.
#
#   tools/dist.sh
#
# 1. Builds the host, windows, windows-x86 and wince-arm presets
#    (tests/stages.sh's build stages; make dist runs make deps first). The
#    device's files are part of every release: without the device's
#    compiler there is no archive.
# 2. Installs the four trees into one staging folder, kel-VERSION/, writes
#    the release's own README.md there from tools/release/README.md.in (its
#    version and sizes taken from the staged files), and writes
#    kel-VERSION/SHA256SUMS over every other file in it.
# 3. Packs it: names sorted, owner root, every time that of the last commit
#    (or SOURCE_DATE_EPOCH), so that the same build trees give the same bytes.
# 4. Unpacks the archive into a new temporary folder and checks there that it
#    holds exactly the release's files, that `sha256sum -c SHA256SUMS` passes,
#    that the Linux kelpack is static (no program interpreter, nothing for
#    ldd to list), that the README names every file and that its shell
#    commands run as written, one after the other, in an empty folder that
#    holds only the archive; that the Linux kelpack packs a sample
#    application with a splash image into copies of the x64 and the device's
#    kel.exe and explains them, makes the device's installation cabinet of
#    it, which cabextract tests, that the runtime's cabinet (made in the
#    staging) tests whole and registers .kel, and that the sample engine builds from its
#    unpacked source and header as an engine author builds it, for x64 and
#    for the device.
# 5. Makes the Debian package kelpack_VERSION_amd64.deb with dpkg-deb from the
#    unpacked, checked files, checks what it holds, and runs lintian on it,
#    which must report no error. With DIST_FRESH_ROOT=1 (root, debootstrap,
#    the network; a few minutes more) it is also installed with apt into a
#    new minimal Debian 12 root, used as the README says and removed again.
#
# The archive and the package are put in place only when every check passed
# (earlier ones are removed first); the staging and check folders are
# removed either way.
# VERSION is project()'s, read from the host build.
# Exit: 0 done, 1 a build, the staging or a check failed.
set -u
cd "$(dirname "$0")/.."

# What the archive holds below kel-VERSION/, in C sort order (README.md
# describes this layout); tests/install_test.sh checks the host tree's part.
release_files=$(cat tools/release_files.txt)

die() { echo "dist: $*" >&2; exit 1; }

# The sample application's splash, as a packager would give it: a PNG.
splash=splash.png

# An archive or package from an earlier run must not pass for this one's.
rm -f build/dist/kel-*.tar.gz build/dist/kelpack_*.deb

# The release's README with its figures filled in from the staged release in
# ROOT: @VERSION@, and @SIZE PATH@ as PATH's size in bytes. A figure for a
# file the release lacks, or a placeholder left over, is an error.
release_readme() {  # ROOT
    local template=tools/release/README.md.in text path size
    text=$(sed "s/@VERSION@/$version/g" "$template") || return 1
    while read -r path; do
        size=$(stat -c %s "$1/$path" 2>/dev/null) ||
            { echo "dist: $template gives the size of $path, which the release does not have" >&2; return 1; }
        text=${text//"@SIZE $path@"/$size}
    done < <(grep -o '@SIZE [^@]*@' "$template" | sed 's/^@SIZE //; s/@$//' | LC_ALL=C sort -u)
    if grep -nE '@[A-Z]+( [^@]*)?@' <<<"$text" >&2; then
        echo "dist: $template: placeholders left unfilled (above)" >&2
        return 1
    fi
    printf '%s\n' "$text"
}

bash tools/ce_toolchain.sh >/dev/null || die "the device's kel.exe and Kel.dll cannot be built; no archive made"
STAGES_NAME="make dist" bash tests/stages.sh build-host build-windows build-windows-x86 build-wince-arm ||
    die "a build failed; no archive made"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/host/CMakeCache.txt)
[ -n "$version" ] || die "build/host/CMakeCache.txt names no project version"
name=kel-$version
archive=build/dist/$name.tar.gz
deb=build/dist/kelpack_${version}_amd64.deb
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}

stage=$(mktemp -d)
check=$(mktemp -d)
trap 'rm -rf "$stage" "$check" "$archive.tmp"' EXIT

echo "== staging $name"
# The host kelpack loses its debugging information; the Windows files are
# linked stripped and go in as built, the very files their tests ran.
for tree in "build/host --strip" build/windows build/windows-x86 build/wince-arm; do
    env -u DESTDIR cmake --install $tree --prefix "$stage/$name" > "$stage/install.log" 2>&1 ||
        { cat "$stage/install.log" >&2; die "cmake --install $tree failed"; }
done
# The runtime's cabinet: the device's kel.exe as built beside the shared
# engine, the handler of .kel files that the applications' cabinets leave the
# file type to. Made with the release's own kelpack, dated no later than the
# release, so that the same build trees give the same cabinet.
device=$stage/$name/share/kel/wince-arm
SOURCE_DATE_EPOCH=$epoch "$stage/$name/bin/kelpack" cab --runtime "$device/kel.exe" --engine "$device/Kel.dll" \
    -o "$device/KelRuntime.cab" --compress > "$stage/runtime.log" 2>&1 ||
    { cat "$stage/runtime.log" >&2; die "kelpack cab --runtime failed"; }
release_readme "$stage/$name" > "$stage/$name/README.md" || die "could not write README.md"
(cd "$stage/$name" && find . -type f ! -path ./SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    xargs -d '\n' sha256sum > SHA256SUMS) || die "could not write SHA256SUMS"

mkdir -p build/dist
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    --mode='u+rwX,go+rX,go-w' -cf - "$name" | gzip -9n > "$archive.tmp" || die "could not pack $archive"

echo "== checking $archive"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
tar -C "$check" -xzf "$archive.tmp" || die "$archive does not unpack"
root=$check/$name
files=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$files" = "$release_files" ] ||
    fail "the archive's files differ from the release's:$(diff <(echo "$release_files") <(echo "$files") | grep '^[<>]')"
(cd "$root" && sha256sum --quiet -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS"

kelpack=$root/bin/kelpack
[ "$("$kelpack" --version)" = "kelpack $version" ] || fail "bin/kelpack --version does not say kelpack $version"

# One static program: no interpreter to ask for, no library the system must have.
ldd_says=$(ldd "$kelpack" 2>&1)
echo "ldd bin/kelpack: $ldd_says"
if grep -qE '=>|ld-linux|linux-vdso' <<<"$ldd_says" || readelf -lW "$kelpack" | grep -q 'program interpreter'; then
    fail "bin/kelpack is linked dynamically: $ldd_says"
fi

# The README is the release's: it names each of its files, and its commands
# (the fenced sh blocks, in order, in one shell) work as a new user runs
# them: in an empty folder that holds the downloaded archive, with nothing
# set beforehand. A command that fails ends the run and fails the check.
readme=$root/README.md
while read -r file; do
    grep -qF "\`$file\`" "$readme" || fail "README.md does not name $file"
done <<<"$release_files"
awk '/^```sh$/ {run = 1; next} /^```/ {run = 0} run' "$readme" > "$check/readme.sh"
if [ -s "$check/readme.sh" ]; then
    user=$check/user
    mkdir "$user" && cp "$archive.tmp" "$user/$name.tar.gz"
    echo "== README.md's commands, in an empty folder holding $name.tar.gz"
    (cd "$user" && env -i HOME="$user" PATH="$PATH" LANG=C.UTF-8 bash -e -o pipefail -v "$check/readme.sh") 2>&1 |
        sed 's/^/  | /'
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "a command of README.md failed (the last one above)"
else
    fail "README.md has no shell commands (\`\`\`sh blocks) to follow"
fi

# A sample application, packed as the README shows it, and explained.
sample=$check/sample
mkdir "$sample"
printf 'KEL sample application\n' > "$sample/sample.kel"
convert -size 240x320 gradient:navy-gold -type truecolor "PNG:$sample/$splash" || fail "convert made no $splash"
for arch in x64 wince-arm; do
    if (cd "$sample" && "$kelpack" pack "$root/share/kel/$arch/kel.exe" -o Sample-$arch.exe --app sample.kel \
            --command-line sample.Main --splash "240x320:$splash" --title Sample); then
        (cd "$sample" && "$kelpack" explain Sample-$arch.exe) > "$sample/explain.txt" 2>&1 ||
            fail "kelpack explain Sample-$arch.exe"
        cat "$sample/explain.txt"
        for want in 'the embedded CommandLine is "sample.Main"' '(entry 240x320): decodes' 'titled "Sample"'; do
            grep -qF -- "$want" "$sample/explain.txt" || fail "kelpack explain Sample-$arch.exe does not say: $want"
        done
    else
        fail "kelpack pack of a sample application with a PNG splash into the $arch kel.exe"
    fi
done

# The last step of the packager's path: the device copy made into the
# installer the handheld runs, with the archive's device engine, tested by
# cabextract and shown by kelpack.
if [ -f "$sample/Sample-wince-arm.exe" ]; then
    if (cd "$sample" && "$kelpack" cab Sample-wince-arm.exe -o Sample.cab --name Sample --provider "Kel Samples" \
            --engine "$root/share/kel/wince-arm/Kel.dll" --compress); then
        cabextract -t "$sample/Sample.cab" | tail -1 | grep -qF 'All done, no errors.' || fail "cabextract -t Sample.cab"
        "$kelpack" show "$sample/Sample.cab" > "$sample/show-cab.txt" 2>&1 || fail "kelpack show Sample.cab"
        for want in 'Application: "Sample"' '-> %CE1%\Sample\Sample-wince-arm.exe' '-> %CE2%\Kel.dll (\Windows\Kel.dll), shared' \
                'compressed with MSZIP' 'Registry values (0):'; do
            grep -qF -- "$want" "$sample/show-cab.txt" || fail "kelpack show Sample.cab does not say: $want"
        done
    else
        fail "kelpack cab of the device's sample copy"
    fi
fi
# The runtime's cabinet the archive carries: whole, and the owner of .kel.
runtime=$root/share/kel/wince-arm/KelRuntime.cab
cabextract -t "$runtime" | tail -1 | grep -qF 'All done, no errors.' || fail "cabextract -t KelRuntime.cab"
"$kelpack" show "$runtime" > "$check/show-runtime.txt" 2>&1 || fail "kelpack show KelRuntime.cab"
for want in '-> %CE2%\Kel.exe (\Windows\Kel.exe)' 'HKEY_CLASSES_ROOT\KelFile10\Shell\Open\Command (default) = ""%CE2%\Kel.exe" "%1""' \
        'HKEY_CLASSES_ROOT\.kel (default) = "KelFile10"'; do
    grep -qF -- "$want" "$check/show-runtime.txt" || fail "kelpack show KelRuntime.cab does not say: $want"
done

# An engine author's build: the sample engine from the archive, against the
# archive's header, exporting the entry routine undecorated.
engine=$root/share/doc/kel/examples/engine
if x86_64-w64-mingw32-g++ -shared -O2 -DUNICODE -D_UNICODE -I "$root/include" -o "$check/Kel.dll" "$engine/sample_engine.cpp" \
        -static -Wl,--kill-at -luser32 -lgdi32 -lws2_32 -ladvapi32; then
    x86_64-w64-mingw32-objdump -p "$check/Kel.dll" | grep -qE '^\s+\[\s*[0-9]+\]\s+KelMainW$' ||
        fail "the sample engine built from the archive does not export KelMainW"
else
    fail "the sample engine does not build from the archive's source and header"
fi
# The same for the device, with the command engine/README.md gives.
ce_bin=$(bash tools/ce_toolchain.sh)
if "$ce_bin/arm-mingw32ce-g++" -shared -Os -std=gnu++0x -fno-exceptions -fno-rtti -DUNICODE -D_UNICODE -I "$root/include" \
        -o "$check/Kel-ce.dll" "$engine/sample_engine.cpp" -static-libgcc -s -lws2; then
    "$ce_bin/arm-mingw32ce-objdump" -p "$check/Kel-ce.dll" | grep -qE '^\s+\[\s*[0-9]+\]\s+KelMainW$' ||
        fail "the device's sample engine built from the archive does not export KelMainW"
else
    fail "the sample engine does not build for the device from the archive's source and header"
fi

# The Debian package, from the files just checked: the Linux kelpack and
# its manual where man finds it, the launchers and engines, the header, and
# the documentation with the release README under the package's own name.
# Everything a Debian package needs beside them is generated here or kept in
# tools/release/ (control.in, copyright, lintian-overrides).
pkg=$check/deb
deb_made=$check/${deb##*/}
make_deb() {
    local doc=$pkg/usr/share/doc/kelpack arch
    install -d -m 0755 "$pkg/DEBIAN" "$pkg/usr/bin" "$pkg/usr/share/man/man1" "$pkg/usr/include/kel" \
        "$doc/examples/engine" "$pkg/usr/share/kel/sample" "$pkg/usr/share/lintian/overrides" || return 1
    install -m 0755 "$root/bin/kelpack" "$pkg/usr/bin/" &&
    gzip -9n < "$root/share/man/man1/kelpack.1" > "$pkg/usr/share/man/man1/kelpack.1.gz" &&
    install -m 0644 "$root/include/kel/kel.h" "$pkg/usr/include/kel/" &&
    install -m 0644 "$root"/share/kel/sample/* "$pkg/usr/share/kel/sample/" || return 1
    # kelpack.exe stays out: on this system the Linux kelpack does its work.
    for arch in wince-arm x64 x86; do
        install -d -m 0755 "$pkg/usr/share/kel/$arch" &&
        install -m 0644 "$root/share/kel/$arch/kel.exe" "$root/share/kel/$arch/Kel.dll" "$pkg/usr/share/kel/$arch/" || return 1
    done
    install -m 0644 "$root/README.md" tools/release/copyright "$doc/" &&
    install -m 0644 "$root"/share/doc/kel/examples/engine/* "$doc/examples/engine/" &&
    gzip -9n < "$root/share/doc/kel/kelpack.md" > "$doc/kelpack.md.gz" &&
    install -m 0644 tools/release/lintian-overrides "$pkg/usr/share/lintian/overrides/kelpack" || return 1
    # A native package's changelog: this release, dated with the archive's time.
    printf 'kelpack (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- %s  %s\n' \
        "$version" "$version" "$(sed -n 's/^Maintainer: //p' tools/release/control.in)" \
        "$(LC_ALL=C date -u -R -d "@$epoch")" | gzip -9n > "$doc/changelog.gz" || return 1
    sed -e "s/@VERSION@/$version/" -e "s/@INSTALLED_SIZE@/$(du -sk --exclude=DEBIAN "$pkg" | cut -f1)/" \
        tools/release/control.in > "$pkg/DEBIAN/control" &&
    (cd "$pkg" && find usr -type f | LC_ALL=C sort | xargs -d '\n' md5sum > DEBIAN/md5sums) || return 1
    chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"
    find "$pkg" -exec touch -h -d "@$epoch" {} + &&
    SOURCE_DATE_EPOCH=$epoch dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb_made" >/dev/null
}
echo "== making and checking $deb"
if make_deb; then
    # What it installs, against what the release holds.
    want=$(printf '%s\n' usr/bin/kelpack usr/include/kel/kel.h usr/share/man/man1/kelpack.1.gz \
            usr/share/doc/kelpack/{README.md,copyright,changelog.gz,kelpack.md.gz} \
            usr/share/lintian/overrides/kelpack \
            $(cd "$root/share/doc/kel" && printf 'usr/share/doc/kelpack/%s\n' examples/engine/*) \
            $(cd "$root/share" && printf 'usr/share/%s\n' kel/sample/* kel/*/kel.exe kel/*/Kel.dll) | LC_ALL=C sort)
    got=$(dpkg-deb --fsys-tarfile "$deb_made" | tar -t | grep -v '/$' | sed 's|^\./||' | LC_ALL=C sort)
    [ "$got" = "$want" ] || fail "$deb holds other files than the release's:$(diff <(echo "$want") <(echo "$got") | grep '^[<>]')"
    dpkg-deb --info "$deb_made" | sed -n 's/^ //; /^Package:/,$p'
    # No error may remain; warnings are shown, not fatal. The overrides are
    # shown with their reason, and lintian then counts them towards its exit
    # status (2), so the verdict is read from its E: lines; any other
    # status is lintian itself failing.
    echo "lintian $(basename "$deb"):"
    lintian_says=$(lintian --display-info --show-overrides "$deb_made" 2>&1)
    lintian_status=$?
    sed 's/^/  /' <<<"$lintian_says"
    if [ $lintian_status -ne 0 ] && [ $lintian_status -ne 2 ]; then
        fail "lintian could not check $deb (exit status $lintian_status)"
    elif grep -q '^E: ' <<<"$lintian_says"; then
        fail "lintian reports an error on $deb"
    fi
else
    fail "dpkg-deb could not make $deb"
fi

# With DIST_FRESH_ROOT=1 (as root, with debootstrap and the network): the
# package as a user of a new Debian 12 machine meets it. apt installs it
# into a new minimal root (from the archive this machine installs from),
# man finds its manual, kelpack runs, the README's commands after the
# unpacking work with KEL=/usr, as the README says, and apt removes it
# again without leaving a file behind. Nothing is mounted into the root, so
# removing the check folder removes it whole.
fresh_root_check() {
    local fresh=$check/fresh mirror=http://deb.debian.org/debian src
    [ "$(id -u)" = 0 ] && command -v debootstrap >/dev/null ||
        { echo "DIST_FRESH_ROOT needs root and debootstrap (apt-get install debootstrap)"; return 1; }
    src=$(ls /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
    [ -n "$src" ] && mirror=$(awk '/^URIs:/ {print $2; exit}' "$src")
    echo "== $deb in a new minimal Debian 12 root ($mirror)"
    debootstrap --variant=minbase bookworm "$fresh" "$mirror" > "$check/debootstrap.log" 2>&1 ||
        { tail -5 "$check/debootstrap.log"; return 1; }
    if [ -n "$src" ]; then
        rm -f "$fresh/etc/apt/sources.list"
        cp /etc/apt/sources.list.d/*.sources "$fresh/etc/apt/sources.list.d/"
    fi
    cp /etc/resolv.conf "$fresh/etc/resolv.conf" 2>/dev/null
    cp "$deb_made" "$fresh/root/"
    awk '/^```sh$/ {n++; run = n > 1; next} /^```/ {run = 0} run' "$readme" > "$fresh/root/readme.sh"
    dpkg-deb --fsys-tarfile "$deb_made" | tar -t | grep -v '/$' | sed 's|^\.||' > "$fresh/root/files"
    chroot "$fresh" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
        bash -e -o pipefail -c '
        cd /root
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends man-db > /dev/null 2>&1
        echo "\$ apt install ./'"${deb##*/}"'"
        apt-get install -y ./'"${deb##*/}"' 2>&1 | grep -v -e "^debconf:" -e "pts mounted"
        echo "\$ man kelpack"
        MANPAGER=cat MANWIDTH=80 man kelpack > man.txt
        head -8 man.txt
        echo "\$ kelpack --version"
        kelpack --version
        echo "\$ KEL=/usr: the README'"'"'s commands after the unpacking"
        mkdir try
        (cd try && KEL=/usr bash -e -o pipefail /root/readme.sh > ../readme.out 2>&1) ||
            { tail -5 readme.out; echo "a command of the README failed with KEL=/usr"; exit 1; }
        grep -i "^wrote" readme.out
        echo "\$ apt remove kelpack"
        apt-get remove -y kelpack 2>&1 | grep -v -e "^debconf:" -e "pts mounted"
        if dpkg -s kelpack > /dev/null 2>&1; then echo "kelpack is still installed"; exit 1; fi
        left=$(while read -r f; do [ ! -e "$f" ] || echo "$f"; done < files)
        [ -z "$left" ] || { echo "left behind: $left"; exit 1; }
        echo "removed: none of its $(wc -l < files) files is left"
    ' 2>&1 | sed 's/^/  | /'
    return "${PIPESTATUS[0]}"
}
if [ "${DIST_FRESH_ROOT:-0}" = 1 ] && [ -f "$deb_made" ]; then
    fresh_root_check || fail "$deb does not install, work and remove cleanly in a new Debian 12 root"
fi

[ $fails -eq 0 ] || die "$fails check(s) failed; no archive or package made"
mv "$archive.tmp" "$archive" || die "could not write $archive"
mv "$deb_made" "$deb" || die "could not write $deb"
echo "$archive: $(stat -c %s "$archive") bytes, $(echo "$files" | wc -l) files:"
tar -tzvf "$archive" | awk '$1 !~ /^d/ {printf "  %10s  %s\n", $3, $6}'
echo "$deb: $(stat -c %s "$deb") bytes, $(dpkg-deb -c "$deb" | grep -vc '/$') files"
