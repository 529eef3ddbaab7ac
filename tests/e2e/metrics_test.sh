#!/usr/bin/env bash
# The meters' figures in Prometheus, with the real tools: two meters, each in a
# network namespace of its own with known loopback traffic, write quantiro.prom
# into their own textfile directory; promtool accepts the files; two node_exporters
# on 127.0.0.1 serve them with the values the meters showed; a Prometheus server
# scraping both sums the household's period; every metric the Grafana dashboard
# queries is in the file. A third meter with a missing directory counts on and says
# so once. Skipped (77) without the tools, root or network namespaces.
#   metrics_test.sh BIN_DIR DASHBOARD
set -u
bin=$1
dashboard=$2
for tool in promtool prometheus prometheus-node-exporter python3; do
    if ! command -v "$tool" > /dev/null 2>&1; then
        echo "SKIP: $tool is not installed (Debian: prometheus, prometheus-node-exporter)"
        exit 77
    fi
done
if [ "$(id -u)" != 0 ] || ! unshare --net true 2>/dev/null; then
    echo "SKIP: needs root for network namespaces"
    exit 77
fi
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "$0")/../check.sh"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# One meter in a namespace of its own: $1 name, $2 metrics directory, $3 kB/s of
# loopback traffic for 4 s; it runs until its last write after the traffic has
# been made (16 s later), then ends as a user would.
run_meter() {
    local dir=$work/$1
    mkdir -p "$dir/config/Kestrova"
    printf '[General]\nMonitorShow=false\nInfoFile=true\nLimitMiesieczny=100\nKatalogMetryk=%s\n' "$2" \
        > "$dir/config/Kestrova/Quantiro.conf"
    unshare --net bash -s "$bin" "$dir" "$3" <<'INSIDE' &
bin=$1 dir=$2 rate=$3
ip link set lo up
XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir/config XDG_DATA_HOME=$dir/data \
    XDG_CACHE_HOME=$dir/cache XDG_STATE_HOME=$dir/state QUANTIRO_INTERFACE=lo \
    "$bin/quantiro" --terminal < /dev/null > "$dir/meter.out" 2> "$dir/meter.err" &
meter=$!
sleep 1
python3 - "$rate" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
end, gap = time.time() + 4, 1.4 / float(sys.argv[1])
while time.time() < end:
    s.sendto(b"x" * 1400, ("127.0.0.1", 9)); time.sleep(gap)
PY
sleep 17
kill -INT $meter
wait $meter
INSIDE
}

mkdir -p "$work/textfile-a" "$work/textfile-b"
run_meter a "$work/textfile-a" 400
meter_a=$!
run_meter b "$work/textfile-b" 200
meter_b=$!
run_meter missing "$work/no-such-directory" 100
meter_missing=$!
wait "$meter_a" "$meter_b" "$meter_missing"

for m in a b; do
    check "promtool accepts meter $m's file" "promtool check metrics < '$work/textfile-$m/quantiro.prom'"
done
# The meter's last line: its exact totals, which the last write holds.
shown() { sed -n 's/.*(kB odebrane: \([0-9]*\), wysłane: \([0-9]*\))$/\1 \2/p' "$work/$1/meter.out" | tail -1; }

# node_exporter with only its textfile collector, on loopback.
for m in a b; do
    port=$(free_port)
    prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
        --collector.textfile --collector.textfile.directory="$work/textfile-$m" > "$work/exporter-$m.log" 2>&1 &
    pids+=($!)
    echo "$port" > "$work/port-$m"
done
sleep 2
for m in a b; do
    read -r received sent <<< "$(shown "$m")"
    python3 - "$(cat "$work/port-$m")" "$received" "$sent" > "$work/scrape-$m" 2>&1 <<'PY'
