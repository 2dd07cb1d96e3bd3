#!/usr/bin/env bash
# Builds the viewer and starts it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
configure_build "$ROOT/build"
cmake --build "$ROOT/build" -j"$(nproc)" --target vorandile

exec "$ROOT/build/vorandile"
