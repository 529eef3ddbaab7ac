#!/usr/bin/env bash
# quantiro-options on networks and their plans, against a real database and
# settings file: refusals in Polish that write nothing, the list with a metered
# network left without a plan, plans set and removed, a merge moving the records
# in one go, and a forgotten network hidden until it is seen again.
set -u
options=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/../check.sh"
export HOME=$work XDG_RUNTIME_DIR=$work LC_ALL=pl_PL.UTF-8
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME
conf=$work/.config/Kestrova/Quantiro.conf
db=$work/.local/share/Kestrova/Quantiro/qub.db
mkdir -p "$work/.config/Kestrova" "$(dirname "$db")"
printf '[General]\nLimitMiesieczny=100\n' > "$conf"
sqlite3 "$db" "CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, Download INTEGER, Upload INTEGER);
    CREATE TABLE sieci (Id TEXT, Nazwa TEXT, Rodzaj TEXT, Taryfowana INTEGER, Pierwsza TEXT, Ostatnia TEXT, InnyId TEXT);
    INSERT INTO sieci VALUES ('nm:dom', 'Dom', 'wifi', 0, '2026-11-02', '2026-12-06', ''),
        ('nm:telefon', 'Telefon', 'wifi', 1, '2026-11-20', '2026-12-06', 'wifi:Telefon'),
        ('gw:52:54:00:12:34:56', 'Dom (brama)', 'ethernet', 0, '2026-10-01', '2026-11-01', '');
    CREATE TABLE ruch_sieci (Data TEXT, Godzina INTEGER, Siec TEXT, Download INTEGER, Upload INTEGER,
        DownloadLokalny INTEGER, UploadLokalny INTEGER);
    INSERT INTO ruch_sieci VALUES ('2026-10-05', 8, 'gw:52:54:00:12:34:56', 700, 7, 0, 0),
        ('2026-12-05', 8, 'nm:dom', 900, 9, 0, 0);
    CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, Download INTEGER, Upload INTEGER,
        DownloadLokalny INTEGER, UploadLokalny INTEGER, Siec TEXT);
    INSERT INTO aplikacje VALUES ('2026-10-05', 8, 'curl', 700, 7, 0, 0, 'gw:52:54:00:12:34:56');"

# arguments, then the start of the reason
while IFS='|' read -r arguments reason; do
    before=$(cat "$conf")
    # shellcheck disable=SC2086
    "$options" $arguments >/dev/null 2>"$work/err"
    status=$?
    check "'$arguments' refused: $(head -1 "$work/err")" \
        '[ "$status" = 2 ] && grep -qF "$reason" "$work/err" && [ "$(cat "$conf")" = "$before" ]'
done <<'CASES'
--network Telefon --plan -5GB|limit nie może być ujemny
--network Telefon --plan 0|co najmniej 1 MB
--network Telefon --plan 5TB|oczekiwano limitu
--network Telefon --plan 3000000GB|najwyżej 2 147 483 647 MB
--network Telefon --plan 5GB --from-day 32|od 1 do 31
--network Telefon --package 10GB --start 2026-02-30 --days 30|RRRR-MM-DD, która istnieje
--network Telefon --package 10GB --days 30|podaj też --start
--network Telefon --package 10GB --start 2026-12-01 --days 0|od 1 do 3660
--network Telefon --plan 5GB --unlimited|niepoprawne wywołanie
--network Biuro --plan 5GB|nieznana sieć: Biuro
--merge Dom Dom|dwie różne sieci
CASES

"$options" --networks > "$work/list"
check "a metered network without a plan of its own says so" \
    'grep -q "^nm:telefon	Telefon	Wi-Fi	taryfowana	taryfowana, bez planu$" "$work/list"'
check "one that is not metered is on the shared plan" 'grep -q "	nietaryfowana	plan wspólny$" "$work/list"'

"$options" --network wifi:Telefon --plan 5GB --from-day 12 --direction 0 &&
    "$options" --network Dom --package 10,5GB --start 2026-12-20 --days 30
check "plans are written in a group of their own, by id" \
    'grep -A5 "^\[Siec-nm_3Atelefon\]" "$conf" | grep -q "^Limit=5120$" &&
     grep -A6 "^\[Siec-nm_3Adom\]" "$conf" | grep -q "^Poczatek=2026-12-20$" && grep -q "^WasChanged=true" "$conf"'
"$options" --networks > "$work/list"
check "and listed: $(cut -f5 "$work/list" | tr '\n' ';')" \
    'grep -q "	5,00 GB miesięcznie od 12. dnia$" "$work/list" && grep -q "	pakiet 10,50 GB na 30 dni od 2026-12-20$" "$work/list"'
"$options" --network Dom --no-plan
check "a plan removed leaves the network on the shared plan" '! grep -q "Siec-nm_3Adom" "$conf"'

"$options" --merge Dom "Dom (brama)"
check "a merge moves the hours and applications and leaves one row" \
    '[ "$(sqlite3 "$db" "SELECT group_concat(Siec) FROM ruch_sieci; SELECT Siec FROM aplikacje;
          SELECT Id, InnyId, Pierwsza, Ostatnia FROM sieci WHERE Id LIKE '"'"'%dom%'"'"' OR Id LIKE '"'"'gw:%'"'"'")" = \
      "nm:dom,nm:dom
nm:dom
nm:dom|gw:52:54:00:12:34:56|2026-10-01|2026-12-06" ]'

"$options" --forget Telefon
"$options" --networks > "$work/list"
check "a forgotten network loses its plan and is not listed, its records stay" \
    '! grep -q telefon "$work/list" && ! grep -A3 "Siec-nm_3Atelefon\]" "$conf" | grep -q "^Limit=" &&
     [ "$(sqlite3 "$db" "SELECT COUNT(*) FROM sieci WHERE Id = '"'"'nm:telefon'"'"'")" = 1 ]'
sqlite3 "$db" "UPDATE sieci SET Ostatnia = '2026-12-07' WHERE Id = 'nm:telefon'"
check "until it is seen again" '"$options" --networks | grep -q "^nm:telefon"'
exit $((failures > 0))
