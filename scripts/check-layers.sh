#!/usr/bin/env bash
# Fails when a source file includes from a folder not listed below its own, when a
# listed edge is one nothing uses (so the list stays the true map of the floors),
# when a folder's libraries link other folders' libraries than the ones it
# includes from, or when the core or the terminal front-end maps Qt Gui or Widgets.
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
    [applications]="platform"
    [presentation]="platform common"
    [sampling]="ifstats platform common"
    [records]="platform common"
    [accounting]="records applications sampling platform"
    [companions]="sampling platform common"
    [messages]="platform common"
    [options]="limits platform common"
    [monitor]=""
    [limits]="presentation platform common"
    [reports]="limits presentation platform common"
    [metrics]="platform common"
    [collector/bpf]=""
    [collector]="collector/bpf platform/linux"
    [shell]="accounting records companions messages limits metrics presentation sampling ifstats platform common"
    [ui]="shell reports limits messages options monitor applications presentation sampling platform common"
    [terminal]="shell messages presentation sampling platform/linux platform common"
    [app]="terminal ui shell reports records options monitor limits collector platform/linux platform common"
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
done < <(find "$src" -name '*.h' -o -name '*.cpp' -o -name '*.c' | sort)

# The edges the files use, "folder target" a line.
used=$(while IFS= read -r file; do
    relative=${file#"$src"/}
    folder=$(dirname "$relative")
    sed -n 's/^#include "\(.*\)".*/\1/p' "$file" | while IFS= read -r included; do
        target=$(dirname "$included")
        [[ $target != "$folder" ]] && echo "$folder $target"
    done
done < <(find "$src" -name '*.h' -o -name '*.cpp' -o -name '*.c') | sort -u)

for folder in "${!allowed[@]}"; do
    for lower in ${allowed[$folder]}; do
        if ! grep -qx "$folder $lower" <<< "$used"; then
            echo "layers: $folder may include $lower, which nothing in $folder does"
            failures=$((failures + 1))
        fi
    done
done

# Each folder's libraries link exactly the libraries of the folders it includes
# from; folders without a library of their own (app/, collector/bpf/) are left out.
library_folder() {
    case $1 in
    quantiro_platform | quantiro_platform_files) echo platform ;;
    quantiro_platform_linux | quantiro_collector_protocol | quantiro_desktop_entries) echo platform/linux ;;
    quantiro_build_settings) ;;
    quantiro_*) echo "${1#quantiro_}" ;;
    esac
}
cmake_folder() { # the folder whose CMakeLists.txt defines a folder's libraries
    [[ $1 == platform/linux ]] && echo platform || echo "$1"
}
for folder in "${!allowed[@]}"; do
    [[ $folder == app || $folder == collector/bpf ]] && continue
    lists=$(tr '\n' ' ' < "$src/$(cmake_folder "$folder")/CMakeLists.txt" |
        grep -o 'target_link_libraries([^)]*)' || true)
    linked=""
    while IFS= read -r list; do
        words=($list)
        owner=$(library_folder "${words[0]#target_link_libraries(}")
        [[ $owner != "$folder" ]] && continue
        for word in "${words[@]:1}"; do
            target=$(library_folder "${word%)}")
            [[ -n $target && $target != "$folder" ]] && linked+="$target"$'\n'
        done
    done <<< "$lists"
    linked=$(sort -u <<< "$linked" | sed '/^$/d')
    included=$(grep "^$folder " <<< "$used" | cut -d' ' -f2 | grep -vx 'collector/bpf' | sort -u || true)
    if [[ $linked != "$included" ]]; then
        echo "layers: $folder links {$(echo $linked)} but includes from {$(echo $included)}"
        failures=$((failures + 1))
    fi
done

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
echo "layers: every include goes down, every listed edge is used and linked; $# executable(s) free of Qt Gui and Widgets"
