#!/usr/bin/env bash
# Builds the Debian package from this build tree, unpacks it into a temporary
# directory and runs the meter from there: the layout, links that stay inside the
# package, files written only under the user's XDG directories, and the verdicts
# of desktop-file-validate, appstreamcli and lintian.
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/../check.sh"

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"; exit 1
fi
deb=$(ls "$work"/out/quantiro_*_*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root
program=$root/usr/lib/quantiro

check "/usr/bin/quantiro is a relative link to the program directory" \
    '[ "$(readlink "$root/usr/bin/quantiro")" = ../lib/quantiro/quantiro ]'
for typed in quantiro-options quantiro-reports quantiro-monitor; do
    check "/usr/bin/$typed links to the program directory, with its manual page" \
        '[ "$(readlink "$root/usr/bin/$typed")" = ../lib/quantiro/$typed ] && [ -f "$root/usr/share/man/man1/$typed.1.gz" ]'
done
check "quantiro(1) names the others" 'zcat "$root/usr/share/man/man1/quantiro.1.gz" | grep -q "quantiro\\\\-options"'
check "quantiro(1) names the variable that points the meters at another counting service" \
    'zcat "$root/usr/share/man/man1/quantiro.1.gz" | grep -q "^.B QUANTIRO_COLLECTOR"'
check "/usr/bin/quantiro-collector links to the program directory, with its page in section 8" \
    '[ "$(readlink "$root/usr/bin/quantiro-collector")" = ../lib/quantiro/quantiro-collector ] && [ -f "$root/usr/share/man/man8/quantiro-collector.8.gz" ]'
for page in $(sed -n 's/^Documentation=//p' "$root/usr/lib/systemd/system/quantiro-collector.service"); do
    name=${page#man:}
    section=${name#*(}
    check "the unit's $page ships" '[ -f "$root/usr/share/man/man${section%)}/${name%(*}.${section%)}.gz" ]'
done
check "the Grafana dashboard ships" '[ -f "$root/usr/share/doc/quantiro/grafana/quantiro.json" ]'
check "the package wants Qt's Polish translations" \
    'dpkg-deb -f "$deb" Depends | grep -q qt6-translations-l10n'
check "the parameter file ships in the program directory" '[ -f "$program/quantiro.par" ]'
check "the executable carries no search path into the build tree" \
    '! readelf -d "$program/quantiro" | grep -Eq "RPATH|RUNPATH"'
version=$("$root/usr/bin/quantiro" --version 2>&1)
check "the unpacked meter answers --version ($version)" '[[ "$version" =~ ^quantiro\ [0-9]+\.[0-9]+\.[0-9]+$ ]]'
for size in 16 22 24 32 48 64 128 256; do
    check "a ${size}px icon" '[ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/quantiro.png" ]'
done

# A short run of the unpacked meter, as a user would start it, ended by Ctrl+C.
home=$work/home
mkdir -p "$home"
HOME=$home XDG_RUNTIME_DIR=$home QUANTIRO_INTERFACE=lo env -u QT_QPA_PLATFORM \
    timeout --preserve-status -s INT 3 "$root/usr/bin/quantiro" --terminal </dev/null >"$work/run.log" 2>&1
status=$?
check "the unpacked meter runs and ends with status 0 ($status)" '[ "$status" = 0 ]'
[ "$status" = 0 ] || cat "$work/run.log"
check "nothing it started complained (the monitor has no display here)" \
    '! grep -q "platform plugin" "$work/run.log"'
check "its database is in the data directory" '[ -f "$home/.local/share/Kestrova/Quantiro/qub.db" ]'
check "the unpacked reports read it" \
    'HOME=$home "$program/zvraport.dll" --summary | grep -q "^Prognoza na koniec okresu"'
check "and the program directory is as shipped" \
    '[ "$(LC_ALL=C ls "$program" | tr "\n" " ")" = "ZVlimiter.dll ZVmal.dll ZVopcje.dll ZVpoz.dll ZVstat.dll dlmon.dll modules quantiro quantiro-collector quantiro-fetch quantiro-limits quantiro-monitor quantiro-notify quantiro-options quantiro-reports quantiro.par zvraport.dll " ]'
"$root/usr/bin/quantiro-collector" --socket "$work/none.sock" --status >"$work/status.log"
status=$?
check "the unpacked service's --status says that none runs, with status 3 ($status)" \
    '[ "$status" = 3 ] && grep -q "nie działa" "$work/status.log"'
check "the counting service's unit ships, with the scripts that enable it" \
    '[ -f "$root/usr/lib/systemd/system/quantiro-collector.service" ] && dpkg-deb -I "$deb" postinst | grep -q "deb-systemd-helper enable"'
check "the family's names are links inside it" '[ "$(readlink "$program/ZVopcje.dll")" = quantiro-options ]'

check "desktop-file-validate accepts the desktop entry" \
    'desktop-file-validate "$root/usr/share/applications/quantiro.desktop"'
check "appstreamcli accepts the metadata" \
    'appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" || { cat "$work/appstream.log"; false; }'
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
status=$?
grep -v "running with root privileges" "$work/lintian.log"
check "lintian finds no error or warning ($status)" '[ "$status" = 0 ]'
exit $((failures > 0))
