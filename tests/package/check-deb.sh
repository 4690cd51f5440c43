#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch root, checks what is in
# it and has lintian look it over. Usage: check-deb.sh BUILD_FOLDER
set -euo pipefail
build="$(cd "$1" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

(cd "$build" && cpack -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack did not build the package"; }
debs=("$scratch"/out/quenta_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one quenta_*.deb, found: ${debs[*]}"
deb="${debs[0]}"
echo "Built $(basename "$deb")"

root="$scratch/root"
dpkg -x "$deb" "$root"
for file in usr/bin/quenta usr/bin/quenta-simboard usr/bin/quenta-flash; do
    [ -f "$root/$file" ] && [ -x "$root/$file" ] || fail "$file missing or not executable"
done
for file in usr/share/applications/quenta.desktop usr/share/icons/hicolor/24x24/apps/quenta.png \
    usr/share/icons/hicolor/scalable/apps/quenta.svg; do
    [ -f "$root/$file" ] || fail "$file missing"
done
# The small icon is 24 x 24 at 24-bit colour: PNG colour type 2 (RGB), 8 bits a channel.
ihdr="$(od -An -tx1 -j16 -N10 "$root/usr/share/icons/hicolor/24x24/apps/quenta.png" | tr -d ' \n')"
[ "$ihdr" = 00000018000000180802 ] || fail "the icon is not 24 x 24 RGB at 8 bits a channel ($ihdr)"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/quenta.svg" || fail "quenta.svg is no SVG"
# Every program has its man page, compressed with gzip -9n: no file name and no time stamp in the
# header (flags 00, time 00000000), so that the same page always gives the same bytes.
for program in quenta quenta-simboard quenta-flash; do
    page="$root/usr/share/man/man1/$program.1.gz"
    [ -f "$page" ] || fail "the man page of $program is missing"
    header="$(od -An -tx1 -N10 "$page" | tr -d ' \n')"
    [ "${header:0:20}" = 1f8b0800000000000203 ] ||
        fail "$program.1.gz is not compressed with gzip -9n (header $header)"
    zcat "$page" | grep -q "^\.TH " || fail "$program.1.gz holds no man page"
done
# The flasher comes with its bash completion, and links neither Qt Widgets nor Gui.
[ -f "$root/usr/share/bash-completion/completions/quenta-flash" ] ||
    fail "the bash completion of quenta-flash is missing"
if ldd "$root/usr/bin/quenta-flash" | grep -Eq 'libQt6(Widgets|Gui)'; then
    fail "quenta-flash links Qt Widgets or Gui"
fi
"$root/usr/bin/quenta-flash" --version | grep -q '^quenta-flash ' || fail "quenta-flash --version"
[ ! -e "$root/usr/bin/quenta-screenshot" ] || fail "quenta-screenshot must stay out of the package"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/quenta.desktop" ||
        fail "desktop-file-validate rejects quenta.desktop"
else
    echo "desktop-file-validate not installed: the menu entry is not validated"
fi

# The documents Debian asks of every package: a machine-readable copyright and a changelog whose
# latest entry is this version.
doc="$root/usr/share/doc/quenta"
head -n 1 "$doc/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"
grep -q '^License: Expat$' "$doc/copyright" || fail "the copyright file names no licence"
[ -f "$doc/changelog.gz" ] || fail "changelog.gz is missing"
changelog="$scratch/changelog"
zcat "$doc/changelog.gz" >"$changelog"
version="$(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-parsechangelog -l "$changelog" -S Version)" = "$version" ] ||
    fail "the changelog's latest entry is not version $version"

package="$(dpkg-deb -f "$deb" Package)"
[ "$package" = quenta ] || fail "package name is '$package'"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
grep -Eq '(^|[ ,])libqt6(core|gui|widgets|serialport)6' <<<"$depends" ||
    fail "Depends names no Qt 6 library"
# The default journal is an SQLite file, which Qt reaches through a plugin no library pulls in.
grep -Eq '(^|[ ,])libqt6sql6-sqlite([ ,(]|$)' <<<"$depends" ||
    fail "Depends lacks libqt6sql6-sqlite, the driver of the default journal"
grep -Eq '(^|[ ,])fonts-dejavu-core([ ,(]|$)' <<<"$depends" ||
    fail "Depends lacks fonts-dejavu-core, the window's font"
grep -Eq '(^|, )libqt6sql6-psql($|,| )' <<<"$(dpkg-deb -f "$deb" Recommends)" ||
    fail "libqt6sql6-psql, the driver of a line's journal, is not recommended"
# Built with Debian's hardening: fortified functions, a stack protector, read-only relocations
# bound at start. The window calls none of the functions glibc fortifies (Qt does its printing), so
# it is looked at for the rest only.
for program in quenta quenta-flash quenta-simboard; do
    binary="$root/usr/bin/$program"
    readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program is built without relro"
    readelf -dW "$binary" | grep -Eq 'BIND_NOW|FLAGS.*NOW' || fail "$program is built without bindnow"
    symbols="$(readelf -sW --dyn-syms "$binary")"
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "$program is built without a stack protector"
    [ "$program" = quenta ] || grep -Eq '__[a-z0-9_]+printf_chk@' <<<"$symbols" ||
        fail "$program is built without fortified functions"
done
maintainer="$(dpkg-deb -f "$deb" Maintainer)"
grep -Eq '^[^<>]+ <[^@<> ]+@[^@<> ]+\.[a-z]+>$' <<<"$maintainer" ||
    fail "the Maintainer field is no name and address: '$maintainer'"
grep -Eq '(^|, )bash-completion($|,| )' <<<"$(dpkg-deb -f "$deb" Recommends)" ||
    fail "bash-completion is not recommended"

# Lintian, with the overrides the package ships for what cannot apply to it: no error, no warning.
command -v lintian >/dev/null || fail "lintian is not installed (bash scripts/setup.sh installs it)"
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1; then
    cat "$scratch/lintian.log" >&2
    fail "lintian finds errors or warnings"
fi
cat "$scratch/lintian.log"
echo "Package checked"
