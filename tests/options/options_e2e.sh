#!/usr/bin/env bash
# The options program and a running meter (the terminal front-end): a changed
# speed reaches the meter within a tick, and another window shape ends it through
# its exit path.
set -u
bin=$1
work=$(mktemp -d)
trap 'kill "$meter" 2>/dev/null; rm -rf "$work"' EXIT
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
check "through its exit path (IsRunning false)" 'grep -q "^IsRunning=false" "$conf"'
check "the options program's values are the meter's" \
    '[ "$("$bin/quantiro-options" --get Download)" = 1000 ] && grep -q "^Download=1000" "$conf"'
exit $((failures > 0))
