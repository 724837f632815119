#!/usr/bin/env bash
# Builds everything and runs every test. VMK_SANITIZE=ON builds with the sanitizers.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
san=${VMK_SANITIZE:-OFF}
build=build
[ "$san" = ON ] && build=build-asan
cmake -S . -B "$build" -G Ninja -DVMK_SANITIZE="$san" > /dev/null
cmake --build "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
# Leaks inside libraries we cannot mend are listed there, each with its reason.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
