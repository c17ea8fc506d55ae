#!/bin/bash
# The host tree installed into a scratch prefix holds what a release takes
# from it and nothing more (no test, benchmark or fuzz program); the
# installed kelpack runs and prints the release's version; the manual page
# renders without a warning; the contract header compiles where an engine's
# build looks for it, <kel/kel.h>.
#
# Usage: install_test.sh BUILD_DIR VERSION   Exit: 0 pass, 1 fail.
set -u
build=${1:?usage: install_test.sh BUILD_DIR VERSION}
version=${2:?usage: install_test.sh BUILD_DIR VERSION}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# DESTDIR from the caller's environment would move the whole install.
env -u DESTDIR cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 ||
    { cat "$work/install.log"; echo "FAIL: cmake --install $build"; exit 1; }

# The release's files that come from the host tree: all but the README and
# the checksums, which tools/dist.sh writes, and the Windows builds' folders.
expected=$(grep -v -E -e '^(README.md|SHA256SUMS)$' -e '^share/kel/(x64|x86|wince-arm)/' \
    "$(dirname "$0")/../tools/release_files.txt")
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$expected" ] ||
    fail "installed files differ from the release's:$(diff <(echo "$expected") <(echo "$installed") | grep '^[<>]')"

[ -x "$prefix/bin/kelpack" ] || fail "bin/kelpack is not executable"
got=$("$prefix/bin/kelpack" --version 2>&1)
[ "$got" = "kelpack $version" ] || fail "kelpack --version says \"$got\", not \"kelpack $version\""

page=$prefix/share/man/man1/kelpack.1
if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff could not render kelpack.1"
    [ -z "$warnings" ] || fail "kelpack.1 renders with warnings: $warnings"
else
    fail "groff is not installed (groff-base; make deps installs it)"
fi
grep -qF "Kel $version" "$page" || fail "kelpack.1 does not name the release $version"

# The installed example includes the header as any engine does; the header
# must stand alone there.
grep -qF '#include <kel/kel.h>' "$prefix/share/doc/kel/examples/engine/sample_engine.cpp" ||
    fail "the sample engine does not include <kel/kel.h>"
printf '#include <kel/kel.h>\nstatic_assert(sizeof kel::kApplicationResourceName > 1, "");\n' > "$work/author.cpp"
${CXX:-c++} -std=c++17 -fsyntax-only -I "$prefix/include" "$work/author.cpp" 2>&1 ||
    fail "<kel/kel.h> does not compile from $prefix/include"

[ $fails -eq 0 ] && echo "PASS: the host install holds kelpack $version, its manual, the header and the docs"
[ $fails -eq 0 ]
