#!/usr/bin/env bash
# The reports program as scripts and the meter start it: the exports read back with
# Python's own CSV and JSON readers and checked against SQL sums of the same file,
# refused arguments, a foreign database, and the month's summary at the meter's
# start, once, on a session bus of the test's own with a recording service.
set -u
bin=$1
recorder=$2
work=$(mktemp -d)
source "$(dirname "$0")/../check.sh"
export HOME=$work XDG_RUNTIME_DIR=$work
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME
data=$work/.local/share/Kestrova/Quantiro
mkdir -p "$data" "$work/.config/Kestrova"
printf '[General]\nLimitMiesieczny=1\nLimitKierunek=0\n' > "$work/.config/Kestrova/Quantiro.conf"

# Forty days up to today, two hours each, one hour recorded twice and two records
# that are no hour at all.
sqlite3 "$data/qub.db" <<'SQL'
PRAGMA journal_mode=WAL;
CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, Download INTEGER, Upload INTEGER);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 79)
INSERT INTO trafic SELECT date('now', 'localtime', '-' || (i / 2) || ' days'), (i % 2) * 12,
                          60000, 100 + i, i FROM n;
INSERT INTO trafic VALUES (date('now', 'localtime'), 0, 60000, 5, 5), ('garbage', 1, 1, 1, 1),
                          (date('now', 'localtime'), 30, 1, 1, 1);
SQL
sums() { # what the exports must give, in bytes, by the given key
    sqlite3 -csv "$data/qub.db" "SELECT $1, SUM(Download) * 1024, SUM(Upload) * 1024 FROM trafic
        WHERE Data GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND Godzina BETWEEN 0 AND 23
        GROUP BY 1 ORDER BY 1"
}
sums Data > "$work/days.sql"
sums "substr(Data, 1, 7)" > "$work/months.sql"
first=$(head -1 "$work/days.sql" | cut -d, -f1)

"$bin/quantiro-reports" --csv --by day 2>"$work/err" > "$work/days.csv"
check "CSV by day: the SQL sums, CRLF lines and no day missing" "python3 - '$work' '$first' <<'PY'
import csv, datetime, sys
work, first = sys.argv[1], datetime.date.fromisoformat(sys.argv[2])
raw = open(work + '/days.csv', newline='').read()
assert raw.count('\r\n') == raw.count('\n') > 1
rows = list(csv.reader(raw.splitlines()))
assert rows[0] == ['okres', 'odebrano_B', 'wyslano_B', 'czas_online_ms'], rows[0]
expected = [r.split(',') for r in open(work + '/days.sql').read().split()]
assert [r[:3] for r in rows[1:] if r[1]] == expected, (rows[1:4], expected[:3])
days = [datetime.date.fromisoformat(r[0]) for r in rows[1:]]
assert days == [first + datetime.timedelta(d) for d in range(len(days))]
PY"
check "garbage reported once on standard error" \
    '[ "$(cat "$work/err")" = "quantiro-reports: pominięto 2 rekordy z niepoprawną datą, godziną lub wartością" ]'

"$bin/quantiro-reports" --json 2>/dev/null > "$work/all.json"
check "JSON: vnStat version 2's shape, and the SQL sums by day and month" "python3 - '$work' <<'PY'
import json, sys
work = sys.argv[1]
doc = json.load(open(work + '/all.json'))
assert doc['jsonversion'] == '2'
interface = doc['interfaces'][0]
traffic = interface['traffic']
assert isinstance(interface['name'], str) and set(interface['updated']) == {'date', 'time'}
for key, fields in (('hour', {'year', 'month', 'day'}), ('day', {'year', 'month', 'day'}),
                    ('month', {'year', 'month'}), ('year', {'year'})):
    for entry in traffic[key]:
        assert set(entry['date']) == fields and isinstance(entry['rx'], int), entry
        assert isinstance(entry['tx'], int) and isinstance(entry['timestamp'], int)
    assert all('time' in e and e['time']['minute'] == 0 for e in traffic['hour'])
