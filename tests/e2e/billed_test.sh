#!/usr/bin/env bash
# What the provider bills, with "TylkoInternet" on: the meter's link reaches a LAN
# peer on its own segment (192.168.77.0/24, and a global IPv6 /64 on the link) and,
# through that peer as a router, an "internet" peer (198.51.100.0/24, 2001:db8:1::/64)
# and a carrier-grade NAT peer (100.64.0.0/10). The hour must hold the internet and
# CGNAT traffic within 1 % and the LAN traffic only as local; a prefix added to
# "SiecLokalna" while the meter runs, and an address added to the link, make later
# traffic local. The counting service runs in the meter's namespace, whose connected
# networks it follows (entered with nsenter, which keeps the cgroup mount in view).
# Skipped (77) as the applications test is.
#   billed_test.sh BIN_DIR
set -u
bin=$1
source "$(dirname "$0")/collector_setup.sh"
work=$(mktemp -d)
A=qbill-a-$$ R=qbill-r-$$ I=qbill-i-$$
slice=$cgroup/quantiro-billed-$$/app.slice
source "$(dirname "$0")/../check.sh"
cleanup() {
    kill $(jobs -p) 2>/dev/null # the meter, the service and the sinks
    wait 2>/dev/null
    for ns in "$A" "$R" "$I"; do ip netns del "$ns" 2>/dev/null; done
    remove_subtree "$cgroup/quantiro-billed-$$"
    rm -rf "$work"
}
trap cleanup EXIT

for ns in "$A" "$R" "$I"; do ip netns add "$ns"; ip -n "$ns" link set lo up; done
for ns in "$A" "$R" "$I"; do ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0; done
ip -n "$A" link add va type veth peer name vr netns "$R"
ip -n "$R" link add ri type veth peer name vi netns "$I"
ip -n "$A" addr add 192.168.77.2/24 dev va && ip -n "$A" addr add 2001:db8:77::2/64 dev va nodad
ip -n "$R" addr add 192.168.77.1/24 dev vr && ip -n "$R" addr add 2001:db8:77::1/64 dev vr nodad
ip -n "$R" addr add 198.51.100.1/24 dev ri && ip -n "$R" addr add 100.64.0.1/10 dev ri
ip -n "$R" addr add 2001:db8:1::1/64 dev ri nodad && ip -n "$R" addr add 203.0.113.1/24 dev vr
ip -n "$I" addr add 198.51.100.2/24 dev vi && ip -n "$I" addr add 100.64.0.2/10 dev vi
ip -n "$I" addr add 2001:db8:1::2/64 dev vi nodad
for pair in "$A va" "$R vr" "$R ri" "$I vi"; do set -- $pair; ip -n "$1" link set "$2" up; done
ip netns exec "$R" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
ip -n "$A" route add default via 192.168.77.1 && ip -n "$A" -6 route add default via 2001:db8:77::1
ip -n "$I" route add default via 198.51.100.1 && ip -n "$I" -6 route add default via 2001:db8:1::1
mkdir -p "$slice"
sleep 1

nsenter --net=/run/netns/"$A" "$bin/quantiro-collector" --socket "$work/collector.sock" > "$work/collector.log" 2>&1 &
collector=$!
for _ in $(seq 100); do [ -S "$work/collector.sock" ] && break; sleep 0.1; done
if ! [ -S "$work/collector.sock" ]; then
    grep -qi bpf "$work/collector.log" && { echo "SKIP: $(cat "$work/collector.log")"; exit 77; }
    echo "FAIL: the counting service did not start"; cat "$work/collector.log"; exit 1
fi
# Sinks for datagrams (9000) and streams (9001) on every peer address.
sink='
import socket, sys, threading
def stream(c):
    while c.recv(65536): pass
for a in sys.argv[1:]:
    f = socket.AF_INET6 if ":" in a else socket.AF_INET
    u = socket.socket(f, socket.SOCK_DGRAM); u.bind((a, 9000))
    threading.Thread(target=lambda u=u: [u.recv(65536) for _ in iter(int, 1)], daemon=True).start()
    t = socket.socket(f); t.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); t.bind((a, 9001)); t.listen(8)
    threading.Thread(target=lambda t=t: [threading.Thread(target=stream, args=(t.accept()[0],), daemon=True).start() for _ in iter(int, 1)], daemon=True).start()
