#!/usr/bin/env bash
# The meter's command line, as a user types it: what runs, what is refused with
# the help on standard error and status 2, and that a refusal starts no meter.
set -u
binary=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# case "arguments" status "start of standard output" help-on-stderr(yes/no)
case_() {
    local arguments=$1 status=$2 output=$3 help=$4
    rm -rf "$work/home" && mkdir -p "$work/home"
    # shellcheck disable=SC2086
    HOME=$work/home XDG_RUNTIME_DIR=$work/home "$binary" $arguments >"$work/out" 2>"$work/err" </dev/null
    local got=$? why=""
    [ "$got" = "$status" ] || why+=" status $got;"
    [[ "$(cat "$work/out")" == "$output"* ]] || why+=" output: $(head -c 200 "$work/out");"
    if grep -q "Użycie: quantiro" "$work/err"; then [ "$help" = yes ] || why+=" help on stderr;"
    else [ "$help" = no ] || why+=" no help on stderr;"; fi
    # A meter that ran would have written its settings and made its data directory.
    [ ! -e "$work/home/.config/Kestrova" ] && [ ! -e "$work/home/.local/share/Kestrova" ] ||
        why+=" a meter started;"
    if [ -z "$why" ]; then echo "ok - quantiro $arguments"; else
        echo "not ok - quantiro $arguments:$why"; failures=$((failures + 1)); fi
}
case_ "--help" 0 "Użycie: quantiro [OPCJA]..." no
case_ "--version" 0 "quantiro 0." no
case_ "--bogus" 2 "" yes
case_ "/start" 2 "" yes
case_ "/START extra" 2 "" yes
case_ "--interface" 2 "" yes
case_ "--autostart maybe" 2 "" yes
case_ "--autostart on" 0 "Miernik będzie uruchamiany razem z sesją." no

# The autostart entry: written without "/START", so the instance check stays on;
# then removed again.
entry=$work/home/.config/autostart/quantiro.desktop
if grep -qx "Exec=quantiro" "$entry" && grep -qx "TryExec=quantiro" "$entry"; then echo "ok - the autostart entry starts quantiro"; else
    echo "not ok - the autostart entry: $(cat "$entry" 2>&1)"; failures=$((failures + 1)); fi
HOME=$work/home "$binary" --autostart off >/dev/null
if [ ! -e "$entry" ]; then echo "ok - --autostart off removes it"; else
    echo "not ok - --autostart off left $entry"; failures=$((failures + 1)); fi
# Every program a user types: its help fits 80 columns with each option apart from
# its text, and its version names it.
for program in quantiro quantiro-options quantiro-reports quantiro-monitor; do
    path=$(dirname "$binary")/$program
    if "$path" --help | python3 -c '
import re, sys
lines = sys.stdin.read().splitlines()
assert lines[0].startswith("Użycie: " + sys.argv[1] + " "), lines[0]
for line in lines:
    assert len(line) <= 80, line
    if re.match(r"  [-/a-z]", line):  # an option: alone, or two spaces before its text
        assert re.fullmatch(r"  \S+( [^ ]+)?(  +\S.*)?", line), line
' "$program" && [[ "$("$path" --version)" =~ ^$program\ [0-9]+\.[0-9]+\.[0-9]+$ ]]; then
        echo "ok - $program --help and --version"
    else
        echo "not ok - $program --help or --version"; failures=$((failures + 1))
    fi
done
# Refused calls of the family's programs end with status 2 and write nothing at all.
# The options program tells a bad name or value in one line with what it may be,
# and adds its help only to a call it does not know ("help"); "" is not looked at.
dir=$(dirname "$binary")
while IFS='|' read -r call said; do
    rm -rf "$work/untouched"; mkdir "$work/untouched"
    # shellcheck disable=SC2086
    HOME=$work/untouched XDG_CONFIG_HOME= XDG_DATA_HOME= XDG_STATE_HOME= XDG_CACHE_HOME= \
        "$dir/"$call > /dev/null 2>"$work/err"
    status=$? why=""
    [ "$status" = 2 ] || why+=" status $status;"
    [ -z "$(ls -A "$work/untouched")" ] || why+=" wrote $(ls -A "$work/untouched");"
    if [ "$said" = help ]; then grep -q "^Użycie: quantiro-options" "$work/err" || why+=" no help;"
    elif [ -n "$said" ]; then [ "$(cat "$work/err")" = "$said" ] || why+=" said: $(head -c 300 "$work/err");"; fi
    if [ -z "$why" ]; then echo "ok - '$call' refused, nothing written"
    else echo "not ok - '$call':$why"; failures=$((failures + 1)); fi
done <<'CALLS'
quantiro-options --bogus|help
quantiro-options --set Bogus=1|quantiro-options: nieznane ustawienie: Bogus (wszystkie wypisuje quantiro-options --list)
quantiro-options --get Bogus|quantiro-options: nieznane ustawienie: Bogus (wszystkie wypisuje quantiro-options --list)
quantiro-options --set Download=abc|quantiro-options: Download: niepoprawna wartość „abc”. Oczekiwano liczby całkowitej od 1 do 9 761 289.
quantiro-options --set TylkoInternet=maybe|quantiro-options: TylkoInternet: niepoprawna wartość „maybe”. Oczekiwano tak albo nie (albo true/false, 1/0; wielkość liter bez znaczenia).
quantiro-options --set TylkoInternet|quantiro-options: TylkoInternet: brak wartości; podaj TylkoInternet=WARTOŚĆ
quantiro-notify x 0 a b|
quantiro-notify 1 2 a b|
quantiro-notify 99999999999 1 a b|
quantiro-notify 1 1 a|
CALLS
exit $((failures > 0))