def key(entry, length):
    d = entry['date']
    return '-'.join('%02d' % d[k] if k != 'year' else str(d[k]) for k in ('year', 'month', 'day')[:length])
days = [[key(e, 3), str(e['rx']), str(e['tx'])] for e in traffic['day']]
months = [[key(e, 2), str(e['rx']), str(e['tx'])] for e in traffic['month']]
assert days == [r.split(',') for r in open(work + '/days.sql').read().split()]
assert months == [r.split(',') for r in open(work + '/months.sql').read().split()]
assert len(traffic['hour']) == 80
assert traffic['total']['rx'] == sum(e['rx'] for e in traffic['year']) == sum(e['rx'] for e in traffic['hour'])
PY"
"$bin/quantiro-reports" --json --by month --from "$first" --to "$first" > "$work/one.json" 2>/dev/null
check "JSON --by month keeps to its list and range" "python3 -c '
import json; t = json.load(open(\"$work/one.json\"))[\"interfaces\"][0][\"traffic\"]
assert sorted(t) == [\"month\", \"total\"] and len(t[\"month\"]) == 1' "
check "the summary names the estimate" '"$bin/quantiro-reports" --summary | grep -q "^Prognoza na koniec okresu"'
LC_ALL=pl_PL.UTF-8 "$bin/quantiro-reports" --summary > "$work/summary.pl"
check "under pl_PL the summary's amounts carry a comma, whole, and no local network without its rows" \
    'grep -qE "[0-9],[0-9]{2} (kB|MB|GB)" "$work/summary.pl" && ! grep -qE " ,|,[0-9]{2},|\.|lokalna" "$work/summary.pl"'

for arguments in "--csv --json" "--by week --csv" "--csv --from 2026-02-30" \
                 "--csv --from 2026-05-02 --to 2026-05-01" "--summary --by day" "--bogus" "dni lata" \
                 "--apps 2026-13" "--apps 2026-02-30" "--apps --csv" "--apps 2026-05 --by day" \
                 "--networks 2026-13" "--networks --csv" "--networks --network Dom" "--csv --network"; do
    # shellcheck disable=SC2086
    "$bin/quantiro-reports" $arguments >"$work/out" 2>"$work/err"
    status=$?
    check "'$arguments' is refused with status 2 ($status) and a reason" \
        '[ "$status" = 2 ] && [ ! -s "$work/out" ] && grep -q "^quantiro-reports: " "$work/err"'
done
# The window's views by their words: a word that names none is refused with the
# list of them; each of them, and the meter's "1", is taken, and without a display
# the hint names every output the terminal has; the help names them all.
"$bin/quantiro-reports" widok >"$work/out" 2>"$work/err"
status=$?
views=$(sed -n 's/^quantiro-reports: nieznany widok „widok”; widoki: //p' "$work/err")
check "an unknown view is refused with status 2 ($status) and the views: $views" \
    '[ "$status" = 2 ] && [ "$views" = "godziny, dni, miesiace, lata, aplikacje, sieci" ]'
check "the help names every view" \
    '[ "$("$bin/quantiro-reports" --help | sed -n "s/^  \([a-z]*|[a-z|]*\)$/\1/p")" = "${views//, /|}" ]'
for word in ${views//,/} 1; do
    "$bin/quantiro-reports" "$word" >"$work/out" 2>"$work/err"
    status=$?
    check "'$word' is a view: no display, status 1 ($status), and the terminal's outputs named" \
        '[ "$status" = 1 ] && grep -q -- "--summary, --csv, --json albo --apps" "$work/err"'
done
# The applications: twelve programs today, one named by a desktop entry with a
# Polish name, what nobody was seen to move, and one more program on another day.
mkdir -p "$data/../../applications"
printf '[Desktop Entry]\nType=Application\nName=Browser\nName[pl]=Przeglądarka\nIcon=web-browser\nExec=true\n' \
    > "$data/../../applications/przegladarka.desktop"
sqlite3 "$data/qub.db" <<'SQL'
CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, Download INTEGER, Upload INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 11)
INSERT INTO aplikacje SELECT date('now', 'localtime'), 12, 'program' || i, i * 1000, i FROM n;
INSERT INTO aplikacje VALUES (date('now', 'localtime'), 12, 'przegladarka.desktop', 20000, 2000),
    (date('now', 'localtime'), 0, 'nieprzypisane', 300, 30),
    (CASE strftime('%d', 'now', 'localtime') WHEN '01' THEN date('now', 'localtime', '+1 day')
          ELSE date('now', 'localtime', 'start of month') END, 1, 'curl', 7, 1),
    (date('now', 'localtime', 'start of month', '-1 day'), 1, 'curl', 9, 9);
SQL
LC_ALL=pl_PL.UTF-8 "$bin/quantiro-reports" --apps > "$work/apps.txt"
check "--apps: the ten largest, the rest and nieprzypisane, in Polish" \
    '[ "$(sed -n "3p;12,15p" "$work/apps.txt" | awk "{print \$1, \$2}")" = "$(printf "Przeglądarka 19,53\nprogram3 2,93\npozostałe (2)\nnieprzypisane 300,00\nRazem 84,28")" ]'
"$bin/quantiro-reports" --apps "$(date +%F)" --json > "$work/apps.json"
check "--apps --json: every application in kB, nieprzypisane last, nothing local in a table without its columns" "python3 - '$work' <<'PY'
import json, sys
text = open(sys.argv[1] + '/apps.json').read()
doc = json.loads(text)
assert text.startswith('{\"applications\": [{\"id\": \"przegladarka.desktop\", \"name\": \"Przeglądarka\", \"rx\": 20000, \"tx\": 2000, \"rx_local\": 0, \"tx_local\": 0}, {\"id\": \"program11\", '), text
ids = [a['id'] for a in doc['applications']]
assert ids == ['przegladarka.desktop'] + ['program%d' % i for i in range(11, 0, -1)] + ['nieprzypisane'], ids
assert doc['applications'][-1] == {'id': 'nieprzypisane', 'name': 'nieprzypisane', 'rx': 300, 'tx': 30, 'rx_local': 0, 'tx_local': 0}
PY"
month=$(date +%Y-%m)
"$bin/quantiro-reports" --apps "$month" --json > "$work/month.json"
check "--apps $month sums the month, and the day before it is left out" "python3 -c '
import json; a = json.load(open(\"$work/month.json\"))[\"applications\"]
assert len(a) == 14 and {\"id\": \"curl\", \"name\": \"curl\", \"rx\": 7, \"tx\": 1, \"rx_local\": 0, \"tx_local\": 0} in a, a' "
"$bin/quantiro-reports" --apps 2001-01 > "$work/none.txt" 2>&1
check "a month without application rows says why, once" \
    '[ "$(grep -c "Dane o aplikacjach wymagają usługi quantiro-collector." "$work/none.txt")" = 1 ]'

# The local network's columns as the meter adds them, and today a file manager
# copying 3 GB down and 1 GB up from a NAS, with a little billed traffic beside.
printf '[Desktop Entry]\nType=Application\nName=Files\nName[pl]=Pliki\nExec=true\n' \
    > "$data/../../applications/org.gnome.Nautilus.desktop"
sqlite3 "$data/qub.db" <<'SQL'
ALTER TABLE aplikacje ADD COLUMN DownloadLokalny INTEGER DEFAULT 0;
ALTER TABLE aplikacje ADD COLUMN UploadLokalny INTEGER DEFAULT 0;
INSERT INTO aplikacje VALUES
    (date('now', 'localtime'), 13, 'org.gnome.Nautilus.desktop', 40, 4, 2097152, 524288),
    (date('now', 'localtime'), 14, 'org.gnome.Nautilus.desktop', 10, 1, 1048576, 524288);
SQL
for internet_only in false true; do
    printf '[General]\nLimitMiesieczny=1\nLimitKierunek=0\nTylkoInternet=%s\n' "$internet_only" \
        > "$work/.config/Kestrova/Quantiro.conf"
    wording=$([ "$internet_only" = true ] && echo "sieć lokalna, nie wliczona" || echo "w tym sieć lokalna")
    LC_ALL=pl_PL.UTF-8 "$bin/quantiro-reports" --summary > "$work/local.txt"
    check "TylkoInternet=$internet_only: '$wording: 4,00 GB' under today, the month and the period" \
        '[ "$(grep -A1 -E "^(Dziś|Ten miesiąc|Okres)" "$work/local.txt" | grep -c "^  $wording: 4,00 GB$")" = 3 ]'
    LC_ALL=pl_PL.UTF-8 "$bin/quantiro-reports" --apps > "$work/local.txt"
    check "TylkoInternet=$internet_only: --apps has the local column and the note" \
        'grep -qE "Udział +Sieć lokalna$" "$work/local.txt" && grep -qE "^Razem .* 4,00 GB$" "$work/local.txt" &&
         [ "$(tail -1 "$work/local.txt")" = "$wording: 4,00 GB" ]'
done
# Its billed 55 kB alone would fold it into the rest.
check "TylkoInternet=true: the file manager is named first, by what it moved" \
    '[ "$(sed -n 3p "$work/local.txt" | tr -s " ")" = "Pliki 50,00 kB 5,00 kB 0,1 % 4,00 GB" ]'
"$bin/quantiro-reports" --apps --json > "$work/local.json"
check "--apps --json: rx_local and tx_local in kB beside rx and tx" "python3 -c '
import json; a = json.load(open(\"$work/local.json\"))[\"applications\"]
n = [e for e in a if e[\"id\"] == \"org.gnome.Nautilus.desktop\"]
assert n and {k: v for k, v in n[0].items() if k != \"name\"} == {\"id\": \"org.gnome.Nautilus.desktop\",
    \"rx\": 50, \"tx\": 5, \"rx_local\": 3145728, \"tx_local\": 1048576}, n
assert all(e[\"rx_local\"] == e[\"tx_local\"] == 0 for e in a if e not in n)' "

# Two networks today, one of them with a name that needs escaping in JSON, beside
# the hours recorded before networks were.
sqlite3 "$data/qub.db" <<'SQL'
CREATE TABLE sieci (Id TEXT, Nazwa TEXT, Rodzaj TEXT, Taryfowana INTEGER, Pierwsza TEXT,
                    Ostatnia TEXT, InnyId TEXT);
CREATE TABLE ruch_sieci (Data TEXT, Godzina INTEGER, Siec TEXT, Download INTEGER, Upload INTEGER,
                         DownloadLokalny INTEGER, UploadLokalny INTEGER);
ALTER TABLE aplikacje ADD COLUMN Siec TEXT;
INSERT INTO sieci VALUES ('nm:1', 'Dom', 'wifi', 0, date('now', 'localtime'), date('now', 'localtime'), 'wifi:Dom'),
    ('nm:2', 'Telefon "Ola"', 'wifi', 1, date('now', 'localtime'), date('now', 'localtime'), NULL),
    ('nm:3', 'Biuro', 'ethernet', 0, '2001-01-01', '2001-01-01', NULL);
INSERT INTO ruch_sieci VALUES (date('now', 'localtime'), 12, 'nm:1', 90, 40, 7, 3),
    (date('now', 'localtime'), 12, 'nm:2', 30, 20, 0, 0);
UPDATE aplikacje SET Siec = 'nm:2' WHERE Aplikacja = 'program3';
SQL
month_sum=$(sqlite3 "$data/qub.db" "SELECT SUM(Download) || ' ' || SUM(Upload) FROM trafic WHERE
    substr(Data, 1, 7) = strftime('%Y-%m', 'now', 'localtime') AND Godzina BETWEEN 0 AND 23")
LC_ALL=pl_PL.UTF-8 "$bin/quantiro-reports" --networks --json > "$work/networks.json"
check "--networks --json under pl_PL: each network's rows in kB, largest first, and the hours before networks as 'nieznana sieć'" "python3 - '$work' $month_sum <<'PY'
import json, sys
rows = json.load(open(sys.argv[1] + '/networks.json'))['networks']
down, up = int(sys.argv[2]), int(sys.argv[3])
assert rows[:2] == [
    {'id': 'nm:1', 'name': 'Dom', 'kind': 'wifi', 'metered': False, 'rx': 90, 'tx': 40, 'rx_local': 7, 'tx_local': 3},
    {'id': 'nm:2', 'name': 'Telefon \"Ola\"', 'kind': 'wifi', 'metered': True, 'rx': 30, 'tx': 20, 'rx_local': 0, 'tx_local': 0}], rows
assert rows[2:] == [{'id': '', 'name': 'nieznana sieć', 'kind': '', 'metered': False,
                     'rx': down - 120, 'tx': up - 60, 'rx_local': 0, 'tx_local': 0}], rows[2:]
PY"
LC_ALL=pl_PL.UTF-8 "$bin/quantiro-reports" --networks > "$work/networks.txt"
check "--networks: the table in Polish, the metered one said so" \
    'grep -qE "^Telefon \"Ola\" +Wi-Fi, taryfowana +30,00 kB +20,00 kB" "$work/networks.txt" &&
     grep -q "^nieznana sieć" "$work/networks.txt"'
"$bin/quantiro-reports" --json --by day --network 'Telefon "Ola"' > "$work/phone.json"
"$bin/quantiro-reports" --apps --json --network nm:2 > "$work/phone-apps.json"
check "--network narrows the traffic and the applications to that network's rows" "python3 -c '
import json; t = json.load(open(\"$work/phone.json\"))[\"interfaces\"][0][\"traffic\"]
assert [(d[\"rx\"], d[\"tx\"]) for d in t[\"day\"]] == [(30 * 1024, 20 * 1024)], t[\"day\"]
a = json.load(open(\"$work/phone-apps.json\"))[\"applications\"]
assert [(e[\"id\"], e[\"rx\"]) for e in a] == [(\"program3\", 3000)], a'"
"$bin/quantiro-reports" --summary --network Nigdzie >"$work/out" 2>"$work/err"
status=$?
check "--network naming no network: status 1 ($status) and the name" \
    '[ "$status" = 1 ] && grep -q "Nigdzie" "$work/err"'

# Over billing periods: the shared one begins today, the phone's package two days
# ago, so its row takes a day the others' leave out.
ago=$(date -d '-2 days' +%F)
printf '[General]\nLimitMiesieczny=1\nDzienRozliczeniowy=%d\n[Siec-nm_3A2]\nRodzajPlanu=1\nLimit=5\nPoczatek=%s\nDni=30\n' \
    "$((10#$(date +%d)))" "$ago" > "$work/.config/Kestrova/Quantiro.conf"
sqlite3 "$data/qub.db" "INSERT INTO ruch_sieci VALUES ('$ago', 12, 'nm:2', 5, 5, 0, 0)"
today_sum=$(sqlite3 "$data/qub.db" "SELECT SUM(Download) || ' ' || SUM(Upload) FROM trafic WHERE
    Data = date('now', 'localtime') AND Godzina BETWEEN 0 AND 23")
# Today's hours each less its networks' rows, none below nothing.
unknown_today=$(sqlite3 "$data/qub.db" "SELECT (SUM(MAX(d - n_d, 0)) * 1024) || ' ' || (SUM(MAX(u - n_u, 0)) * 1024)
    FROM (SELECT SUM(Download) AS d, SUM(Upload) AS u,
                 (SELECT COALESCE(SUM(Download), 0) FROM ruch_sieci r
                  WHERE r.Data = t.Data AND r.Godzina = t.Godzina) AS n_d,
                 (SELECT COALESCE(SUM(Upload), 0) FROM ruch_sieci r
                  WHERE r.Data = t.Data AND r.Godzina = t.Godzina) AS n_u
          FROM trafic t WHERE Data = date('now', 'localtime') AND Godzina BETWEEN 0 AND 23 GROUP BY Godzina)")
"$bin/quantiro-reports" --networks okres --json > "$work/periods.json"
check "--networks okres: the package's row over its own days, the others over the shared period" \
    "python3 - '$work' $today_sum '$ago' <<'PY'
import datetime, json, sys
rows = {r['id']: r for r in json.load(open(sys.argv[1] + '/periods.json'))['networks']}
ago = datetime.date.fromisoformat(sys.argv[4])
today = datetime.date.today().isoformat()
assert (rows['nm:2']['rx'], rows['nm:2']['from'], rows['nm:2']['to']) == \
    (35, ago.isoformat(), (ago + datetime.timedelta(days=29)).isoformat()), rows['nm:2']
assert (rows['nm:1']['rx'], rows['nm:1']['from']) == (90, today), rows['nm:1']
assert (rows['']['rx'], rows['']['tx'], rows['']['from']) == \
    (max(int(sys.argv[2]) - 120, 0), max(int(sys.argv[3]) - 60, 0), today), rows['']
PY"
"$bin/quantiro-reports" --networks > "$work/month.json" --json
check "--networks of a month keeps its shape: no from or to" '! grep -q "\"from\"" "$work/month.json"'
"$bin/quantiro-reports" --json --by day --network 'nieznana sieć' > "$work/unknown.json"
check "--network 'nieznana sieć': the hours less the networks' rows" "python3 -c '
import json; t = json.load(open(\"$work/unknown.json\"))[\"interfaces\"][0][\"traffic\"][\"day\"]
assert \"%d %d\" % (t[-1][\"rx\"], t[-1][\"tx\"]) == \"$unknown_today\", t[-1]'"

echo "not a database" > "$work/foreign.db"
mkdir -p "$work/other/Kestrova/Quantiro"
cp "$work/foreign.db" "$work/other/Kestrova/Quantiro/qub.db"
XDG_DATA_HOME=$work/other "$bin/quantiro-reports" --csv >"$work/out" 2>"$work/err"
status=$?
check "a foreign file: status 1 ($status) with its path" \
    '[ "$status" = 1 ] && grep -q "$work/other/Kestrova/Quantiro/qub.db" "$work/err"'
check "no Qt is loaded but for the window" \
    '! readelf -d "$bin/quantiro-reports" | grep -Eiq "NEEDED.*qt"'

# The meter's start: the month before this one, told of once however often it starts.
source "$(dirname "$0")/../notices.sh"
start_bus "$work"
trap 'kill $bus_pid 2>/dev/null; rm -rf "$work"' EXIT
start_recorder "$recorder" "$work/notices"
months=(styczeń luty marzec kwiecień maj czerwiec lipiec sierpień wrzesień październik listopad grudzień)
ended=$(date -d "$(date +%Y-%m-01) -1 day" +%Y-%m)
name="${months[$((10#${ended#*-} - 1))]} ${ended%-*}"
for _ in 1 2 3; do "$bin/ZVstat.dll" 1 & done
wait $(jobs -p | grep -v "^$service$") 2>/dev/null
"$bin/ZVstat.dll" 1
check "one notice of $name ($(wc -l < "$work/notices") in all)" \
    '[ "$(wc -l < "$work/notices")" = 1 ] && grep -q "Podsumowanie miesiąca: $name|Odebrano: .*Czas online: .*limitu" "$work/notices"'
check "the month is remembered" '[ "$(cat "$work/.local/state/Kestrova/Quantiro/reports.state")" = "$ended" ]'
kill "$service"
exit $((failures > 0))
