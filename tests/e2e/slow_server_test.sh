#!/usr/bin/env bash
# The notice check against a server that answers only after 8 s, while loopback
# carries steady traffic, in a network namespace of the test's own: the meter's
# ticks go on meanwhile, so its hour record equals the kernel's count within
# 0.5 %. Skipped (77) without root or network namespaces.
#   slow_server_test.sh BIN_DIR
set -u
bin=$1
if [ "$(id -u)" != 0 ] || ! unshare --net true 2>/dev/null; then
    echo "SKIP: needs root for a network namespace"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/Kestrova"
printf '[General]\nMonitorShow=false\nInfoFile=true\n' > "$work/config/Kestrova/Quantiro.conf"

unshare --net bash -s "$bin" "$work" "$(dirname "$0")" <<'INSIDE'
bin=$1 work=$2 here=$3
ip link set lo up
# Answers every request after 8 s: the notice list, then the page it names.
python3 - <<'PY' &
import http.server, time
class Slow(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        time.sleep(8)
        body = b"http://127.0.0.1:8080/strona.html,1,2099-01-01\n" if "messages" in self.path else b"<p>x</p>"
        self.send_response(200); self.send_header("Content-Length", str(len(body))); self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args): pass
http.server.ThreadingHTTPServer(("127.0.0.1", 8080), Slow).serve_forever()
PY
server=$!
sleep 1
# /proc/net/dev is the namespace's own; /sys still shows the outer one.
received() { awk '$1 == "lo:" {print $2}' /proc/net/dev; }
before=$(received)
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/config XDG_DATA_HOME=$work/data \
    XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state QUANTIRO_INTERFACE=lo \
    QUANTIRO_UPDATE_SERVER=http://127.0.0.1:8080 \
    "$bin/quantiro" --terminal < /dev/null > "$work/meter.out" 2>&1 &
meter=$!
sleep 1
# About 50 kB/s, far above the 1 kB a tick that counts, for the minute before the
# check, the check's 16 s and a little after.
python3 "$here/loopback_datagrams.py" 82 0.028
sleep 1
after=$(received)
kill -INT $meter
wait $meter
kill $server
echo "$(( (after - before) / 1024 ))" > "$work/kernel"
INSIDE

kernel=$(cat "$work/kernel" 2>/dev/null || echo 0)
recorded=$(sqlite3 "$work/data/Kestrova/Quantiro/qub.db" 'select total(Download) from trafic' | cut -d. -f1)
echo "kernel: $kernel kB, records: $recorded kB"
if grep -q "Informacja dla użytkowników: http://127.0.0.1:8080/strona.html" "$work/meter.out" &&
    python3 -c "import sys; k, r = $kernel, ${recorded:-0}; sys.exit(0 if k > 3000 and abs(r - k) <= k * 0.005 else 1)"; then
    echo "ok - the notice came after 16 s and every tick counted meanwhile"
    exit 0
fi
echo "not ok - the record is off by more than 0.5 % or the notice never came"
tail -5 "$work/meter.out"
exit 1
