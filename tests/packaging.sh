#!/usr/bin/env bash
# Installs the viewer as a user would and checks what lands where: the
# install tree in a temporary prefix with its desktop entry, AppStream
# metadata and manual page, the Debian package's contents and dependencies
# and what lintian says of it, and the package installed with apt-get into a fresh Debian
# root, whose program then runs end to end on a virtual X server.
#   tests/packaging.sh BUILD-DIR
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
WORK="$BUILD/packaging"
rm -rf "$WORK/prefix" "$WORK/root"
mkdir -p "$WORK"

fail() { echo "packaging: $*" >&2; exit 1; }

echo "-- the install tree"
prefix="$WORK/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
app_id=org.vorandile.vorandile
entry="$prefix/share/applications/$app_id.desktop"
metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"
for file in bin/vorandile share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
    share/man/man1/vorandile.1.gz share/doc/vorandile/README.md share/doc/vorandile/copyright \
    share/doc/vorandile/changelog.gz; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/bin/vorandile" ] || fail "bin/vorandile is not executable"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
# X11 desktops match windows to the entry by their class, the program's name
# capitalised (Wayland ones by the entry's id, the window's app id).
grep -qx "StartupWMClass=Vorandile" "$entry" || fail "the entry's StartupWMClass is not the windows' class Vorandile"
appstreamcli validate --no-net "$metainfo" || fail "the AppStream metadata is not valid"
version=$(sed -n 's/^project(vorandile VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata's latest release is not $version"
zcat "$prefix/share/doc/vorandile/changelog.gz" | head -1 | grep -q "^vorandile ($version)" ||
    fail "the changelog's latest entry is not $version"
zcat "$prefix/share/man/man1/vorandile.1.gz" | grep -q "^\.TH VORANDILE 1 .*\"vorandile $version\"" ||
    fail "the manual page is not of version $version"
for size in 16 32 48 64 128 256; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/vorandile.png"
    file "$icon" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" || fail "no ${size}px icon: $(file "$icon")"
done
grep -qx "Icon=vorandile" "$entry" || fail "the entry names another icon"

echo "-- the Debian package"
rm -f "$BUILD"/vorandile_*.deb
(cd "$BUILD" && cpack -G DEB >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log" >&2; fail "cpack failed"; }
package=$(ls "$BUILD"/vorandile_*.deb)
depends=$(dpkg-deb -f "$package" Depends)
echo "$(basename "$package"): $(stat -c %s "$package") bytes; depends on: $depends"
# The program links OpenGL as libOpenGL plus libGLX, whatever else the
# machine that built it has installed.
for library in libc6 libx11-6 libxft2 libopengl0 libglx0; do
    grep -qE "(^|, )$library( |,|\$)" <<<"$depends" || fail "the package does not depend on $library"
done
grep -qE "(^|, )libgl1( |,|\$)" <<<"$depends" && fail "the package depends on the legacy libgl1"
needed=$(readelf -d "$prefix/bin/vorandile" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
for library in libOpenGL.so.0 libGLX.so.0; do
    grep -qw "$library" <<<"$needed" || fail "the program does not link $library (it links: $needed)"
done
grep -qw "libGL.so.1" <<<"$needed" && fail "the program links the legacy libGL.so.1 (it links: $needed)"
contents=$(dpkg -c "$package")
for file in ./usr/bin/vorandile ./usr/share/applications/$app_id.desktop ./usr/share/metainfo/$app_id.metainfo.xml \
    ./usr/share/man/man1/vorandile.1.gz ./usr/share/icons/hicolor/48x48/apps/vorandile.png \
    ./usr/share/doc/vorandile/README.md ./usr/share/doc/vorandile/copyright; do
    grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
done
# Debian's checker: no error or warning. The maintainer's address is the
# project's placeholder on localhost until the owner gives a real one.
lintian --fail-on error,warning --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog \
    "$package" >"$WORK/lintian.log" 2>&1 || { cat "$WORK/lintian.log" >&2; fail "lintian finds fault with the package"; }

if [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null; then
    echo "-- no fresh root here (needs root and debootstrap): the package's contents and dependencies were checked"
    exit 0
fi

echo "-- the package in a fresh Debian root"
# A pristine minimal root is made once per build folder, then copied.
pristine="$BUILD/debian-root"
if [ ! -f "$pristine/.complete" ]; then
    rm -rf "$pristine"
    debootstrap --variant=minbase bookworm "$pristine" http://deb.debian.org/debian >"$WORK/debootstrap.log" 2>&1 ||
        { tail -20 "$WORK/debootstrap.log" >&2; fail "debootstrap failed"; }
    touch "$pristine/.complete"
fi
cp -a "$pristine" "$WORK/root"
cp "$package" "$WORK/root/tmp/"
if ! { chroot "$WORK/root" apt-get update -qq &&
    chroot "$WORK/root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "/tmp/$(basename "$package")"; } >"$WORK/apt.log" 2>&1; then
    tail -20 "$WORK/apt.log" >&2
    fail "apt-get could not install the package"
fi
"$BUILD/installed-check" "$WORK/root/usr/share/applications/$app_id.desktop" \
    chroot "$WORK/root" /usr/bin/vorandile || fail "the installed program did not run as it should"
rm -rf "$WORK/root"
