#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (with "fuzz" or
# "bench": those of the fuzzers or of the bench scripts too), and only those that
# are missing, so a second run does nothing.
set -euo pipefail

packages=(
    g++ make cmake ninja-build
    qt6-base-dev libsqlite3-dev libcurl4-openssl-dev libdbus-1-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    librsvg2-bin dpkg-dev file binutils
    iproute2
    xvfb xauth trayer openbox wmctrl xdotool x11-utils imagemagick sqlite3
    lintian desktop-file-utils appstream
    dbus-daemon python3
)

# The fuzz targets need clang with libFuzzer, and the bench scripts their peers
# and tools; nothing else does.
case "${1:-}" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    bench) packages+=(python3 time vnstat nload conky-std faketime bsdutils) ;;
esac

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
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
"${run_as_root[@]}" apt-get update
"${run_as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
