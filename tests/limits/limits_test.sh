#!/usr/bin/env bash
# The limit watcher as the meter starts it, against a real session bus with a
# recording notification service: refused arguments, one warning per threshold
# (replacing the one before, critical at 100 %), overlapping starts, a state file
# that is garbage, a database that cannot be read yet, and no service at all.
set -u
bin=$1
recorder=$2
work=$(mktemp -d)
source "$(dirname "$0")/../check.sh"
export HOME=$work XDG_RUNTIME_DIR=$work
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME
state=$work/.local/state/Kestrova/Quantiro/limits.state
watch() { "$bin/ZVlimiter.dll" "/$1" "/0" "/${2:-no}"; }

for arguments in "" "/1 /2" "/x /2 /no" "/1 /2 /maybe" "1 2 /no" "/1 /2 /no /no"; do
    # shellcheck disable=SC2086
    "$bin/ZVlimiter.dll" $arguments 2>"$work/err"
    status=$?
    check "'$arguments' is refused with status 2 ($status)" \
        '[ "$status" = 2 ] && grep -q "Użycie" "$work/err" && [ ! -e "$work/.local/state" ]'
done

mkdir -p "$work/.config/Kestrova" "$work/.local/share/Kestrova/Quantiro"
printf '[General]\nOstrzezeniaEnabled=true\nLimitMiesieczny=1\nLimitKierunek=0\n' \
    > "$work/.config/Kestrova/Quantiro.conf"
source "$(dirname "$0")/../notices.sh"
start_bus "$work"
trap 'kill $bus_pid 2>/dev/null; rm -rf "$work"' EXIT
start_recorder "$recorder" "$work/notices"

# 1 MB = 1024 kB; the database is not there at the start: the next start reads it.
watch 0 yes
sqlite3 "$work/.local/share/Kestrova/Quantiro/qub.db" \
    "CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, Download INTEGER, Upload INTEGER);
     INSERT INTO trafic VALUES ('$(date +%Y-%m-%d)', 0, 1, 700, 1);
     CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, Download INTEGER, Upload INTEGER);
     INSERT INTO aplikacje VALUES ('$(date +%Y-%m-%d)', 0, 'ssh', 90, 0),
         ('$(date +%Y-%m-%d)', 0, 'curl', 300, 1), ('$(date +%Y-%m-%d)', 0, 'nieprzypisane', 110, 0),
         ('$(date +%Y-%m-%d)', 0, 'apt-daily.service', 200, 0);"
watch 200      # 900 kB: 87 %
watch 210      # 910 kB: the same threshold
watch 400      # 1100 kB: 90 and 100 % at once
check "two warnings, the second replacing the first and critical" \
    '[ "$(cut -d" " -f1,2 "$work/notices" | tr "\n" ,)" = "0 1,1 2," ]'
check "in Polish" 'grep -q "^0 1 Wykorzystano 80 % limitu transferu|Wykorzystano " "$work/notices"'
check "naming the period's three largest applications" \
    'grep -q "Najwięcej zużyły: curl, apt-daily.service, ssh\." "$work/notices"'

# Overlapping starts after the limit was raised past the figure and crossed again.
sed -i 's/^LimitMiesieczny=1$/LimitMiesieczny=2/' "$work/.config/Kestrova/Quantiro.conf"
watch 400
for _ in $(seq 8); do watch 1500 & done
wait $(jobs -p | grep -v "^$service$") 2>/dev/null
check "eight overlapping starts give one warning ($(wc -l < "$work/notices") in all)" \
    '[ "$(wc -l < "$work/notices")" = 3 ]'

echo "garbage" > "$state"
check "a state file of garbage is written anew" 'watch 1500 && grep -q "^period=" "$state"'

kill "$service"
wait "$service" 2>/dev/null
sed -i 's/^LimitMiesieczny=2$/LimitMiesieczny=3/' "$work/.config/Kestrova/Quantiro.conf"
watch 100
LC_ALL=pl_PL.UTF-8 watch 2200 2>"$work/err"
check "without a notification service the warning goes to standard error" \
    'grep -q "Wykorzystano" "$work/err"'
check "with the limit written the Polish way ($(grep -o "z [0-9 ,.]* MB" "$work/err"))" \
    'grep -q "z 3,00 MB" "$work/err"'
check "and the state file keeps its points" '! grep -q "," "$state"'
# A running meter and real traffic on loopback: the meter starts the watcher every
# two seconds, and the 80 % and 100 % warnings come once each.
start_recorder "$recorder" "$work/live"
rm -f "$state"
printf '[General]\nOstrzezeniaEnabled=true\nLimitMiesieczny=40\nLimitKierunek=0\nLimitProg2=0\nMonitorShow=false\n' \
    > "$work/.config/Kestrova/Quantiro.conf"
# In a network namespace of its own, whose loopback counts from zero.
if [ "$(id -u)" = 0 ] && unshare --net true 2>/dev/null; then
    unshare --net bash -c '
        ip link set lo up
        QUANTIRO_INTERFACE=lo "$1/quantiro" --terminal </dev/null >"$2/meter.log" 2>&1 &
        meter=$!
        sleep 2
        exec 3>/dev/udp/127.0.0.1/9
        for _ in $(seq 120); do
            for _ in $(seq 500); do printf "%1400s" x >&3 2>/dev/null; done
            sleep 0.4
            grep -q "^[0-9]* 2 " "$2/live" 2>/dev/null && break
        done
        exec 3>&-
        sleep 3
        kill -TERM $meter
        wait $meter' - "$bin" "$work"
    check "a running meter's traffic gives the 80 % and the 100 % warning once each" \
        '[ "$(cut -d" " -f2-5 "$work/live" | tr "\n" ,)" = "1 Wykorzystano 80 %,2 Limit transferu został," ]'
else
    echo "# skipped the running meter: it needs root for a network namespace"
fi
kill "$service"
check "no libraries of Qt, D-Bus or SQLite are loaded for a start" \
    '! readelf -d "$bin/quantiro-limits" | grep -Eiq "NEEDED.*(qt|dbus|sqlite)"'
exit $((failures > 0))
