# Sourced by the network tests: a real NetworkManager on a private system-type bus,
# inside a network namespace of the test's own, managing one end of a veth pair
# whose other end sits in a "router" namespace. Nothing of the host's is touched:
# the bus, NetworkManager's files and its run directory live under $rig.
#   rig_up DIR   rig_nm_start   rig_nm_stop   rig_down
# After rig_up: $rig_ns (the machine), $rig_router, DBUS_SYSTEM_BUS_ADDRESS.

rig_up() {
    rig=$1
    rig_ns=qnm-$$-m rig_router=qnm-$$-r
    mkdir -p "$rig"/bus "$rig"/etc/conf.d "$rig"/etc/system-connections "$rig"/lib "$rig"/run
    chmod 700 "$rig"/etc/system-connections "$rig"/lib
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$rig/bus/system_bus_socket
    # The system bus's policy, on a socket of its own: NetworkManager's own policy
    # file (system.d) lets it take its name.
    cat > "$rig/bus/system.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>$DBUS_SYSTEM_BUS_ADDRESS</listen>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
</busconfig>
XML
    cat > "$rig/etc/NetworkManager.conf" <<INI
[main]
plugins=keyfile
no-auto-default=*
dns=none
rc-manager=unmanaged
systemd-resolved=false
hostname-mode=none
auth-polkit=false
dhcp=internal

[keyfile]
path=$rig/etc/system-connections
unmanaged-devices=except:interface-name:nm-a

[connectivity]
enabled=false
INI
    rig_profile Dom 5e0c1d2a-0000-4000-8000-00000000d0d0 2 "address1=10.88.1.2/24,10.88.1.1"
    rig_profile Telefon 5e0c1d2a-0000-4000-8000-0000000074e1 1 "address1=10.88.2.2/24,10.88.2.1"

    # NetworkManager waits for udev forever unless /sys is read-only, and its
    # compiled-in directories are bound to the rig's, in its own mount namespace.
    cat > "$rig/nm-run.sh" <<SH
#!/bin/sh
set -e
mount -o remount,bind,ro /sys
mount --bind $rig/run /run
mkdir -p /run/NetworkManager
mount --bind $rig/lib /var/lib/NetworkManager
mount --bind $rig/etc /etc/NetworkManager
exec NetworkManager --no-daemon --config=$rig/etc/NetworkManager.conf \
  --config-dir=$rig/etc/conf.d --system-config-dir=$rig/etc/conf.d \
  --intern-config=$rig/lib/intern.conf --state-file=$rig/lib/NetworkManager.state \
  --pid-file=/run/NetworkManager/NetworkManager.pid
SH
    chmod +x "$rig/nm-run.sh"

    ip netns add "$rig_ns" && ip netns add "$rig_router" || return 1
    ip -n "$rig_ns" link set lo up
    ip -n "$rig_router" link set lo up
    ip -n "$rig_ns" link add nm-a type veth peer name nm-b netns "$rig_router" || return 1
    ip -n "$rig_router" link set nm-b address 02:00:00:00:00:0a
    ip -n "$rig_router" addr add 10.88.1.1/24 dev nm-b
    ip -n "$rig_router" addr add 10.88.2.1/24 dev nm-b
    ip -n "$rig_router" link set nm-b up
    dbus-daemon --config-file="$rig/bus/system.conf" --fork --print-pid=1 > "$rig/bus.pid" || return 1
}

# rig_profile NAME UUID METERED IPV4-LINE [METHOD]: a keyfile profile for nm-a.
rig_profile() {
    cat > "$rig/etc/system-connections/$1.nmconnection" <<INI
[connection]
id=$1
uuid=$2
type=ethernet
autoconnect=false
interface-name=nm-a
metered=$3

[ipv4]
$4
method=${5:-manual}

[ipv6]
method=disabled
INI
    chmod 600 "$rig/etc/system-connections/$1.nmconnection"
}

rig_nm_start() {
    setsid ip netns exec "$rig_ns" "$rig/nm-run.sh" > "$rig/nm.log" 2>&1 < /dev/null &
    rig_nm=$!
    for _ in $(seq 200); do
        dbus-send --system --print-reply --dest=org.freedesktop.NetworkManager \
            /org/freedesktop/NetworkManager org.freedesktop.DBus.Properties.Get \
            string:org.freedesktop.NetworkManager string:Startup 2>/dev/null |
            grep -q 'boolean false' && return 0
        kill -0 "$rig_nm" 2>/dev/null || break
        sleep 0.05
    done
    cat "$rig/nm.log"
    return 1
}

# NetworkManager leaves its connections up as it ends, as on a real system.
rig_nm_stop() {
    [ -n "${rig_nm:-}" ] || return 0
    kill "$rig_nm" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$rig_nm" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$rig_nm" 2>/dev/null
    wait "$rig_nm" 2>/dev/null
    rig_nm=
}

rig_down() {
    rig_nm_stop
    [ -s "$rig/bus.pid" ] && kill "$(cat "$rig/bus.pid")" 2>/dev/null
    ip netns del "$rig_ns" 2>/dev/null
    ip netns del "$rig_router" 2>/dev/null
}
