# Shared by the bench scripts: a program directory of the meter's own, its
# settings, loopback traffic and a table row printer.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${BIN:-$here/build/release/bin}

# A program directory with the meter and its parameter file, and a config home.
new_meter_dir() { # $1: directory
    mkdir -p "$1/config/Kestrova" "$1/data/Kestrova/Quantiro"
    cp "$bin/quantiro" "$bin/quantiro-fetch" "$bin/quantiro.par" "$1/"
    cp -r "$bin/modules" "$1/"
}

conf() { echo "$1/config/Kestrova/Quantiro.conf"; }

setting() { # $1: directory, $2: name -> the stored value, or nothing
    sed -n "s/^$2=//p" "$(conf "$1")" 2>/dev/null | tail -1
}

# The traffic database of the meter in directory $1.
db() { echo "$1/data/Kestrova/Quantiro/qub.db"; }

# Starts the terminal front-end in the background; its pid goes to $meter_pid.
start_meter() { # $1: directory, further arguments: environment assignments
    local dir=$1
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/config" \
        XDG_DATA_HOME="$dir/data" XDG_CACHE_HOME="$dir/cache" XDG_STATE_HOME="$dir/state" "$@" \
        "$dir/quantiro" /START < /dev/null > "$dir/meter.out" 2> "$dir/meter.err" &
    meter_pid=$!
}

# UDP datagrams of 1400 bytes to 127.0.0.1 for $1 seconds at about $2 kB/s.
loopback_traffic() {
    python3 - "$1" "$2" <<'PY'
import socket, sys, time
seconds, rate = float(sys.argv[1]), float(sys.argv[2])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
gap = 1.4 / rate
end = time.time() + seconds
while time.time() < end:
    s.sendto(b"x" * 1400, ("127.0.0.1", 9))
    time.sleep(gap)
PY
}

rx_bytes() { cat "/sys/class/net/$1/statistics/rx_bytes"; }

row() { printf '%-34s %-44s %s\n' "$1" "$2" "$3"; }
