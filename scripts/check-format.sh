#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it (.clang-format
# at the root); `make format` mends them all.
#   check-format.sh ROOT
set -uo pipefail
root=${1:?usage: check-format.sh ROOT}
mapfile -t files < <(find "$root/src" "$root/tests" "$root/bench" "$root/fuzz" \( -name '*.cpp' -o -name '*.h' \) | sort)
if clang-format --dry-run --Werror "${files[@]}"; then
    echo "format: ${#files[@]} files as clang-format writes them"
else
    echo "format: run 'make format'"
    exit 1
fi
