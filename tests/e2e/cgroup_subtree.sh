# Shared by the tests that run the counting service; sourced. Sets $cgroup to the
# cgroup v2 mount, or skips the test (77) without root, network namespaces or
# cgroup v2; remove_subtree takes a test's cgroup subtree away again.
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
