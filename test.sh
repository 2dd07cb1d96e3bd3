#!/usr/bin/env bash
# Builds the viewer and its tests and runs the whole suite on a virtual X server.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
configure_build "$ROOT/build"
cmake --build "$ROOT/build" -j"$(nproc)"

cd "$ROOT/build"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --output-on-failure --timeout 300 -j"$(nproc)" "$@"
