#!/usr/bin/env bash
# Fails when a source file includes from a folder above its own, or when the core
# or the terminal front-end maps Qt Gui or Widgets.
#   check-layers.sh SRC_DIR [EXECUTABLE ...]
# Each folder may include from the folders listed for it (and from itself).
set -euo pipefail
src=${1:?usage: check-layers.sh SRC_DIR [EXECUTABLE ...]}
shift

declare -A allowed=(
    [common]=""
    [platform]="common"
    [platform/linux]="platform common"
    [ifstats]="platform common"
    [applications]="platform common"
    [presentation]="platform common"
    [sampling]="ifstats platform common"
    [records]="sampling platform common"
    [companions]="sampling platform common"
    [messages]="platform common"
    [options]="platform common"
    [monitor]=""
    [limits]="records presentation sampling platform common"
    [reports]="limits presentation sampling platform common"
    [metrics]="platform common"
    [collector/bpf]=""
    [collector]="collector/bpf platform/linux platform common"
    [shell]="records companions messages limits metrics applications presentation sampling ifstats platform common"
    [ui]="shell reports limits records companions messages options monitor metrics applications presentation sampling ifstats platform common"
    [terminal]="shell records companions messages limits metrics applications presentation sampling ifstats platform/linux platform common"
    [app]="terminal ui shell reports records companions messages options monitor limits metrics applications collector presentation sampling ifstats platform/linux platform common"
)

failures=0
while IFS= read -r file; do
    relative=${file#"$src"/}
    folder=$(dirname "$relative")
    if [[ -z ${allowed[$folder]+set} ]]; then
        echo "layers: $relative is in a folder with no place among the floors"
        failures=$((failures + 1))
        continue
    fi
    while IFS= read -r included; do
        target=$(dirname "$included")
        if [[ $target == "$folder" ]]; then
            continue
        fi
        ok=0
        for lower in ${allowed[$folder]}; do
            [[ $target == "$lower" ]] && ok=1
        done
        if [[ $ok -eq 0 ]]; then
            echo "layers: $relative includes $included, which is not below $folder"
            failures=$((failures + 1))
        fi
    done < <(sed -n 's/^#include "\(.*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)

for executable in "$@"; do
    if ldd "$executable" | grep -E 'libQt6(Gui|Widgets)'; then
        echo "layers: $(basename "$executable") maps Qt Gui or Widgets"
        failures=$((failures + 1))
    fi
done

if [[ $failures -gt 0 ]]; then
    echo "layers: $failures problem(s)"
    exit 1
fi
echo "layers: every include goes down; $# executable(s) free of Qt Gui and Widgets"
