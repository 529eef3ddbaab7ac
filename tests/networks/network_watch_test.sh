#!/usr/bin/env bash
# Which network the watch names, against a real NetworkManager (see nm_rig.sh) and
# without one: two profiles of one device switched back and forth, a profile
# renamed, NetworkManager stopped and started under a running watch, a phone's
# hotspot that says it is metered through DHCP, and two routers behind one
# interface told apart by their addresses, a tunnel by its name. Skipped (77)
# without root, namespaces or NetworkManager.
#   network_watch_test.sh PROBE METER
set -u
probe=$1 meter_binary=$2
here=$(dirname "$0")
if [ "$(id -u)" != 0 ] || ! command -v NetworkManager > /dev/null || ! unshare --net true 2>/dev/null; then
    echo "SKIP: needs root, network namespaces and NetworkManager (scripts/install-deps.sh)"
    exit 77
fi
. "$here/nm_rig.sh"
work=$(mktemp -d)
cleanup() {
    [ -n "${watcher:-}" ] && kill "$watcher" 2>/dev/null
    [ -n "${meter:-}" ] && kill "$meter" 2>/dev/null
    [ -n "${dhcp:-}" ] && kill "$dhcp" 2>/dev/null
    rig_down
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/watch.out" 2>/dev/null; tail -20 "$rig/nm.log"; exit 1; }
rig_up "$work/rig" || fail "the namespaces or the bus could not be made"
rig_nm_start || { echo "SKIP: NetworkManager does not start here"; exit 77; }

nm() { nmcli --wait 10 "$@" > /dev/null || fail "nmcli $*"; }
# One datagram to the gateway: the machine resolves its hardware address.
poke() { ip netns exec "$rig_ns" bash -c "echo > /dev/udp/$1/9"; }
start_watch() {
    : > "$work/watch.out"
    ip netns exec "$rig_ns" "$probe" nm-a > "$work/watch.out" &
    watcher=$!
}
# The watch's last line, once it is the one expected (fields: id other name kind metered).
last_network() { tail -n 1 "$work/watch.out" | cut -f 2-; }
expect() { # $1: the expected line, $2: what it shows
    for _ in $(seq 100); do [ "$(last_network)" = "$1" ] && return 0; sleep 0.05; done
    fail "$2: the watch says '$(last_network)', not '$1'"
}
dom=nm:5e0c1d2a-0000-4000-8000-00000000d0d0
telefon=nm:5e0c1d2a-0000-4000-8000-0000000074e1
router=gw:02:00:00:00:00:0a

# Before any connection the watch knows none; then it follows the switches, and
# keeps the gateway's address beside the profile once the neighbour is known.
start_watch
nm connection up Dom
expect "$dom	-	Dom	ethernet	0" "Dom up"
poke 10.88.1.1
expect "$dom	$router	Dom	ethernet	0" "the gateway's address beside Dom"
for _ in 1 2; do
    nm connection up Telefon
    poke 10.88.2.1
    expect "$telefon	$router	Telefon	ethernet	1" "switched to Telefon"
    nm connection up Dom
    poke 10.88.1.1
    expect "$dom	$router	Dom	ethernet	0" "switched back to Dom"
done
# No line between two networks: every switch goes straight from one to the other.
ids=$(cut -f 2 "$work/watch.out" | uniq | tr '\n' ' ')
[ "$ids" = "$dom $telefon $dom $telefon $dom " ] || fail "the networks seen were: $ids"

# A watch started while NetworkManager runs names its network from the start, never
# first by the gateway's address.
ip netns exec "$rig_ns" "$probe" nm-a > "$work/second.out" &
second=$!
for _ in $(seq 100); do [ -s "$work/second.out" ] && break; sleep 0.05; done
kill "$second"
[ "$(head -n 1 "$work/second.out" | cut -f 2)" = "$dom" ] ||
    fail "a watch started under NetworkManager said first: $(head -n 1 "$work/second.out")"

# The meter itself names the network on its screen, from its own loop.
mkdir -p "$work/home/config"
XDG_CONFIG_HOME=$work/home/config XDG_RUNTIME_DIR=$work/home XDG_DATA_HOME=$work/home/data \
    XDG_CACHE_HOME=$work/home/cache XDG_STATE_HOME=$work/home/state QUANTIRO_INTERFACE=nm-a \
    QUANTIRO_COLLECTOR=$work/absent.sock \
    ip netns exec "$rig_ns" "$meter_binary" --terminal < /dev/null > "$work/meter.out" 2>&1 &
meter=$!
meter_says() {
    for _ in $(seq 100); do tail -n 1 "$work/meter.out" | grep -qF "sieć: $1  " && return 0; sleep 0.05; done
    fail "the meter's line is '$(tail -n 1 "$work/meter.out")', not of $1"
}
# Traffic in each phase is recorded under that phase's network, as the link counted it.
link() { ip netns exec "$rig_ns" cat /sys/class/net/nm-a/statistics/rx_bytes /sys/class/net/nm-a/statistics/tx_bytes | tr '\n' ' '; }
send() { # kB of datagrams to the router, which answers each with an ICMP error
    ip netns exec "$rig_ns" python3 -c "import socket,sys,time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _ in range(int(sys.argv[2])): s.sendto(b'x' * 1000, (sys.argv[1], 9)); time.sleep(0.0002)" "$1" "$2"
    sleep 0.5 # the meter's ticks take it in
}
meter_says "Dom (Ethernet)"
read -r rx0 tx0 <<< "$(link)"
send 10.88.1.1 2000
read -r rx1 tx1 <<< "$(link)"
nm connection up Telefon
meter_says "Telefon (Ethernet, taryfowana)"
send 10.88.2.1 3000
read -r rx2 tx2 <<< "$(link)"
nm connection up Dom
meter_says "Dom (Ethernet)"
read -r rx3 tx3 <<< "$(link)"
kill "$meter"
wait "$meter"
meter=
recorded() {
    sqlite3 "$work/home/data/Kestrova/Quantiro/qub.db" \
        "SELECT TOTAL(Download), TOTAL(Upload) FROM ruch_sieci WHERE Siec = '$1'" | tr '|' ' '
}
near() { # recorded kB against link bytes, within 2 kB (whole kB, split at a tick)
    python3 -c "import sys; r, b = float(sys.argv[1]), int(sys.argv[2]); sys.exit(abs(r - b / 1024) > 2)" "$1" "$2"
}
read -r dom_rx dom_tx <<< "$(recorded "$dom")"
read -r tel_rx tel_tx <<< "$(recorded "$telefon")"
near "$dom_rx" $(( rx1 - rx0 + rx3 - rx2 )) && near "$dom_tx" $(( tx1 - tx0 + tx3 - tx2 )) &&
    near "$tel_rx" $(( rx2 - rx1 )) && near "$tel_tx" $(( tx2 - tx1 )) ||
    fail "records Dom $dom_rx/$dom_tx kB, Telefon $tel_rx/$tel_tx kB; the link: Dom $(( (rx1 - rx0 + rx3 - rx2) / 1024 ))/$(( (tx1 - tx0 + tx3 - tx2) / 1024 )), Telefon $(( (rx2 - rx1) / 1024 ))/$(( (tx2 - tx1) / 1024 ))"

nm connection modify Dom connection.id Domek
expect "$dom	$router	Domek	ethernet	0" "Dom renamed"

# NetworkManager ends and comes back; the link stays up, and so does the network.
lines=$(wc -l < "$work/watch.out")
rig_nm_stop
rig_nm_start || fail "NetworkManager did not start again"
nm connection up Telefon
poke 10.88.2.1
expect "$telefon	$router	Telefon	ethernet	1" "Telefon after NetworkManager came back"
ids=$(tail -n +"$lines" "$work/watch.out" | cut -f 2 | uniq | tr '\n' ' ')
[ "$ids" = "$dom $telefon " ] || fail "across the restart the networks seen were: $ids"

# A phone's hotspot: DHCP with Android's vendor option, which NetworkManager reads
# as a guess of "metered".
ip -n "$rig_router" addr add 10.88.3.1/24 dev nm-b
ip netns exec "$rig_router" dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 \
    --interface=nm-b --bind-interfaces --dhcp-range=10.88.3.10,10.88.3.50,255.255.255.0,1h \
    --dhcp-leasefile="$work/leases" --dhcp-option=3,10.88.3.1 \
    --dhcp-option-force=43,ANDROID_METERED > /dev/null 2>&1 &
dhcp=$!
rig_profile Hotspot 5e0c1d2a-0000-4000-8000-0000000a0a0a 0 "" auto
sed -i '/^metered=0$/d' "$rig/etc/system-connections/Hotspot.nmconnection"
nm connection load "$rig/etc/system-connections/Hotspot.nmconnection"
nm connection up Hotspot
poke 10.88.3.1
expect "nm:5e0c1d2a-0000-4000-8000-0000000a0a0a	$router	Hotspot	ethernet	1" "the hotspot"
kill "$watcher"
watcher=

# Without NetworkManager: the gateway's address is the network, and a second router
# with another address behind the same interface is another network.
nm connection up Domek
rig_nm_stop
start_watch
poke 10.88.1.1
expect "$router	-	brama 02:00:00:00:00:0a	ethernet	0" "the first router"
ip -n "$rig_router" link add nm-c link nm-b type macvlan mode bridge
ip -n "$rig_router" link set nm-c address 02:00:00:00:00:0b
ip -n "$rig_router" addr add 10.88.4.1/24 dev nm-c
ip -n "$rig_router" link set nm-c up
ip -n "$rig_ns" addr add 10.88.4.2/24 dev nm-a
ip -n "$rig_ns" route replace default via 10.88.4.1 dev nm-a
poke 10.88.4.1
expect "gw:02:00:00:00:00:0b	-	brama 02:00:00:00:00:0b	ethernet	0" "the second router"
kill "$watcher"
# A link without a hardware address (a dialled modem, a tunnel) is its own network.
ip -n "$rig_ns" tuntap add dev qtun0 mode tun || fail "no tun device"
ip -n "$rig_ns" link set qtun0 up
: > "$work/watch.out"
ip netns exec "$rig_ns" "$probe" qtun0 > "$work/watch.out" &
watcher=$!
expect "if:qtun0	-	qtun0	ppp	0" "a tunnel"
echo "PASS"
