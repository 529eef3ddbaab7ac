#!/usr/bin/env bash
# Runs clang-tidy with the checked-in .clang-tidy over every source file of src/,
# as the build compiled it (compile_commands.json); any finding fails.
#   check-tidy.sh ROOT BUILD_DIR
set -uo pipefail
root=${1:?usage: check-tidy.sh ROOT BUILD_DIR}
build=${2:?usage: check-tidy.sh ROOT BUILD_DIR}
mapfile -t files < <(find "$root/src" -name '*.cpp' | sort)
if printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null; then
    echo "tidy: ${#files[@]} files, no findings"
else
    echo "tidy: findings above"
    exit 1
fi
