#!/usr/bin/env bash
# Builds the viewer and its tests and runs the whole suite on a virtual X
# server: once as built for use, once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

run_suite() {
    local build_dir=$1
    shift
    configure_build "$build_dir" -DVORANDILE_TESTS=ON "$@"
    cmake --build "$build_dir" -j"$(nproc)"
    (cd "$build_dir" && xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --output-on-failure --timeout 300 -j"$(nproc)")
}

echo "== The suite"
run_suite "$ROOT/build"
echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=86
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$ROOT/build-sanitize" -DVORANDILE_SANITIZE=ON
