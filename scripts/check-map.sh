#!/usr/bin/env bash
# Fails when a folder under src/ has no place on the map (ARCHITECTURE.md), or when
# the map names a file or folder under src/ that is gone.
#   check-map.sh ROOT
set -uo pipefail
root=${1:?usage: check-map.sh ROOT}
map=$root/ARCHITECTURE.md
failures=0
while IFS= read -r dir; do
    folder=${dir#"$root"/src/}
    # Named in backquotes as `folder/`, a nested one by its own name beside its parent's,
    # or linked as src/folder/.
    if ! grep -qF -e "\`$folder/\`" -e "src/$folder/" -e "\`$(basename "$folder")/\`" "$map"; then
        echo "map: src/$folder has no place on the map"
        failures=$((failures + 1))
    fi
done < <(find "$root/src" -mindepth 1 -type d | sort)
while IFS= read -r path; do
    if [[ ! -e $root/$path ]]; then
        echo "map: it names $path, which is gone"
        failures=$((failures + 1))
    fi
done < <(grep -oE 'src/[A-Za-z0-9_./-]*[A-Za-z0-9_/]' "$map" | sort -u)
# The family's file names are spelled once, in common/FamilyPaths.h: a second
# spelling is a second place to change when one moves.
while IFS= read -r hit; do
    echo "map: ${hit#"$root"/} spells a file name that src/common/FamilyPaths.h owns"
    failures=$((failures + 1))
done < <(grep -rnoE '"/(qub\.db|quantiro\.par|reports\.lock|reports\.state|limits\.state)"' "$root/src" |
    grep -v "/src/common/FamilyPaths.h:")
if [[ $failures -gt 0 ]]; then
    echo "map: $failures problem(s)"
    exit 1
fi
echo "map: every folder under src/ is on the map, and everything it names is there"
