#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (with "fuzz" or
# "bench": those of the fuzzers or of the bench scripts too), and only those that
# are missing, so a second run does nothing.
set -euo pipefail

packages=(
    g++ make cmake ninja-build clang-format clang-tidy
    qt6-base-dev libsqlite3-dev libcurl4-openssl-dev libdbus-1-dev libglib2.0-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    librsvg2-bin dpkg-dev file binutils
    iproute2 ethtool  # ethtool: the tests turn a veth's segmentation offload off
    clang libbpf-dev bpftool  # the counting service's BPF programs and their skeleton
    xvfb xauth trayer openbox wmctrl xdotool x11-utils imagemagick sqlite3
    lintian desktop-file-utils appstream
    dbus-daemon dbus-bin python3
    locales qt6-translations-l10n
)
# The metrics test's real node_exporter and Prometheus: without them that test is
# skipped, so a failure to install them stops nothing.
optional=(prometheus prometheus-node-exporter)

# The network tests' own NetworkManager, run in namespaces the tests make; the
# host's network must never be handed to it (see below).
network_services=(network-manager dnsmasq-base)

# The locales the tests read amounts under; generated once, like the packages.
locales=(pl_PL.UTF-8 de_DE.UTF-8 en_US.UTF-8)

# The fuzz targets need clang with libFuzzer, and the bench scripts their peers
# and tools; nothing else does.
case "${1:-}" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    bench) packages+=(python3 time vnstat nload conky-std faketime bsdutils iperf3 nethogs bpftool linux-perf) ;;
esac

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
missing_optional=()
for package in "${optional[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing_optional+=("$package")
done
missing_services=()
for package in "${network_services[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing_services+=("$package")
done
missing_locales=()
for name in "${locales[@]}"; do
    # locale -a spells them pl_PL.utf8
    locale -a 2>/dev/null | grep -qix "${name%.UTF-8}.utf8" || missing_locales+=("$name")
done
[[ ${#missing[@]} -eq 0 && ${#missing_locales[@]} -eq 0 && ${#missing_optional[@]} -eq 0 &&
    ${#missing_services[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    run_as_root=()
elif command -v sudo >/dev/null 2>&1; then
    run_as_root=(sudo)
else
    echo "These packages are missing and neither root nor sudo is available to install them:" >&2
    echo "  ${missing[*]}" >&2
    echo "Install them with: apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing missing packages: ${missing[*]}"
    "${run_as_root[@]}" apt-get update
    "${run_as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
if [[ ${#missing_optional[@]} -gt 0 ]]; then
    echo "Installing optional packages: ${missing_optional[*]}"
    [[ ${#missing[@]} -gt 0 ]] || "${run_as_root[@]}" apt-get update || true
    # Their services are not wanted on a build machine: the tests start their own.
    "${run_as_root[@]}" env RUNLEVEL=1 apt-get install -y --no-install-recommends "${missing_optional[@]}" ||
        echo "Could not install ${missing_optional[*]}: the metrics test will be skipped."
fi
if [[ ${#missing_services[@]} -gt 0 ]]; then
    echo "Installing for the network tests: ${missing_services[*]}"
    [[ ${#missing[@]} -gt 0 ]] || "${run_as_root[@]}" apt-get update || true
    # A NetworkManager installed only for the tests must not start, now or at the
    # next boot, and take over the host's links: a policy-rc.d refuses every start
    # during the install (one already there is left as it is), and the service is
    # disabled after it. A NetworkManager the host had before is never touched.
    had_network_manager=$(dpkg-query -W -f='${Status}' network-manager 2>/dev/null || true)
    policy=
    if [[ ! -e /usr/sbin/policy-rc.d ]]; then
        policy=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\nexit 101\n' | "${run_as_root[@]}" tee "$policy" > /dev/null
        "${run_as_root[@]}" chmod 755 "$policy"
    fi
    "${run_as_root[@]}" env RUNLEVEL=1 apt-get install -y --no-install-recommends "${missing_services[@]}" ||
        echo "Could not install ${missing_services[*]}: the network tests will be skipped."
    [[ -z "$policy" ]] || "${run_as_root[@]}" rm -f "$policy"
    if [[ "$had_network_manager" != "install ok installed" ]] && command -v systemctl > /dev/null; then
        "${run_as_root[@]}" systemctl disable NetworkManager.service NetworkManager-wait-online.service \
            NetworkManager-dispatcher.service > /dev/null 2>&1 || true
    fi
fi
if [[ ${#missing_locales[@]} -gt 0 ]]; then
    echo "Generating locales: ${missing_locales[*]}"
    for name in "${missing_locales[@]}"; do
        "${run_as_root[@]}" sed -i "s/^# *\(${name} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${name} UTF-8" /etc/locale.gen ||
            echo "${name} UTF-8" | "${run_as_root[@]}" tee -a /etc/locale.gen > /dev/null
    done
    "${run_as_root[@]}" locale-gen
fi
