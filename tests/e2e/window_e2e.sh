#!/usr/bin/env bash
# The real meter in a real X server (Xvfb). With a tray host (trayer): the window
# where the settings put it, bars that move with loopback traffic, "Ukryj" and a
# click on the tray icon, "Parametry" and "Raporty" opening their windows, and
# SIGTERM's bookkeeping. Without one, under a window manager (openbox): a task-bar window
# that a close minimises and a second start brings back. The three window shapes
# switched through the settings, one meter and one hour record throughout. The
# monitor the meter starts, and ends with its exit. Exits 77 (skipped) when the
# tools are missing or the server cannot start.
set -u
binary=$1
for tool in xvfb-run trayer openbox wmctrl xprop xdotool xwininfo import convert python3 sqlite3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/config/Kestrova"
cp "$binary" "$(dirname "$binary")/quantiro-options" "$(dirname "$binary")/quantiro-monitor" \
    "$(dirname "$binary")/quantiro-reports" "$(dirname "$binary")/quantiro-fetch" "$work/program/"
cp -r "$(dirname "$binary")/modules" "$work/program/"
ln -s quantiro-reports "$work/program/zvraport.dll"
ln -s quantiro-monitor "$work/program/dlmon.dll"
ln -s quantiro-options "$work/program/ZVopcje.dll"
ln -s quantiro "$work/program/ZVmal.dll"
ln -s quantiro "$work/program/ZVpoz.dll"
cp "$(dirname "$binary")/quantiro.par" "$work/program/"
printf '[General]\nLeftP=1500\nTopP=600\nOnTop=true\nMonitorShow=false\n' > "$work/config/Kestrova/Quantiro.conf"

# What every scenario starts with: its checks, counted, and a patient wait.
cp "$(dirname "$0")/../check.sh" "$work/check.sh"
cat > "$work/helpers.sh" <<'INSIDE'
set -u
work=$1
source "$work/check.sh"
# Waits up to fifteen seconds for a condition, for a machine that is slow today.
eventually() { for _ in $(seq 75); do eval "$1" && return 0; sleep 0.2; done; return 1; }
# Ends the meter $meter as the session's end would, and checks it left with status 0.
end_meter() {
    kill -TERM "$meter"
    wait "$meter"
    local status=$?
    check "SIGTERM ends the meter with status 0 ($status)" "[ $status = 0 ]"
}
INSIDE

cat > "$work/inside.sh" <<'INSIDE'
. "$1/helpers.sh"

trayer --edge top --align right --widthtype pixel --width 100 --height 24 >/dev/null 2>&1 &
sleep 1
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/config QUANTIRO_INTERFACE=lo \
    XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache \
    "$work/program/quantiro" > "$work/meter.log" 2>&1 &
meter=$!
for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --name '^ Tranfery$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.2
done
if [ -z "$window" ]; then
    echo "not ok - the window appears"; cat "$work/meter.log"; kill "$meter"; exit 1
fi
geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                                          /Width/ {w=$NF} /Height/ {h=$NF} END {print x, y, w, h}')
read -r x y w h <<< "$geometry"
check "the window stands at the stored position (100, 40): $x, $y" '[ "$x" = 100 ] && [ "$y" = 40 ]'
check "the window is 125 x 313: $w x $h" '[ "$w" = 125 ] && [ "$h" = 313 ]'

bar() { import -window root "$work/$1.png"; convert "$work/$1.png" -crop "21x201+$((x + 36))+$((y + 8))" -format '%[fx:mean]' info:; }
sleep 1.5
idle=$(bar idle)
python3 - <<'PY' &
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
end = time.time() + 4
while time.time() < end:
    s.sendto(b"x" * 1400, ("127.0.0.1", 9))
    time.sleep(0.004)
PY
sender=$!
sleep 2.5
busy=$(bar busy)
wait "$sender"
check "the download bar fills while traffic flows ($idle -> $busy)" \
    "python3 -c 'import sys; sys.exit(0 if $idle - $busy > 0.2 else 1)'"

xdotool mousemove $((x + 100)) $((y + 250)) click 1
sleep 1.5
xdotool key Down Return
check "\"Parametry\" opens the options window" \
    "eventually 'xdotool search --onlyvisible --name \"^Quantiro – ustawienia\$\" >/dev/null'"
pkill -f "$work/program/ZVopcje.dll" # the name the meter starts it by
eventually '! xdotool search --onlyvisible --name "^Quantiro – ustawienia$" >/dev/null'
xdotool mousemove $((x + 100)) $((y + 250)) click 1
sleep 1.5
xdotool key Down Down Down Return
months=(styczeń luty marzec kwiecień maj czerwiec lipiec sierpień wrzesień październik listopad grudzień)
this_month="${months[$(($(date +%-m) - 1))]} $(date +%Y)"
check "\"Raporty\" opens the reports on this month, $this_month" \
    "eventually 'xdotool search --onlyvisible --name \"^Quantiro – raporty – $this_month\$\" >/dev/null'"