threading.Event().wait()'
ip netns exec "$R" python3 -c "$sink" 192.168.77.1 2001:db8:77::1 203.0.113.1 &
ip netns exec "$I" python3 -c "$sink" 198.51.100.2 100.64.0.2 2001:db8:1::2 &
sleep 1

conf=$work/config/Kestrova/Quantiro.conf
mkdir -p "$(dirname "$conf")"
printf '[General]\nMonitorShow=false\nNoStartSummary=true\nTylkoInternet=true\n' > "$conf"
start_meter "$A"
sleep 3

# Sends $2 bytes by $1 (udp or tcp) to $3 from a desktop scope in the meter's
# namespace, and prints what the link sent meanwhile, in kB.
send() {
    local scope=$slice/app-test-sender-$RANDOM.scope before
    mkdir "$scope"
    before=$(ip netns exec "$A" cat /sys/class/net/va/statistics/tx_bytes)
    bash -c 'echo $$ > "$0/cgroup.procs"; shift; exec "$@"' "$scope" _ ip netns exec "$A" python3 -c '
import socket, sys, time
kind, size, peer = sys.argv[1], int(sys.argv[2]), sys.argv[3]
f = socket.AF_INET6 if ":" in peer else socket.AF_INET
if kind == "tcp":
    s = socket.create_connection((peer, 9001)); s.sendall(b"y" * size); s.close()
else:
    s = socket.socket(f, socket.SOCK_DGRAM)
    for i in range(size // 1000):
        s.sendto(b"x" * 1000, (peer, 9000))
        if i % 50 == 0: time.sleep(0.01)' "$1" "$2" "$3"
    rmdir "$scope"
    sleep 0.3
    echo $((($(ip netns exec "$A" cat /sys/class/net/va/statistics/tx_bytes) - before) / 1024))
}
records() { sqlite3 "$work/data/Kestrova/Quantiro/qub.db" "select coalesce(sum($1), 0) from $2"; }
billed=0 local=0
for target in "udp 1500000 198.51.100.2" "tcp 3000000 198.51.100.2" "udp 1000000 100.64.0.2" \
              "udp 1000000 2001:db8:1::2"; do
    kb=$(send $target); billed=$((billed + kb))
done
for target in "udp 2000000 192.168.77.1" "tcp 4000000 192.168.77.1" "udp 1000000 2001:db8:77::1"; do
    kb=$(send $target); local=$((local + kb))
done
# The user's own prefix, set while the meter runs, and an address added to the link.
XDG_CONFIG_HOME="$work/config" "$bin/quantiro-options" --set SiecLokalna=198.51.100.0/24
sleep 2
mine=$(send udp 1000000 198.51.100.2); local=$((local + mine))
before_address=$(send udp 500000 203.0.113.1); billed=$((billed + before_address))
ip -n "$A" addr add 203.0.113.5/24 dev va
sleep 1
added=$(send udp 500000 203.0.113.1); local=$((local + added))
sleep 2
kill -INT "$meter"
wait "$meter"
meter=

hour=$(records Upload trafic)
kept=$(records UploadLokalny aplikacje)
within() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(b > 0 && d <= b / 100 + 2) }'; }
echo "link: internet and CGNAT $billed kB, local $local kB; records: hour $hour kB, local $kept kB"
check "the hour holds the internet and CGNAT peers' traffic within 1 % ($hour of $billed kB)" \
    "within $hour $billed"
# The local sum holds the peer named in "SiecLokalna" after it was set and the peer
# of the address added to the link; counted as billed they would miss from it.
check "the LAN peers' traffic only as local, within 1 % ($kept of $local kB)" "within $kept $local"
shown=$(grep -a "wysłane:" "$work/meter.out" | tail -n 1 | sed -n 's/.*wysłane: \([0-9]*\)).*/\1/p')
check "and the meter shows what is billed ($shown kB sent)" "within ${shown:-0} $billed"
[ $failures -eq 0 ] || { cat "$work/collector.log"; tail -3 "$work/meter.out"; }
exit $((failures > 0))
