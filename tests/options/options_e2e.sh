#!/usr/bin/env bash
# The options program and a running meter (the terminal front-end): a changed
# speed reaches the meter within a tick, and another window shape ends it through
# its exit path, which starts that shape. Then the windows on Qt's offscreen
# platform switch shapes four times: the last one still holds the instance lock,
# so a plain start is refused and never counts beside it.
set -u
work=$(mktemp -d)
bin=$work/program
mkdir -p "$bin"
cp -r "$1/quantiro" "$1/quantiro-options" "$1/quantiro.par" "$1/modules" "$bin/"
ln -s quantiro "$bin/ZVmal.dll"
ln -s quantiro "$bin/ZVpoz.dll"
# Whatever the test started ends before its files go.
cleanup() {
    kill "$meter" 2>/dev/null
    pkill -f "$bin/"
    for _ in $(seq 50); do pgrep -f "$bin/" >/dev/null || break; sleep 0.1; done
    rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work XDG_RUNTIME_DIR=$work QUANTIRO_INTERFACE=lo
unset DISPLAY WAYLAND_DISPLAY
conf=$work/.config/Kestrova/Quantiro.conf
source "$(dirname "$0")/../check.sh"
eventually() { for _ in $(seq 50); do eval "$1" && return 0; sleep 0.1; done; return 1; }

"$bin/quantiro" --terminal </dev/null >"$work/meter.log" 2>&1 &
meter=$!
eventually '[ -s "$work/meter.log" ]'
"$bin/quantiro-options" --set Download=1000
check "the meter reloads within a second (WasChanged cleared)" \
    "eventually 'grep -q \"^WasChanged=false\" \"$conf\"'"
# The settings folder renamed away and back, then more changes than inotify
# queues: the meter stays idle (under a third of a core, in clock ticks of 1/100 s)
# and still sees the next change.
busy() { awk '{print $14 + $15}' "/proc/$meter/stat"; }
idle() { local before; before=$(busy); sleep 3; [ $(($(busy) - before)) -lt 100 ]; }
mv "$work/.config/Kestrova" "$work/.config/Kestrova.away"
check "the settings folder renamed away: the meter stays idle" idle
mv "$work/.config/Kestrova.away" "$work/.config/Kestrova"
"$bin/quantiro-options" --set Download=1500
check "and back: it sees the next change" "eventually 'grep -q \"^WasChanged=false\" \"$conf\"'"
check "and stays idle" idle
kill -STOP "$meter"
python3 -c 'import sys
for i in range(20000): open(sys.argv[1], "w").close()' "$work/.config/Kestrova/flood"
kill -CONT "$meter"
"$bin/quantiro-options" --set Download=2000
check "events lost from a full queue: it sees the next change" \
    "eventually 'grep -q \"^WasChanged=false\" \"$conf\"'"
check "and stays idle" idle

"$bin/quantiro-options" --set Size=1
check "another window shape ends the meter" "eventually '! kill -0 $meter 2>/dev/null'"
wait "$meter"
status=$?
check "with status 0 ($status)" '[ "$status" = 0 ]'
check "and the small shape starts in its place" "eventually 'pgrep -f \"$bin/ZVmal.dll /START\" >/dev/null'"
check "the options program's values are the meter's" \
    '[ "$("$bin/quantiro-options" --get Download)" = 2000 ] && grep -q "^Download=2000" "$conf"'

pkill -f "$bin/ZVmal.dll"
eventually '! pgrep -f "$bin/" >/dev/null'
printf '[General]\nMonitorShow=false\nSize=0\n' > "$conf"
DISPLAY=:0 QT_QPA_PLATFORM=offscreen "$bin/quantiro" </dev/null >"$work/window.log" 2>&1 &
meter=$!
eventually 'grep -q "^IsRunning=true" "$conf"'
for size in 1 2 0 1; do
    shape=$(case $size in 0) echo quantiro ;; 1) echo ZVmal.dll ;; 2) echo ZVpoz.dll ;; esac)
    "$bin/quantiro-options" --set "Size=$size"
    eventually "! kill -0 $meter 2>/dev/null"
    eventually "pgrep -f '$bin/$shape /START' >/dev/null"
    meter=$(pgrep -f "$bin/$shape /START")
    eventually 'grep -q "^IsRunning=true" "$conf"'
done
"$bin/quantiro" --terminal </dev/null >"$work/second.log" 2>&1
status=$?
check "after four switches a plain start is refused ($status)" \
    'grep -q "Program jest już uruchomiony." "$work/second.log"'
check "and one meter runs" '[ "$(pgrep -fc "$bin/")" = 1 ]'
exit $((failures > 0))