pkill -f "$work/program/zvraport.dll"
eventually '! xdotool search --onlyvisible --name "^Quantiro – raporty" >/dev/null'
xdotool mousemove $((x + 100)) $((y + 250)) click 1
sleep 1.5
xdotool key Down Down Down Down Return
check "\"Ukryj\" hides the window" "eventually 'xwininfo -id $window | grep -q IsUnMapped'"
check "\"Ukryj\" stores Hide" "grep -q '^Hide=true' $work/config/Kestrova/Quantiro.conf"
tray_icon() { xwininfo -root -tree | awk '/\("quantiro" "quantiro"\)  22x22/ {print $NF; exit}'; }
eventually '[ -n "$(tray_icon)" ]'
icon=$(tray_icon)
ix=$(echo "$icon" | cut -d+ -f2)
iy=$(echo "$icon" | cut -d+ -f3)
check "the tray holds the icon ($icon)" '[ -n "$ix" ]'
xdotool mousemove $((ix + 11)) $((iy + 11)) click 1
check "a click on the tray icon brings the window back" "eventually 'xwininfo -id $window | grep -q IsViewable'"
check "and clears Hide" "grep -q '^Hide=false' $work/config/Kestrova/Quantiro.conf"

# Hidden in the tray again, a second start shows its message, ends on the SIGTERM
# that timeout sends without anyone answering, and brings the window back.
xdotool mousemove $((x + 100)) $((y + 250)) click 1
sleep 1.5
xdotool key Down Down Down Down Return
eventually "xwininfo -id $window | grep -q IsUnMapped"
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/config QUANTIRO_INTERFACE=lo \
    XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache \
    timeout -k 5 5 "$work/program/quantiro" > "$work/second.log" 2>&1
status=$?
check "a second start ends on timeout's SIGTERM, not its SIGKILL ($status)" '[ "$status" = 124 ]'
check "and brings the window back from the tray" "eventually 'xwininfo -id $window | grep -q IsViewable'"

end_meter
check "IsRunning is False after SIGTERM" "grep -q '^IsRunning=false' $work/config/Kestrova/Quantiro.conf"
check "a shutdown leaves no correction" "grep -q '^Odejmij=false' $work/config/Kestrova/Quantiro.conf"
downloaded=$(sqlite3 "$work/data/Kestrova/Quantiro/qub.db" 'select Download from trafic order by rowid desc limit 1')
check "the hour's record holds the traffic ($downloaded kB)" '[ "${downloaded:-0}" -gt 100 ]'
kill %1 2>/dev/null
exit $((failures > 0))
INSIDE

cat > "$work/trayless.sh" <<'INSIDE'
. "$1/helpers.sh"
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state/ {print $NF}'; }
# Answers the message box titled $1 with Return.
answer() {
    local title=$1 box=""
    eventually 'box=$(find_window "$title"); [ -n "$box" ]' || return 1
    xdotool windowactivate --sync "$box" key Return
}

openbox >/dev/null 2>&1 &
sleep 1
export XDG_CONFIG_HOME=$work/trayless XDG_RUNTIME_DIR=$work/trayless XDG_DATA_HOME=$work/trayless
export XDG_CACHE_HOME=$work/trayless QUANTIRO_INTERFACE=lo
mkdir -p "$XDG_CONFIG_HOME/Kestrova"
printf '[General]\nMonitorShow=false\n' > "$XDG_CONFIG_HOME/Kestrova/Quantiro.conf"
"$work/program/quantiro" > "$work/trayless.log" 2>&1 &
meter=$!
window=""
eventually 'window=$(find_window "^ Tranfery$"); [ -n "$window" ]'
if [ -z "$window" ]; then
    echo "not ok - the window appears"; cat "$work/trayless.log"; kill "$meter"; exit 1
fi
check "without a tray the window is a normal one, with a task-bar entry" \
    "xprop -id $window _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_NORMAL"
wmctrl -i -c "$window"
check "the close notice is shown" 'answer "^Kończenie pracy programu$"'
check "closing minimises the window" "eventually '[ \"\$(state $window)\" = Iconic ]'"
"$work/program/quantiro" > "$work/second.log" 2>&1 &
second=$!
check "a second start brings the window back" "eventually '[ \"\$(state $window)\" = Normal ]'"
check "and says the meter is running" 'answer "^Zelvano$"'
wait "$second"
status=$?
check "the second start ends with status 0 ($status)" '[ "$status" = 0 ]'
end_meter
check "the first meter still counted" '[ -f "$work/trayless/Kestrova/Quantiro/qub.db" ]'
kill %1 2>/dev/null
exit $((failures > 0))
INSIDE

