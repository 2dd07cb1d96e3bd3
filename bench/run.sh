#!/usr/bin/env bash
# Builds the benchmarks and measures the real viewer against a bare GLX loop
# and a freeglut program drawing the same frames, on a private virtual X
# server; then, as a native Wayland client of a headless sway, against a
# bare EGL loop (or that loop alone, while the viewer cannot run there).
# Pass --long-spin to let the viewer render 2^20 frames instead and check
# that the model stays a rotation.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" freeglut3-dev
configure_build "$ROOT/build" -DVORANDILE_TESTS=ON
cmake --build "$ROOT/build" -j"$(nproc)" --target viewer-bench render-frame-bench

if [ "${1:-}" = "--long-spin" ]; then
    exec "$ROOT/build/viewer-bench" --long-spin
fi
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), Mesa $(dpkg-query -W -f='${Version}' libgl1-mesa-dri)"
"$ROOT/build/render-frame-bench" 3000
# A shared host's frame rate wanders by up to a fifth from one run to the next:
# many short rounds give steadier medians than a few long ones.
"$ROOT/build/viewer-bench" --rounds 11 --seconds 3 "$@"
