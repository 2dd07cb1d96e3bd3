#!/usr/bin/env bash
# Builds the viewer and its tests and runs the whole suite on a virtual X
# server: as built for use, under AddressSanitizer and
# UndefinedBehaviorSanitizer, and as the Windows build under Wine.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"

# The Windows tool chain is large: it installs while the Linux suites run,
# at the lowest priority, so that it does not slow the timed checks down.
mkdir -p "$ROOT/build"
(
    renice -n 19 -p $BASHPID >/dev/null 2>&1 || true
    ionice -c 3 -p $BASHPID >/dev/null 2>&1 || true
    ensure_packages "${WINDOWS_PACKAGES[@]}"
) > "$ROOT/build/windows-packages.log" 2>&1 &
windows_packages=$!

# The suites run on their own servers and compositors, never on the
# session's: a Wayland session's compositor would take the X11 tests' viewer.
in_virtual_server() { env -u WAYLAND_DISPLAY -u WAYLAND_SOCKET xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }

run_suite() {
    local build_dir=$1
    shift
    configure_build "$build_dir" -DVORANDILE_TESTS=ON "$@"
    cmake --build "$build_dir" -j"$(nproc)"
    # Most tests spend their time waiting for servers, window managers and
    # compositors (the cores are three quarters busy with one test per
    # core): two a core.
    (cd "$build_dir" && in_virtual_server ctest --output-on-failure --no-tests=error --timeout 300 -j"$((2 * $(nproc)))" -LE windows)
}

echo "== The suite"
run_suite "$ROOT/build"

echo "== Installing: the install tree, the Debian package, and the package in a fresh root"
"$ROOT/tests/packaging.sh" "$ROOT/build"

echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:exitcode=86 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions="$ROOT/tests/lsan.supp":print_suppressions=0 \
    run_suite "$ROOT/build-sanitize" -DVORANDILE_SANITIZE=ON

echo "== The Windows build under Wine"
if ! wait "$windows_packages"; then
    cat "$ROOT/build/windows-packages.log" >&2
    exit 1
fi
configure_build "$ROOT/build-windows" -DVORANDILE_TESTS=ON \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"
cmake --build "$ROOT/build-windows" -j"$(nproc)"
# Without Wine's menu builder, the installer's shortcut stays in the prefix.
export WINEPREFIX="$ROOT/build-windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[ -f "$WINEPREFIX/system.reg" ] || in_virtual_server wineboot --init
(cd "$ROOT/build-windows" && in_virtual_server ctest --output-on-failure --no-tests=error --timeout 300)
(cd "$ROOT/build" && ctest --output-on-failure --no-tests=error --timeout 300 -L windows)

echo "== The Windows archive"
rm -f "$ROOT"/build-windows/vorandile-*.zip
(cd "$ROOT/build-windows" && cpack -G ZIP >/dev/null)
archive=$(ls "$ROOT"/build-windows/vorandile-*.zip)
listing=$(cmake -E tar tf "$archive")
for file in vorandile.exe README.md; do
    grep -q "/$file\$" <<<"$listing" || { echo "the Windows archive lacks $file" >&2; exit 1; }
done
echo "$(basename "$archive"): $(stat -c %s "$archive") bytes: $(tr '\n' ' ' <<<"$listing")"
installer=$(ls "$ROOT"/build-windows/vorandile-*.msi)
echo "$(basename "$installer"): $(stat -c %s "$installer") bytes"