cat > "$work/shapes.sh" <<'INSIDE'
. "$1/helpers.sh"
meters() { pgrep -f "^$work/program/(quantiro|ZVmal.dll|ZVpoz.dll)( |$)" | wc -l; }
monitors() { pgrep -f "^$work/program/dlmon.dll" | wc -l; }
size() {
    local window
    window=$(xdotool search --onlyvisible --name '^ Tranfery$' 2>/dev/null | head -1)
    [ -n "$window" ] && xwininfo -id "$window" | awk '/Width/ {w=$NF} /Height/ {h=$NF} END {print w "x" h}'
}
# Sends about 2 MB over loopback, which the meter counts as received, and adds what
# the kernel counted to $sent (kB).
sent=0
send() {
    local before after
    before=$(cat /sys/class/net/lo/statistics/rx_bytes)
    python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _ in range(1500): s.sendto(b"x" * 1400, ("127.0.0.1", 9))'
    after=$(cat /sys/class/net/lo/statistics/rx_bytes)
    sent=$((sent + (after - before) / 1024))
}

trayer --edge top --align right --widthtype pixel --width 100 --height 24 >/dev/null 2>&1 &
sleep 1
export XDG_CONFIG_HOME=$work/shapes XDG_RUNTIME_DIR=$work/shapes XDG_DATA_HOME=$work/shapes
export XDG_CACHE_HOME=$work/shapes QUANTIRO_INTERFACE=lo
mkdir -p "$XDG_CONFIG_HOME/Kestrova"
printf '[General]\nMonitorShow=true\n' > "$XDG_CONFIG_HOME/Kestrova/Quantiro.conf"
"$work/program/quantiro" > "$work/shapes.log" 2>&1 &
eventually '[ "$(size)" = 125x313 ]'
sleep 1
send
for step in "1 125x104" "2 313x60" "0 125x313"; do
    read -r variant expected <<< "$step"
    "$work/program/quantiro-options" --set "Size=$variant"
    check "Size $variant: the window becomes $expected" "eventually '[ \"\$(size)\" = $expected ] && [ \$(meters) = 1 ]'"
    check "and one meter runs ($(meters))" '[ "$(meters)" = 1 ]'
    sleep 1
    check "and one monitor ($(monitors))" '[ "$(monitors)" = 1 ]'
    send
done
sleep 1
pkill -TERM -f "^$work/program/quantiro( |$)"
eventually '[ "$(meters)" = 0 ]'
rows=$(sqlite3 "$work/shapes/Kestrova/Quantiro/qub.db" 'select count(*), sum(Download) from trafic')
count=${rows%%|*}
downloaded=${rows##*|}
check "one hour record ($count)" '[ "$count" = 1 ] || [ "$(date +%M)" -lt 2 ]'
# Each send ran while some shape was up: all of it counted, and none of it twice
# (one shape's share counted again would add a quarter).
check "it holds the traffic of every shape once ($downloaded kB of $sent kB sent)" \
    '[ "${downloaded:-0}" -ge $((sent - 200)) ] && [ "${downloaded:-0}" -le $((sent * 6 / 5)) ]'
kill %1 2>/dev/null
exit $((failures > 0))
INSIDE

cat > "$work/monitor.sh" <<'INSIDE'
. "$1/helpers.sh"
monitors() { pgrep -f "^$work/program/dlmon.dll" | wc -l; }
export XDG_CONFIG_HOME=$work/monitor XDG_RUNTIME_DIR=$work/monitor XDG_DATA_HOME=$work/monitor
export XDG_CACHE_HOME=$work/monitor QUANTIRO_INTERFACE=lo
conf=$XDG_CONFIG_HOME/Kestrova/Quantiro.conf
mkdir -p "$XDG_CONFIG_HOME/Kestrova"
printf '[General]\nMonitorLeft=200\nMonitorTop=150\n' > "$conf"
"$work/program/quantiro" > "$work/monitor.log" 2>&1 &
meter=$!
window=""
check "the meter starts its monitor" \
    'eventually '"'"'window=$(xdotool search --onlyvisible --name "^Quantiro – monitor$" | head -1); [ -n "$window" ]'"'"''
"$work/program/dlmon.dll" >/dev/null 2>&1
check "a second start of the monitor ends at once, leaving one ($(monitors))" '[ "$(monitors)" = 1 ]'
xdotool windowmove "$window" 220 170
sleep 1
kill -TERM "$meter"
wait "$meter"
check "the meter's exit ends the monitor" "eventually '[ \$(monitors) = 0 ]'"
check "which kept its new place ($(grep MonitorLeft "$conf"))" 'grep -q "^MonitorLeft=220" "$conf"'
exit $((failures > 0))
INSIDE

for scenario in inside trayless shapes monitor; do
    timeout 120 xvfb-run -a -s "-screen 0 640x480x24" bash "$work/$scenario.sh" "$work" 2>"$work/xvfb.log"
    status=$?
    if [ "$status" -ne 0 ]; then
        if grep -q "xvfb-run: error" "$work/xvfb.log"; then
            echo "SKIP: Xvfb cannot start"; cat "$work/xvfb.log"
            exit 77
        fi
        cat "$work/xvfb.log" "$work/meter.log" "$work/trayless.log" "$work/shapes.log" \
            "$work/monitor.log" 2>/dev/null
        echo "FAILED"
        exit 1
    fi
done
echo "window end-to-end: all checks passed"
