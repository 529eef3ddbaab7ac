# Shared by the scripts that watch desktop notices: a session bus of their own and
# a notification service on it that records every Notify call. Sourced.

# A bus on a file path in $1 (which a program in another network namespace reaches
# too); exports DBUS_SESSION_BUS_ADDRESS and sets bus_pid.
start_bus() {
    eval "$(dbus-daemon --session --address="unix:path=$1/bus" --fork --print-address=1 --print-pid=1 | {
        read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS='$address' bus_pid=$pid"; })"
}

# Starts the recording service $1 writing to the file $2, sets service to its pid,
# and returns once it is on the bus.
start_recorder() {
    "$1" "$2" > "$2.out" &
    service=$!
    for _ in $(seq 50); do grep -q ready "$2.out" && break; sleep 0.1; done
}
