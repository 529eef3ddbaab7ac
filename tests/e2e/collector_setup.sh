# Shared by the tests that run the counting service; sourced. Sets $cgroup to the
# cgroup v2 mount, or skips the test (77) without root, network namespaces or
# cgroup v2; remove_subtree takes a test's cgroup subtree away again; start_meter
# starts the terminal meter against the test's service.
cgroup=$(awk '$9 == "cgroup2" { print $5; exit }' /proc/self/mountinfo)
if [ "$(id -u)" != 0 ] || ! unshare --net true 2>/dev/null || [ -z "$cgroup" ]; then
    echo "SKIP: needs root, network namespaces and cgroup v2"
    exit 77
fi

# remove_subtree DIR: the scopes of DIR/app.slice, the slice, then DIR, once their
# processes have ended.
remove_subtree() {
    for scope in "$1"/app.slice/*.scope; do [ -d "$scope" ] && rmdir "$scope"; done
    rmdir "$1/app.slice" "$1" 2>/dev/null
}

# start_meter NS: the terminal meter in namespace NS measuring va and asking the
# service at $work/collector.sock, its files under $work; its pid goes to $meter.
start_meter() {
    ip netns exec "$1" env QUANTIRO_COLLECTOR="$work/collector.sock" QUANTIRO_INTERFACE=va \
        XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/config" XDG_DATA_HOME="$work/data" \
        XDG_CACHE_HOME="$work/cache" XDG_STATE_HOME="$work/state" \
        "$bin/quantiro" --terminal < /dev/null > "$work/meter.out" 2>&1 &
    meter=$!
}
