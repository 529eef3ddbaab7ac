#!/usr/bin/env bash
# The options program and a running meter (the terminal front-end): a changed
# speed reaches the meter within a tick, and another window shape ends it through
# its exit path, which starts that shape.
set -u
work=$(mktemp -d)
bin=$work/program
mkdir -p "$bin"
cp "$1/quantiro" "$1/quantiro-options" "$1/quantiro.par" "$bin/"
ln -s quantiro "$bin/ZVmal.dll"
# Whatever the test started ends before its files go.
cleanup() {
    kill "$meter" 2>/dev/null
    pkill -f "$bin/ZVmal.dll"
    for _ in $(seq 50); do pgrep -f "$bin/" >/dev/null || break; sleep 0.1; done
    rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work XDG_RUNTIME_DIR=$work QUANTIRO_INTERFACE=lo
unset DISPLAY WAYLAND_DISPLAY
conf=$work/.config/Kestrova/Quantiro.conf
failures=0
check() { if eval "$2"; then echo "ok - $1"; else echo "not ok - $1"; failures=$((failures + 1)); fi; }
eventually() { for _ in $(seq 50); do eval "$1" && return 0; sleep 0.1; done; return 1; }

"$bin/quantiro" --terminal </dev/null >"$work/meter.log" 2>&1 &
meter=$!
eventually '[ -s "$work/meter.log" ]'
"$bin/quantiro-options" --set Download=1000
check "the meter reloads within a second (WasChanged cleared)" \
    "eventually 'grep -q \"^WasChanged=false\" \"$conf\"'"
"$bin/quantiro-options" --set Size=1
check "another window shape ends the meter" "eventually '! kill -0 $meter 2>/dev/null'"
wait "$meter"
status=$?
check "with status 0 ($status)" '[ "$status" = 0 ]'
check "and the small shape starts in its place" "eventually 'pgrep -f \"$bin/ZVmal.dll /START\" >/dev/null'"
check "the options program's values are the meter's" \
    '[ "$("$bin/quantiro-options" --get Download)" = 1000 ] && grep -q "^Download=1000" "$conf"'
exit $((failures > 0))
