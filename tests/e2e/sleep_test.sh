#!/usr/bin/env bash
# The system's sleep, announced by a stand-in for logind on a bus the test started as
# the system bus: the meter holds a delay lock, and lets it go only once the open
# hour's record holds what loopback carried; after the wake it takes a new lock. Both
# front-ends, the window on Qt's offscreen platform; each in a network namespace of
# its own. Skipped (77) without root or namespaces.
#   sleep_test.sh BIN_DIR FAKE_LOGIND
set -u
bin=$1 logind=$2
if [ "$(id -u)" != 0 ] || ! unshare --net true 2>/dev/null; then
    echo "SKIP: needs root for a network namespace"
    exit 77
fi
work=$(mktemp -d)
cleanup() {
    [ -n "${meter:-}" ] && kill -9 "$meter" 2>/dev/null
    [ -n "${service:-}" ] && kill "$service" 2>/dev/null
    [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/log" "$work/meter.out" 2>/dev/null; exit 1; }
waitfor() { # $1: a line of the log, $2: how many of them
    for _ in $(seq 300); do
        [ "$(cat "$work/log" 2>/dev/null | grep -c "^$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
eval "$(dbus-daemon --session --address="unix:path=$work/system_bus" --fork --print-address=1 --print-pid=1 | {
    read -r address; read -r pid; echo "export DBUS_SYSTEM_BUS_ADDRESS='$address' bus_pid=$pid"; })"
mkfifo "$work/commands"
"$logind" "$work/log" < "$work/commands" > "$work/logind.out" &
service=$!
exec 3> "$work/commands"
for _ in $(seq 50); do grep -q ready "$work/logind.out" && break; sleep 0.1; done

run_front_end() { # $1: terminal or window
    rm -rf "$work/config" "$work/data" "$work/log" "$work/inside"
    mkdir -p "$work/config/Kestrova"
    printf '[General]\nMonitorShow=false\n' > "$work/config/Kestrova/Quantiro.conf"
    # The meter and the traffic in a namespace of their own: its loopback carries
    # nothing but the test's datagrams. The meter's pid comes out on the first line.
    unshare --net bash -s "$bin" "$work" "$1" "$(dirname "$0")" > "$work/inside" <<'INSIDE' &
bin=$1 work=$2 front=$3 here=$4
ip link set lo up
if [ "$front" = window ]; then
    set -- env DISPLAY=:0 QT_QPA_PLATFORM=offscreen "$bin/quantiro" /START
else
    set -- "$bin/quantiro" --terminal
fi
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/config XDG_DATA_HOME=$work/data \
    XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state QUANTIRO_INTERFACE=lo \
    exec "$@" < /dev/null > "$work/meter.out" 2>&1 &
echo $!
# The traffic starts once the meter holds its lock, so it has taken the counters up.
for _ in $(seq 300); do grep -q "^inhibit" "$work/log" 2>/dev/null && break; sleep 0.1; done
sleep 1
received() { awk '$1 == "lo:" {print $2}' /proc/net/dev; }
before=$(received)
python3 "$here/loopback_datagrams.py" 4 0.01
sleep 1
echo $(( ($(received) - before) / 1024 ))
wait
INSIDE
    inside=$!
    for _ in $(seq 600); do [ "$(cat "$work/inside" 2>/dev/null | wc -l)" -ge 2 ] && break; sleep 0.1; done
    meter=$(sed -n 1p "$work/inside")
    kernel=$(sed -n 2p "$work/inside")
    [ -n "$kernel" ] || fail "no traffic figure"
    waitfor "inhibit sleep Quantiro delay" 1 || fail "the meter took no delay lock"

    records() { sqlite3 "$work/data/Kestrova/Quantiro/qub.db" 'select total(Download) from trafic'; }
    before=$(records)
    # Another program's signals of the same name, to everybody and to the meter
    # alone, take nothing away.
    caller=$(sed -n 's/^inhibit sleep Quantiro delay //p' "$work/log" | head -n 1)
    dbus-send --system --type=signal /org/freedesktop/login1 \
        org.freedesktop.login1.Manager.PrepareForSleep boolean:true
    dbus-send --system --type=signal --dest="$caller" /org/freedesktop/login1 \
        org.freedesktop.login1.Manager.PrepareForSleep boolean:true
    sleep 2
    ! grep -q "^released" "$work/log" || fail "$1: another sender's signal let the lock go"
    echo sleep >&3
    waitfor released 1 || fail "the lock was not let go"
    saved=$(records)
    echo "$1: kernel $kernel kB, records $before kB before the sleep, $saved kB when the lock was let go"
    # The traffic's ticks all count by the usual rule; the records round each tick's
    # kilobytes and the kernel's figure is cut to whole ones.
    awk -v s="$saved" -v k="$kernel" 'BEGIN { exit !(s >= k - 2 && s <= k + 1) }' ||
        fail "$1: records hold $saved kB of $kernel kB"

    echo wake >&3
    waitfor "inhibit sleep Quantiro delay" 2 || fail "no new lock after the wake"
    kill -0 "$meter" 2>/dev/null || fail "the meter ended"
    kill -INT "$meter"
    wait "$inside"
}

run_front_end terminal
run_front_end window

# A system bus that takes the connection and never answers holds no start up.
kill -STOP "$bus_pid"
printf '[General]\nMonitorShow=false\n' > "$work/config/Kestrova/Quantiro.conf"
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/config XDG_DATA_HOME=$work/data \
    XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state QUANTIRO_INTERFACE=lo \
    "$bin/quantiro" --terminal < /dev/null > "$work/meter.out" 2>&1 &
meter=$!
for _ in $(seq 100); do grep -q "^IsRunning=true" "$work/config/Kestrova/Quantiro.conf" && break; sleep 0.1; done
for _ in $(seq 50); do [ -s "$work/meter.out" ] && break; sleep 0.1; done
[ -s "$work/meter.out" ] || { kill -CONT "$bus_pid"; fail "a silent system bus held the start up"; }
kill -INT "$meter"
wait "$meter"
kill -CONT "$bus_pid"
echo PASS
