#!/usr/bin/env bash
# Plans of networks through the watcher as the meter starts it, on a real database
# and settings file: the hotspot's plan warns at 80 % of the hotspot's traffic only
# and names what used it there, the shared plan leaves that traffic out, and a
# package that ended warns no more while its network counts against the shared plan.
set -u
bin=$1
recorder=$2
work=$(mktemp -d)
source "$(dirname "$0")/../check.sh"
export HOME=$work XDG_RUNTIME_DIR=$work LC_ALL=pl_PL.UTF-8
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME
conf=$work/.config/Kestrova/Quantiro.conf
mkdir -p "$work/.config/Kestrova" "$work/.local/share/Kestrova/Quantiro"
source "$(dirname "$0")/../notices.sh"
start_bus "$work"
trap 'kill $bus_pid $service 2>/dev/null; rm -rf "$work"' EXIT
start_recorder "$recorder" "$work/notices"
watch() { "$bin/ZVlimiter.dll" "/$1" "/0" "/${2:-no}"; }
today=$(date +%Y-%m-%d)
hour=$(date +%-H)
# The open hour as the meter writes it: home and the phone's hotspot.
open_hour() {
    printf 'quantiro-networks 1\nhour %s %02d\nnm:dom\t%s\t0\t0\t0\nnm:telefon\t%s\t0\t0\t0\n' \
        "$today" "$hour" "$1" "$2" > "$work/quantiro-networks.now.tmp"
    mv "$work/quantiro-networks.now.tmp" "$work/quantiro-networks.now"
}
# The shared plan of 100 MB, and the hotspot's own 5 MB a month from today.
cat > "$conf" <<CONF
[General]
OstrzezeniaEnabled=true
LimitMiesieczny=100
DzienRozliczeniowy=$(date +%-d)

[Siec-nm_3Atelefon]
RodzajPlanu=0
Limit=5
DzienRozliczeniowy=$(date +%-d)
CONF
sqlite3 "$work/.local/share/Kestrova/Quantiro/qub.db" \
    "CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, Download INTEGER, Upload INTEGER);
     INSERT INTO trafic VALUES ('$today', $hour, 1, 53000, 0);
     CREATE TABLE sieci (Id TEXT, Nazwa TEXT, Rodzaj TEXT, Taryfowana INTEGER, Pierwsza TEXT, Ostatnia TEXT, InnyId TEXT);
     INSERT INTO sieci VALUES ('nm:dom', 'Dom', 'wifi', 0, '$today', '$today', ''),
         ('nm:telefon', 'Telefon', 'wifi', 1, '$today', '$today', '');
     CREATE TABLE ruch_sieci (Data TEXT, Godzina INTEGER, Siec TEXT, Download INTEGER, Upload INTEGER,
         DownloadLokalny INTEGER, UploadLokalny INTEGER);
     INSERT INTO ruch_sieci VALUES ('$today', $hour, 'nm:dom', 50000, 0, 0, 0),
         ('$today', $hour, 'nm:telefon', 3000, 0, 0, 0);
     CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, Download INTEGER, Upload INTEGER,
         DownloadLokalny INTEGER, UploadLokalny INTEGER, Siec TEXT);
     INSERT INTO aplikacje VALUES ('$today', $hour, 'firefox', 50000, 0, 0, 0, 'nm:dom'),
         ('$today', $hour, 'signal', 2000, 0, 0, 0, 'nm:telefon'),
         ('$today', $hour, 'ssh', 1000, 0, 0, 0, 'nm:telefon');"

open_hour 60000 3500
watch 0 yes   # the hotspot 3500 of 5120 kB: 68 %; the rest 49,500 of 102,400 kB
open_hour 60000 4200
watch 0       # the hotspot 82 %
open_hour 100000 4200
watch 0       # home's traffic is no hotspot's
check "one warning at 80 % of the hotspot's plan ($(cut -d'|' -f1 "$work/notices" | tr '\n' ,))" \
    '[ "$(wc -l < "$work/notices")" = 1 ] && grep -q "Wykorzystano 80 % limitu sieci Telefon|" "$work/notices"'
check "naming the hotspot's use of its plan to its period's last day, and what used it there" \
    'grep -q "|Telefon: 4,10 z 5,00 MB do [0-9]* [a-zśź]*\. Najwięcej zużyły: signal, ssh\.$" "$work/notices"'

watch 50000   # the shared plan: 53,000 + 50,000 - 4,200 kB of 102,400: 96 %
check "the shared plan leaves the hotspot's traffic out: 90 %, not 100 %" \
    'tail -1 "$work/notices" | grep -q "Wykorzystano 90 % limitu transferu|"'

# A 30-day package that ended yesterday: no plan any more, the hotspot's traffic is the shared plan's.
started=$(date -d "-30 days" +%Y-%m-%d)
sed -i "/^\[Siec-nm_3Atelefon\]/,\$d" "$conf"
printf '[Siec-nm_3Atelefon]\nRodzajPlanu=1\nLimit=5\nPoczatek=%s\nDni=30\n' "$started" >> "$conf"
open_hour 100000 5000
watch 50000
check "an ended package warns no more, and its network counts against the shared plan" \
    '[ "$(wc -l < "$work/notices")" = 3 ] && tail -1 "$work/notices" | grep -q "Limit transferu został wykorzystany|"'
exit $((failures > 0))
