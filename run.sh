#!/usr/bin/env bash
# Builds the viewer and starts it. Without a display it runs the viewer on a
# private virtual X server instead and saves a picture of it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
configure_build "$ROOT/build"
cmake --build "$ROOT/build" -j"$(nproc)" --target vorandile viewer-snapshot

# A Wayland session's compositor, or an X display, shows the live window.
wayland_socket=${WAYLAND_DISPLAY:-}
[ -n "$wayland_socket" ] && [ "${wayland_socket#/}" = "$wayland_socket" ] &&
    wayland_socket="${XDG_RUNTIME_DIR:-/nonexistent}/$wayland_socket"
if { [ -n "$wayland_socket" ] && [ -S "$wayland_socket" ]; } ||
    "$ROOT/build/viewer-snapshot" --check-display 2>/dev/null; then
    exec "$ROOT/build/vorandile"
fi

echo "No display here: running the viewer on a private virtual X server."
xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$ROOT/build/viewer-snapshot" "$ROOT/build/vorandile" "$ROOT/build/screenshot.png"
echo "The viewer spun for two seconds and closed on Esc; a picture of its window is in build/screenshot.png."
echo "In a desktop session, ./run.sh shows the live window instead."
