#!/usr/bin/env bash
# The meter and the counting service together, as a user runs them: the meter in a
# network namespace measuring one end of a veth pair, the service attached to the
# cgroup v2 hierarchy, and programs in desktop scopes of a subtree the test makes
# sending to the other end. Each program's recorded hour must match what its phase
# put on the link within 1 %, the rows must add up to the hour, a restart of the
# service must count nothing twice and its absence must change nothing else.
# Skipped (77) without root, namespaces or cgroup v2, or where bpf() is refused.
#   applications_test.sh BIN_DIR
set -u
bin=$1
source "$(dirname "$0")/collector_setup.sh"
work=$(mktemp -d)
A=qapps-a-$$ B=qapps-b-$$
slice=$cgroup/quantiro-e2e-$$/app.slice
source "$(dirname "$0")/../check.sh"
cleanup() {
    kill "${meter:-}" "${collector:-}" "${sink:-}" 2>/dev/null
    wait 2>/dev/null
    ip netns del "$A" 2>/dev/null
    ip netns del "$B" 2>/dev/null
    remove_subtree "$cgroup/quantiro-e2e-$$"
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$A" && ip netns add "$B"
ip -n "$A" link add va type veth peer name vb && ip -n "$A" link set vb netns "$B"
ip -n "$A" addr add 10.231.0.1/24 dev va && ip -n "$A" link set va up && ip -n "$A" link set lo up
ip -n "$B" addr add 10.231.0.2/24 dev vb && ip -n "$B" link set vb up && ip -n "$B" link set lo up
ip -n "$A" route add default via 10.231.0.2
mkdir -p "$slice"

start_collector() {
    "$bin/quantiro-collector" --socket "$work/collector.sock" >> "$work/collector.log" 2>&1 &
    collector=$!
    for _ in $(seq 100); do [ -S "$work/collector.sock" ] && return 0; sleep 0.1; done
    if ! kill -0 "$collector" 2>/dev/null && grep -qi "bpf" "$work/collector.log"; then
        echo "SKIP: the kernel refuses the counting service: $(cat "$work/collector.log")"
        exit 77
    fi
    echo "FAIL: the counting service did not start"; cat "$work/collector.log"; exit 1
}
stop_collector() { kill "$collector"; wait "$collector" 2>/dev/null; rm -f "$work/collector.sock"; }
start_collector

# Whatever comes to the peer: datagrams on 9000, a TCP stream on 9001.
ip netns exec "$B" python3 -c '
import socket, threading
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.231.0.2", 9000))
t = socket.socket(); t.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
t.bind(("10.231.0.2", 9001)); t.listen(8)
def stream(c):
    while c.recv(65536): pass
def accept():
    while True: threading.Thread(target=stream, args=(t.accept()[0],), daemon=True).start()
threading.Thread(target=accept, daemon=True).start()
while True: u.recv(65536)' &
sink=$!

mkdir -p "$work/config/Kestrova"
printf '[General]\nMonitorShow=false\nNoStartSummary=true\n' > "$work/config/Kestrova/Quantiro.conf"
start_meter "$A"
sleep 3 # the first readings only take the counters up

# Runs "$2..." in namespace A from a fresh desktop scope named after $1.
in_scope() {
    local scope=$slice/app-test-$1-$RANDOM.scope
    mkdir "$scope"
    shift
    bash -c 'echo $$ > "$0/cgroup.procs"; shift; exec "$@"' "$scope" _ ip netns exec "$A" "$@"
    rmdir "$scope" 2>/dev/null
}
udp() { python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(int(sys.argv[1])):
    s.sendto(b"x" * 1000, ("10.231.0.2", 9000))
    if i % 50 == 0: time.sleep(0.01)' "$1"; }
tcp() { python3 -c '
import socket, sys
s = socket.create_connection(("10.231.0.2", 9001)); s.sendall(b"y" * int(sys.argv[1])); s.close()' "$1"; }
export -f udp tcp in_scope
export A slice
link() { ip netns exec "$A" cat /sys/class/net/va/statistics/"$1"_bytes; }
# Runs one phase and prints what the link carried meanwhile, "rx tx" in kB.
phase() {
    local rx=$(link rx) tx=$(link tx)
    "$@"
    sleep 0.5
    echo "$((($(link rx) - rx) / 1024)) $((($(link tx) - tx) / 1024))"
}
read -r udp_rx udp_tx < <(phase in_scope udpsender bash -c 'udp 3000')
read -r tcp_rx tcp_tx < <(phase in_scope tcpsender bash -c 'tcp 2000000')
# Twenty short programs, each in a scope removed as soon as it ends.
read -r short_rx short_tx < <(phase bash -c 'for i in $(seq 20); do in_scope shortlived bash -c "udp 50"; done')
# The service restarted while a program sends: its new counters start from zero.
in_scope restarted bash -c 'udp 500; sleep 1; udp 2000' &
sender=$!
sleep 0.6
stop_collector
start_collector
wait "$sender"
sleep 5 # the meter finds the new service and reads it twice
# Without the service the meter counts the link as ever.
stop_collector
read -r absent_rx absent_tx < <(phase in_scope absent bash -c 'udp 1000')
sleep 2
kill -INT "$meter"
wait "$meter"
meter=

db=$work/data/Kestrova/Quantiro/qub.db
row() { sqlite3 "$db" "select coalesce(sum($2), 0) from aplikacje where Aplikacja = '$1'"; }
within() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(b > 0 && d <= b / 100 + 1) }'; }
echo "kernel, kB sent: udp $udp_tx, tcp $tcp_tx, twenty short $short_tx, without the service $absent_tx"
echo "records: $(sqlite3 -separator ' ' "$db" 'select Aplikacja, sum(Download), sum(Upload) from aplikacje group by Aplikacja' | tr '\n' ';')"
check "the datagram sender's upload within 1 % ($(row udpsender.desktop Upload) of $udp_tx kB)" \
    "within $(row udpsender.desktop Upload) $udp_tx"
check "the stream sender's upload within 1 % ($(row tcpsender.desktop Upload) of $tcp_tx kB)" \
    "within $(row tcpsender.desktop Upload) $tcp_tx"
check "and its acknowledgements as its download ($(row tcpsender.desktop Download) of $tcp_rx kB)" \
    "within $(row tcpsender.desktop Download) $tcp_rx"
check "twenty programs in scopes removed at once lose nothing ($(row shortlived.desktop Upload) of $short_tx kB)" \
    "within $(row shortlived.desktop Upload) $short_tx"
restarted=$(row restarted.desktop Upload)
# 500 datagrams before the restart (some of them counted), 2,000 after, 1,042 bytes each.
check "a restart of the service doubles nothing and loses nothing after it ($restarted kB)" \
    '[ "$restarted" -le 2570 ] && [ "$restarted" -ge 2000 ]'
check "without the service nothing is named ($(row absent.desktop Upload) kB)" '[ "$(row absent.desktop Upload)" = 0 ]'
hour_up=$(sqlite3 "$db" 'select sum(Upload) from trafic')
rows_up=$(sqlite3 "$db" 'select sum(Upload) from aplikacje')
check "an hour's rows add up to its record ($rows_up of $hour_up kB)" '[ "$rows_up" = "$hour_up" ]'
check "and the record holds all the link sent (at least $((udp_tx + tcp_tx + short_tx + absent_tx)) kB)" \
    "[ $hour_up -ge $((udp_tx + tcp_tx + short_tx + absent_tx)) ]"
[ $failures -eq 0 ] || { cat "$work/collector.log"; tail -3 "$work/meter.out"; }
exit $((failures > 0))
