#!/usr/bin/env bash
# A program's share of a veth link whose counters count a large packet once (as veth
# does) and as its segments (segmentation offload off on the sending end), each with
# a flood of pings beside it that the kernel answers, with no socket of any program:
# the program's upload and download and the unattributed rest's must each be within
# 1 % of what the link's counters and the kernel's ICMP counters say they were.
# Skipped (77) without root, namespaces or cgroup v2, or where bpf() is refused.
#   segments_test.sh BIN_DIR
set -u
bin=$1
source "$(dirname "$0")/collector_setup.sh"
source "$(dirname "$0")/../check.sh"
work=$(mktemp -d)
A=qseg-a-$$ B=qseg-b-$$
slice=$cgroup/quantiro-e2e-seg-$$/app.slice
cleanup() {
    kill "${meter:-}" "${collector:-}" "${sink:-}" 2>/dev/null
    wait 2>/dev/null
    ip netns del "$A" 2>/dev/null
    ip netns del "$B" 2>/dev/null
    remove_subtree "${slice%/app.slice}"
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$A" && ip netns add "$B"
ip -n "$A" link add va address 02:00:00:00:33:0a type veth peer name vb address 02:00:00:00:33:0b
ip -n "$A" link set vb netns "$B"
for ns in "$A" "$B"; do # no IPv6 or ARP chatter: the link carries only what the test sends
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
done
ip -n "$A" addr add 10.233.0.1/24 dev va && ip -n "$A" link set va up && ip -n "$A" link set lo up
ip -n "$B" addr add 10.233.0.2/24 dev vb && ip -n "$B" link set vb up
ip -n "$A" neigh replace 10.233.0.2 lladdr 02:00:00:00:33:0b nud permanent dev va
ip -n "$B" neigh replace 10.233.0.1 lladdr 02:00:00:00:33:0a nud permanent dev vb
ip -n "$A" route add default via 10.233.0.2
mkdir -p "$slice"

"$bin/quantiro-collector" --socket "$work/collector.sock" > "$work/collector.log" 2>&1 &
collector=$!
for _ in $(seq 100); do [ -S "$work/collector.sock" ] && break; sleep 0.1; done
if [ ! -S "$work/collector.sock" ]; then
    grep -qi bpf "$work/collector.log" && { echo "SKIP: $(cat "$work/collector.log")"; exit 77; }
    echo "FAIL: the counting service did not start"; cat "$work/collector.log"; exit 1
fi
ip netns exec "$B" python3 -c '
import socket, threading
t = socket.socket(); t.bind(("10.233.0.2", 9001)); t.listen(8)
def stream(c):
    while c.recv(65536): pass
while True: threading.Thread(target=stream, args=(t.accept()[0],), daemon=True).start()' &
sink=$!
mkdir -p "$work/config/Kestrova"
printf '[General]\nMonitorShow=false\nNoStartSummary=true\n' > "$work/config/Kestrova/Quantiro.conf"

# 32 MB in 64 kB writes over about two seconds, from a desktop scope in namespace A.
send() {
    local scope=$slice/app-test-segsender-$RANDOM.scope
    mkdir "$scope"
    bash -c 'echo $$ > "$0/cgroup.procs"; exec "$@"' "$scope" ip netns exec "$A" python3 -c '
import socket, time
s = socket.create_connection(("10.233.0.2", 9001))
for _ in range(500): s.sendall(b"y" * 65536); time.sleep(0.004)
s.close()'
    rmdir "$scope"
}
# 2,000 echo requests of 1,400 bytes from B, answered by A's kernel.
pings() { ip netns exec "$B" python3 -c '
import socket, struct, time
body = struct.pack("!HH", 1, 1) + b"p" * 1400
total = 8 * 256 + sum(struct.unpack("!%dH" % (len(body) // 2), body))
while total >> 16: total = (total & 0xFFFF) + (total >> 16)
packet = struct.pack("!BBH", 8, 0, ~total & 0xFFFF) + body
s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
for i in range(2000):
    s.sendto(packet, ("10.233.0.1", 0))
    if i % 10 == 9: time.sleep(0.01)'; }
link() { ip netns exec "$A" cat /sys/class/net/va/statistics/"$1"_bytes; }
icmp() { ip netns exec "$A" awk -v f="$1" '/^Icmp:/ { if (c) print $c; else for (i = 1; i <= NF; i++) if ($i == f) c = i }' /proc/net/snmp; }
row() { sqlite3 "$work/data/Kestrova/Quantiro/qub.db" "select coalesce(sum($2), 0) from aplikacje where Aplikacja = '$1'"; }
within() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(b > 0 && d <= b / 100 + 1) }'; }

for counting in whole segments; do
    [ $counting = segments ] && ip netns exec "$A" ethtool -K va tso off gso off
    rm -rf "$work/data"
    rx=$(link rx) tx=$(link tx) requests=$(icmp InEchos) replies=$(icmp OutEchoReps)
    start_meter "$A"
    sleep 3 # the first readings only take the counters up
    send & sender=$!
    pings & pinger=$!
    wait $sender $pinger
    sleep 3
    kill -INT "$meter" && wait "$meter"
    # Each ICMP message on the link: 1,400 bytes, its ICMP, IP and Ethernet headers.
    others_rx=$((($(icmp InEchos) - requests) * 1442 / 1024))
    others_tx=$((($(icmp OutEchoReps) - replies) * 1442 / 1024))
    app_rx=$((($(link rx) - rx) / 1024 - others_rx)) app_tx=$((($(link tx) - tx) / 1024 - others_tx))
    for way in "Upload $app_tx $others_tx" "Download $app_rx $others_rx"; do
        read -r column app others <<< "$way"
        check "$counting: the sender's $column within 1 % ($(row segsender.desktop "$column") of $app kB)" \
            "within $(row segsender.desktop "$column") $app"
        check "$counting: the unattributed $column within 1 % ($(row nieprzypisane "$column") of $others kB)" \
            "within $(row nieprzypisane "$column") $others"
    done
done
[ $failures -eq 0 ] || { cat "$work/collector.log"; tail -3 "$work/meter.out"; }
exit $((failures > 0))
