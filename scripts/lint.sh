#!/usr/bin/env bash
# Style and static checks over our own sources: clang-format must leave every
# tracked C++ file as it is, and clang-tidy (.clang-tidy) must find nothing.
# Uses build/compile_commands.json, configuring build/ first when it is missing.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${VMK_LINT_BUILD:-build}

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "lint: clang-format over ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"

[ -f "$build/compile_commands.json" ] || cmake -S . -B "$build" -G Ninja > /dev/null
# Moc's output only exists after a build; clang-tidy needs it for our sources too.
cmake --build "$build" > /dev/null
# Only translation units of this checkout, not the generated ones under the build tree;
# headers are reported only when they are ours.
dirs='(app|bench|cli|compose|core|fuzz|imaging|inputs|output|tests|tools|widgets)'
echo "lint: clang-tidy"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" \
    -header-filter="^$root/$dirs/" "^$root/$dirs/.*\.cpp$" > "$build/clang-tidy.log" 2>&1 || {
    grep -E "(warning|error):" "$build/clang-tidy.log" | sort -u >&2
    echo "lint: clang-tidy found problems (full output in $build/clang-tidy.log)" >&2
    exit 1
}
echo "lint: clean"
