#!/usr/bin/env bash
# Fails when a source file reaches a folder not listed below its own, by its own
# includes or through the headers it includes (a header's includes are compiled
# into every file that includes it, so a folder uses what its headers bring);
# when a listed edge is one nothing uses (so the list stays the true map of the
# floors); when a folder's libraries link other folders' libraries than the ones
# it includes from directly (what comes through a header comes with the library
# of the header's folder); or when an executable given (the core tests, the
# terminal meter, every program without a window) maps Qt Gui or Widgets.
#   check-layers.sh SRC_DIR [EXECUTABLE ...]
# Each folder may reach the folders listed for it (and itself).
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
    [accounting]="records applications sampling platform common"
    [companions]="sampling platform common"
    [messages]="platform common"
    [options]="limits presentation platform common"
    [monitor]=""
    [limits]="presentation platform common"
    [reports]="limits presentation platform common"
    [metrics]="platform common"
    [collector/bpf]=""
    [collector]="collector/bpf platform/linux platform common"
    [shell]="accounting records applications companions messages limits metrics presentation sampling ifstats
             platform common"
    [ui]="shell reports accounting records applications companions messages limits options monitor
          metrics presentation sampling ifstats platform common"
    [terminal]="shell accounting records applications companions messages limits metrics presentation
                sampling ifstats platform/linux platform common"
    [app]="terminal ui shell reports accounting records applications companions messages options monitor
           limits metrics presentation sampling ifstats collector collector/bpf platform/linux platform common"
)

failures=0
files=$(find "$src" -name '*.h' -o -name '*.cpp' -o -name '*.c' | sort)
while IFS= read -r file; do
    relative=${file#"$src"/}
    if [[ -z ${allowed[$(dirname "$relative")]+set} ]]; then
        echo "layers: $relative is in a folder with no place among the floors"
        failures=$((failures + 1))
    fi
done <<< "$files"

# Every include of a project header, "file<TAB>included" a line, below SRC_DIR.
includes=$(while IFS= read -r file; do
    relative=${file#"$src"/}
    sed -n 's/^#include "\(.*\)".*/\1/p' "$file" | sed "s|^|$relative\t|"
done <<< "$files")

# Every header each file reaches, "file<TAB>header<TAB>the file's own include it
# comes through<TAB>depth" a line, the file's own includes first: the headers'
# includes followed to the end, each once.
reached=$(awk -F '\t' -v OFS='\t' '
    { count[$1]++; include[$1, count[$1]] = $2; files[$1] = 1 }
    function follow(file, origin, through, depth,    i, header) {
        for (i = 1; i <= count[file]; i++) {
            header = include[file, i]
            if ((origin, header) in seen) continue
            seen[origin, header] = 1
            print origin, header, (depth == 1 ? header : through), depth
            follow(header, origin, depth == 1 ? header : through, depth + 1)
        }
    }
    END { for (file in files) follow(file, file, "", 1) }' <<< "$includes" | sort -t $'\t' -k4,4n -k1,2)

# A folder may reach what it lists; one line for each folder it reaches unlisted.
declare -A told=()
while IFS=$'\t' read -r relative header through _; do
    folder=${relative%/*}
    [[ $header == */* ]] && target=${header%/*} || target=.
    [[ $target == "$folder" || -z ${allowed[$folder]+set} || -n ${told["$folder $target"]+set} ]] &&
        continue
    listed=0
    for lower in ${allowed[$folder]}; do
        [[ $target == "$lower" ]] && listed=1
    done
    if [[ $listed -eq 0 ]]; then
        told["$folder $target"]=1
        if [[ $header == "$through" ]]; then
            echo "layers: $relative includes $header, which is not below $folder"
        else
            echo "layers: $relative reaches $header through $through; $target is not listed below $folder"
        fi
        failures=$((failures + 1))
    fi
done <<< "$reached"

# "folder target" a line: the folders each folder reaches, and those it includes from itself.
folder_pairs() { awk -F '\t' '{ a = $1; b = $2; sub(/\/[^\/]*$/, "", a); sub(/\/[^\/]*$/, "", b);
                                   if (a != b) print a " " b }' | sort -u; }
used=$(folder_pairs <<< "$reached")
used_directly=$(folder_pairs <<< "$includes")

for folder in "${!allowed[@]}"; do
    for lower in ${allowed[$folder]}; do
        if ! grep -qx "$folder $lower" <<< "$used"; then
            echo "layers: $folder may reach $lower, which nothing in $folder does"
            failures=$((failures + 1))
        fi
    done
done

# Each folder's libraries link exactly the libraries of the folders it includes
# from directly; folders without a library of their own (app/, collector/bpf/)
# are left out.
library_folder() {
    case $1 in
    quantiro_platform | quantiro_platform_files) echo platform ;;
    quantiro_platform_linux | quantiro_collector_protocol | quantiro_collector_reader | quantiro_desktop_entries)
        echo platform/linux ;;
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
    included=$(grep "^$folder " <<< "$used_directly" | cut -d' ' -f2 | grep -vx 'collector/bpf' | sort -u || true)
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
echo "layers: every include goes down, through headers too, every listed edge is used and linked; $# executable(s) free of Qt Gui and Widgets"