import re, sys, urllib.request
port, received, sent = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
text = urllib.request.urlopen("http://127.0.0.1:%s/metrics" % port, timeout=10).read().decode()
values = {}
for line in text.splitlines():
    m = re.match(r"^(quantiro_[a-z_]+)(\{[^}]*\})? (\S+)$", line)
    if m:
        values[m.group(1)] = (m.group(2) or "", float(m.group(3)))
names = ["quantiro_receive_bytes_total", "quantiro_transmit_bytes_total", "quantiro_month_receive_bytes",
         "quantiro_period_receive_bytes", "quantiro_period_transmit_bytes", "quantiro_period_limit_bytes",
         "quantiro_period_start_timestamp_seconds", "quantiro_rejected_samples_total", "quantiro_info",
         "quantiro_last_update_timestamp_seconds"]
missing = [n for n in names if n not in values]
assert not missing, missing
assert values["quantiro_receive_bytes_total"] == ('{device="lo"}', received * 1024.0), (values["quantiro_receive_bytes_total"], received)
assert values["quantiro_transmit_bytes_total"][1] == sent * 1024.0
assert values["quantiro_month_receive_bytes"][1] == received * 1024.0   # a first run: no records before
assert values["quantiro_period_receive_bytes"][1] == received * 1024.0
assert values["quantiro_period_limit_bytes"][1] == 100 * 1024 * 1024
assert received > 1000, received
for line in text.splitlines():
    if line.startswith("quantiro_"):
        print(line)
PY
    status=$?
    check "node_exporter serves meter $m's figures as the meter showed them" '[ "$status" = 0 ]'
    [ "$status" = 0 ] || cat "$work/scrape-$m"
done

# A Prometheus server scraping both exporters every second: the household's sum.
prom_port=$(free_port)
cat > "$work/prometheus.yml" <<YML
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: quantiro
    static_configs:
      - targets: ['127.0.0.1:$(cat "$work/port-a")', '127.0.0.1:$(cat "$work/port-b")']
YML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$prom_port" > "$work/prometheus.log" 2>&1 &
pids+=($!)
expected=$(( ($(shown a | cut -d' ' -f1) + $(shown b | cut -d' ' -f1)) * 1024 ))
answer=""
for _ in $(seq 60); do
    answer=$(python3 - "$prom_port" 2>/dev/null <<'PY'
import json, sys, urllib.request, urllib.parse
query = urllib.parse.quote("sum(quantiro_period_receive_bytes) and on() count(up == 1) == 2")
reply = json.load(urllib.request.urlopen("http://127.0.0.1:%s/api/v1/query?query=%s" % (sys.argv[1], query), timeout=5))
result = reply["data"]["result"]
print(int(float(result[0]["value"][1])) if result else "")
PY
)
    [ -n "$answer" ] && break
    sleep 1
done
check "Prometheus sums the two meters' period: $answer bytes, expected $expected" '[ "$answer" = "$expected" ]'

# The dashboard: JSON, and only metrics the meter writes.
check "the Grafana dashboard parses and queries only written metrics" "python3 - '$dashboard' '$work/textfile-a/quantiro.prom' <<'PY'
import json, re, sys
board = json.load(open(sys.argv[1]))
written = set(re.findall(r'^(quantiro_[a-z_]+)', open(sys.argv[2]).read(), re.M))
used = set()
for panel in board['panels']:
    for target in panel.get('targets', []):
        used |= set(re.findall(r'quantiro_[a-z_]+', target['expr']))
assert used and used <= written, used - written
PY"

# A directory that is not there: told once, nothing written, the meter counted on.
check "a missing directory is told once ($(grep -c "metryk" "$work/missing/meter.err") times)" \
    '[ "$(grep -c "Nie można zapisać metryk" "$work/missing/meter.err")" = 1 ]'
check "and nothing was made for it" '[ ! -e "$work/no-such-directory" ]'
check "while the meter counted on ($(shown missing))" '[ "$(shown missing | cut -d" " -f1)" -gt 300 ]'
exit $((failures > 0))
