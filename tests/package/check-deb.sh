#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch root and checks what is
# in it. Usage: check-deb.sh BUILD_FOLDER
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
# The flasher comes with its man page and bash completion, and links neither Qt Widgets nor Gui.
[ -f "$root/usr/share/man/man1/quenta-flash.1.gz" ] || [ -f "$root/usr/share/man/man1/quenta-flash.1" ] ||
    fail "the man page of quenta-flash is missing"
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

package="$(dpkg-deb -f "$deb" Package)"
[ "$package" = quenta ] || fail "package name is '$package'"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
grep -Eq '(^|[ ,])libqt6(core|gui|widgets|serialport)6' <<<"$depends" ||
    fail "Depends names no Qt 6 library"
echo "Package checked"
