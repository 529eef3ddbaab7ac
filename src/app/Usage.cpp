#include "app/Usage.h"

#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace quantiro::app {

namespace {

constexpr std::array kMeterOptions{
    OptionText{"/START", "",
               "Uruchamia miernik bez sprawdzania, czy już działa (tak uruchamiają go programy "
               "rodziny Quantiro)."},
    OptionText{"--terminal", "", "Pracuje w terminalu, także gdy ekran graficzny jest dostępny."},
    OptionText{"--interface", "NAZWA",
               "Mierzy interfejs NAZWA zamiast interfejsu trasy domyślnej (jak zmienna "
               "QUANTIRO_INTERFACE)."},
    OptionText{"--variant", "small|horizontal",
               "Pokazuje małe okno albo poziomy pasek zamiast pełnego okna (jak nazwy ZVmal.dll i "
               "ZVpoz.dll)."},
    OptionText{"--autostart", "on|off",
               "Włącza lub wyłącza uruchamianie miernika razem z sesją użytkownika i kończy "
               "pracę."},
    OptionText{"--version", "", "Wypisuje wersję programu i kończy pracę."},
    OptionText{"--help", "", "Wypisuje ten opis i kończy pracę."},
};

constexpr std::array kOptionsOptions{
    OptionText{"--list", "",
               "Wypisuje wszystkie ustawienia: nazwę, wartość, wartość domyślną i znaczenie."},
    OptionText{"--get", "NAZWA...",
               "Wypisuje wartości podanych ustawień, każdą w osobnym wierszu."},
    OptionText{"--set", "NAZWA=WARTOŚĆ...",
               "Zmienia ustawienia: wszystkie albo żadne. Kilka par może stać po jednym --set "
               "albo każda po własnym. Przełącznik przyjmuje tak albo nie (albo true/false, "
               "1/0)."},
    OptionText{"--networks", "",
               "Wypisuje sieci, przez które płynął ruch: identyfikator, nazwę, rodzaj, czy jest "
               "taryfowana, i jej plan."},
    OptionText{"--network", "SIEĆ",
               "Zmienia plan sieci (identyfikator albo nazwa) jedną z opcji poniżej: --plan, "
               "--package, --unlimited albo --no-plan."},
    OptionText{"--plan", "LIMIT",
               "Plan miesięczny: LIMIT w MB albo GB (5GB, 500MB; 1 GB = 1024 MB) od dnia "
               "--from-day (1-31, domyślnie 1)."},
    OptionText{"--package", "LIMIT",
               "Pakiet LIMIT na --days dni (domyślnie 30) od dnia --start RRRR-MM-DD; po nich "
               "sieć wraca do planu wspólnego, aż pakiet zostanie odnowiony."},
    OptionText{"--direction", "0|1|2",
               "Do limitu planu liczą się odebrane (0), wysłane (1) albo oba kierunki (2, "
               "domyślnie)."},
    OptionText{"--unlimited", "", "Sieć bez limitu: liczona, bez ostrzeżeń."},
    OptionText{"--no-plan", "",
               "Sieć wraca do planu wspólnego (LimitMiesieczny i pokrewne ustawienia)."},
    OptionText{"--forget", "SIEĆ",
               "Zapomina sieć: usuwa jej plan i ukrywa ją, aż znów się pojawi; zapisany ruch "
               "zostaje."},
    OptionText{"--merge", "SIEĆ",
               "--merge SIEĆ INNA łączy dwie sieci, które są jedną: ruch sieci INNA przechodzi "
               "do sieci SIEĆ."},
    OptionText{"--version", "", "Wypisuje wersję programu i kończy pracę."},
    OptionText{"--help", "", "Wypisuje ten opis i kończy pracę."},
};

constexpr std::array kReportsOptions{
    OptionText{"godziny|dni|miesiace|lata|aplikacje|sieci", "",
               "WIDOK: otwiera okno raportów na godzinach dnia, dniach miesiąca (także bez "
               "widoku), miesiącach roku, latach, aplikacjach dnia albo sieciach miesiąca."},
    OptionText{"--csv", "", "Wypisuje ruch w bajtach jako CSV."},
    OptionText{"--json", "", "Wypisuje ruch w bajtach jako JSON (w kształcie wersji 2 vnStat)."},
    OptionText{"--by", "hour|day|month|year",
               "Grupuje ruch --csv i --json: godziny, dni, miesiące "
               "albo lata."},
    OptionText{"--from", "RRRR-MM-DD", "Pierwszy dzień wypisywanego ruchu."},
    OptionText{"--to", "RRRR-MM-DD", "Ostatni dzień wypisywanego ruchu."},
    OptionText{"--summary", "",
               "Wypisuje dzisiejszy dzień, miesiąc, okres rozliczeniowy i prognozę na jego "
               "koniec."},
    OptionText{"--apps", "[RRRR-MM-DD|RRRR-MM]",
               "Wypisuje ruch aplikacji dnia (domyślnie dzisiejszego) albo miesiąca: dziesięć "
               "największych, pozostałe razem i nieprzypisany ruch osobno, z ruchem w sieci "
               "lokalnej obok; z --json wszystkie aplikacje w kB (sieć lokalna w rx_local i "
               "tx_local). Wymaga usługi quantiro-collector."},
    OptionText{"--networks", "[RRRR-MM-DD|RRRR-MM|okres]",
               "Wypisuje ruch każdej sieci dnia albo miesiąca (domyślnie bieżącego): odebrano, "
               "wysłano, sieć lokalna i udział; godziny zapisane, zanim sieci były znane, jako "
               "„nieznana sieć”. Z okres każda sieć w bieżącym okresie rozliczeniowym własnego "
               "planu, inne we wspólnym. Z --json w kB: id, name, kind, metered, rx, tx, "
               "rx_local, tx_local (z okres także from i to)."},
    OptionText{"--network", "NAZWA",
               "Zawęża --apps, --summary, --json i --csv do ruchu sieci o tej nazwie (albo "
               "identyfikatorze); „nieznana sieć” to ruch godzin bez znanej sieci."},
    OptionText{"--version", "", "Wypisuje wersję programu i kończy pracę."},
    OptionText{"--help", "", "Wypisuje ten opis i kończy pracę."},
};

constexpr std::array kMonitorOptions{
    OptionText{"--version", "", "Wypisuje wersję programu i kończy pracę."},
    OptionText{"--help", "", "Wypisuje ten opis i kończy pracę."},
};

constexpr std::array kCollectorOptions{
    OptionText{"--socket", "ŚCIEŻKA",
               "Przyjmuje pytania czytników na gnieździe ŚCIEŻKA zamiast "
               "/run/quantiro/collector.sock."},
    OptionText{"--cgroup", "ŚCIEŻKA",
               "Liczy ruch grupy ŚCIEŻKA i grup w niej zamiast całej hierarchii cgroup v2."},
    OptionText{"--entries", "N",
               "Mapa liczników mieści N wpisów zamiast 16384 (wpis to program, interfejs, "
               "kierunek i rodzaj ruchu); każdy procesor dodaje 32 bajty na wpis."},
    OptionText{"--entries-per-user", "N",
               "Jeden użytkownik (jego plaster user-UID.slice, razem z podrzędnymi uid) zajmuje "
               "najwyżej N wpisów zamiast 2048; nowe programy ponad to liczą się w jego "
               "wierszu „pozostałe”."},
    OptionText{"--user-prefix-entries", "N",
               "Tablica prefiksów lokalnych wszystkich użytkowników (SiecLokalna, najwyżej 64 "
               "na użytkownika) mieści N wpisów zamiast 4096."},
    OptionText{"--users-cgroup", "ŚCIEŻKA",
               "Grupa, której podgrupy są plastrami użytkowników, zamiast user.slice w "
               "hierarchii cgroup v2."},
    OptionText{"--verbose", "",
               "Przekazuje do dziennika także komunikaty modułu ładującego programy BPF "
               "(libbpf, po angielsku): przy kłopotach z jądrem, które ich nie przyjmuje."},
    OptionText{"--status", "",
               "Pyta działającą usługę przez jej gniazdo (podane opcją --socket, zmienną "
               "QUANTIRO_COLLECTOR albo domyślne) i wypisuje, czy działa, od kiedy, dla ilu "
               "właścicieli liczy ruch, ilu ma czytników i jak pełne są jej mapy; kończy pracę "
               "ze stanem 3, gdy żadna nie działa. Może go użyć każdy użytkownik."},
    OptionText{"--version", "", "Wypisuje wersję programu i kończy pracę."},
    OptionText{"--help", "", "Wypisuje ten opis i kończy pracę."},
};

constexpr std::array kFamilyFiles{
    NamedText{"~/.config/Kestrova/Quantiro.conf", "Ustawienia programów rodziny."},
    NamedText{"~/.local/share/Kestrova/Quantiro/qub.db", "Baza danych ruchu, rekord na godzinę."},
    NamedText{"~/.cache/Kestrova/Quantiro/", "Pobrana lista komunikatów i ich strony."},
    NamedText{"~/.config/autostart/quantiro.desktop", "Uruchamianie razem z sesją."},
    NamedText{"/usr/lib/quantiro/", "Programy rodziny i domyślny plik quantiro.par."},
};

constexpr std::array kFamilyEnvironment{
    NamedText{"QUANTIRO_INTERFACE", "Interfejs mierzony zamiast interfejsu trasy domyślnej."},
    NamedText{"QUANTIRO_COLLECTOR",
              "Gniazdo usługi quantiro-collector, od której programy rodziny biorą ruch "
              "poszczególnych programów, zamiast /run/quantiro/collector.sock (na przykład "
              "usługi uruchomionej z --socket ŚCIEŻKA)."},
    NamedText{"XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR",
              "Katalogi ustawień, danych, pobranych plików i blokady; domyślne są podane wyżej, "
              "w części PLIKI."},
};

constexpr std::string_view kFamilyExitStatus =
    "0, gdy program zakończył pracę zwyczajnie; 1, gdy nie mógł zacząć pracy (na przykład z "
    "powodu nieczytelnej bazy danych); 2, gdy nie rozpoznał opcji lub wartości.";

constexpr std::array kCollectorFiles{
    NamedText{"/run/quantiro/collector.sock",
              "Gniazdo, przez które pytają miernik, jego programy i --status."},
    NamedText{"/run/quantiro/collector.sock.lock",
              "Blokada: jedna usługa na jednym gnieździe; druga kończy pracę."},
    NamedText{"/usr/lib/systemd/system/quantiro-collector.service",
              "Jednostka systemd: start razem z systemem, jako użytkownik dynamiczny, tylko z "
              "uprawnieniami CAP_BPF, CAP_NET_ADMIN i CAP_PERFMON, z powodem każdego."},
};

constexpr std::array kCollectorEnvironment{
    NamedText{"QUANTIRO_COLLECTOR", "Gniazdo, które pyta --status, gdy nie podano --socket."},
    NamedText{"JOURNAL_STREAM",
              "Ustawia ją systemd; gdy wskazuje standardowe wyjście błędów, każdy wiersz usługi "
              "niesie w dzienniku swój priorytet."},
};

constexpr std::string_view kCollectorExitStatus =
    "0, gdy usługa zakończyła pracę na sygnał albo --status zastał ją działającą; 1, gdy nie "
    "mogła zacząć pracy (brak uprawnień, hierarchii cgroup v2 albo katalogu gniazda) albo na tym "
    "samym gnieździe działa już inna; 2, gdy nie rozpoznała opcji lub wartości; 3, gdy --status "
    "nie zastał działającej usługi; 4, gdy --status nie mógł tego stwierdzić.";

constexpr ProgramUsage kMeter{
    .program = "quantiro",
    .synopsis = "[OPCJA]...",
    .summary = "miernik ruchu sieciowego",
    .description =
        "Pokazuje prędkość pobierania i wysyłania danych przez monitorowany interfejs sieciowy, "
        "liczy ruch każdej godziny, zapisuje go w bazie danych i sumuje ruch bieżącego miesiąca. "
        "Pracuje w oknie i w obszarze powiadomień, a bez ekranu graficznego w terminalu. Ruch "
        "poszczególnych programów zapisuje obok każdej godziny, gdy działa usługa "
        "quantiro-collector; bez niej liczy tylko ruch całego interfejsu.",
    .options = kMeterOptions,
    .files = kFamilyFiles,
    .environment = kFamilyEnvironment,
    .exitStatus = kFamilyExitStatus,
};

constexpr ProgramUsage kOptions{
    .program = "quantiro-options",
    .synopsis = "[OPCJA]...",
    .summary = "ustawienia miernika Quantiro",
    .description = "Bez opcji otwiera okno ustawień miernika i programów rodziny (bez ekranu "
                   "graficznego wypisuje ustawienia). Zapisuje tylko poprawne wartości; działający "
                   "miernik przyjmuje zmiany w ciągu jednej dziesiątej sekundy. TylkoInternet=tak "
                   "liczy tylko ruch rozliczany przez operatora: ruch z siecią lokalną (prywatne "
                   "zakresy adresów, sieci podłączone bezpośrednio i sieci z ustawienia "
                   "SiecLokalna, np. 203.0.113.0/24,2001:db8:7::/48) nie wlicza się do miesiąca, "
                   "okresu, limitu ani raportów, które pokazują go osobno; wymaga usługi "
                   "quantiro-collector.",
    .options = kOptionsOptions,
    .files = kFamilyFiles,
    .environment = kFamilyEnvironment,
    .exitStatus = kFamilyExitStatus,
};

constexpr ProgramUsage kReports{
    .program = "quantiro-reports",
    .synopsis = "[WIDOK | --csv|--json|--apps|--networks|--summary ...]",
    .summary = "raporty ruchu miernika Quantiro",
    .description = "Bez opcji otwiera okno z ruchem godzin dnia, dni miesiąca, miesięcy roku i "
                   "lat, z okresem rozliczeniowym na tle limitu, oraz z ruchem aplikacji. Opcje "
                   "wypisują ten sam ruch w terminalu.",
    .options = kReportsOptions,
    .files = kFamilyFiles,
    .environment = kFamilyEnvironment,
    .exitStatus = kFamilyExitStatus,
};

constexpr ProgramUsage kMonitor{
    .program = "quantiro-monitor",
    .synopsis = "[OPCJA]",
    .summary = "wykres prędkości na żywo miernika Quantiro",
    .description =
        "Pokazuje wykres prędkości pobierania i wysyłania przez interfejs mierzony przez "
        "miernik: ostatnie dwie minuty albo ostatnią godzinę, z prędkością bieżącą, "
        "średnią i największą. Miernik uruchamia go sam, gdy to ustawiono.",
    .options = kMonitorOptions,
    .files = kFamilyFiles,
    .environment = kFamilyEnvironment,
    .exitStatus = kFamilyExitStatus,
};

constexpr ProgramUsage kCollector{
    .program = "quantiro-collector",
    .synopsis = "[OPCJA]...",
    .summary = "usługa licząca ruch programów dla miernika Quantiro",
    .description =
        "Od startu systemu liczy ruch każdego gniazda sieciowego według przestrzeni nazw i "
        "interfejsu, kierunku, programu i rodzaju (lokalny albo rozliczany), programami BPF "
        "w hierarchii cgroup v2. Miernik czyta liczniki przez gniazdo uniksowe; każdy "
        "użytkownik widzi z nazwy tylko własne programy i usługi systemu, i tylko ruch przestrzeni "
        "nazw sieci, w której jest (root każdej). Pakiet ją włącza; "
        "wyłącza ją systemctl disable --now quantiro-collector, a włącza znów systemctl enable "
        "--now quantiro-collector. Bez systemd uruchamia ją root (katalog /run/quantiro musi "
        "istnieć), a kończy sygnał SIGTERM. Swoje wiersze, po polsku, pisze na standardowe wyjście "
        "błędów, które systemd przekazuje do dziennika (journalctl -u quantiro-collector): start, "
        "odmowy czytnikom (najwyżej pięć na minutę każdego rodzaju, potem ich liczba) i raz każdy "
        "błąd, po którym pracuje dalej.",
    .options = kCollectorOptions,
    .section = 8,
    .files = kCollectorFiles,
    .environment = kCollectorEnvironment,
    .exitStatus = kCollectorExitStatus,
};

// Roff reads a leading dot or apostrophe as a request and a backslash as an escape;
// a minus in an option must be a real minus sign.
std::string Roff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

// Columns on a terminal: every UTF-8 sequence is one character.
std::size_t Columns(std::string_view text) {
    std::size_t columns = 0;
    for (const char c : text) {
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return columns;
}

// Breaks `text` between words into lines of about `width` characters.
std::vector<std::string> Wrap(std::string_view text, std::size_t width) {
    std::vector<std::string> lines(1);
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = std::min(text.find(' ', from), text.size());
        const std::string_view word = text.substr(from, end - from);
        if (!lines.back().empty() && Columns(lines.back()) + 1 + Columns(word) > width) {
            lines.emplace_back();
        }
        lines.back() += (lines.back().empty() ? "" : " ") + std::string(word);
        from = end + 1;
    }
    return lines;
}

} // namespace

const ProgramUsage& MeterUsage() {
    return kMeter;
}
const ProgramUsage& OptionsUsage() {
    return kOptions;
}
const ProgramUsage& ReportsUsage() {
    return kReports;
}
const ProgramUsage& MonitorUsage() {
    return kMonitor;
}
const ProgramUsage& CollectorUsage() {
    return kCollector;
}

const ProgramUsage* UsageOf(std::string_view program) {
    for (const ProgramUsage* usage : {&kMeter, &kOptions, &kReports, &kMonitor, &kCollector}) {
        if (usage->program == program) {
            return usage;
        }
    }
    return nullptr;
}

std::string HelpText(const ProgramUsage& usage) {
    constexpr std::size_t kIndent = 24;
    constexpr std::size_t kWidth = 79;
    std::string out = "Użycie: " + std::string(usage.program) + " " + std::string(usage.synopsis) +
                      "\n" + std::string(usage.summary) + ".\n\n";
    for (const std::string& line : Wrap(usage.description, kWidth)) {
        out += line + '\n';
    }
    out += "\nOpcje:\n";
    for (const OptionText& option : usage.options) {
        std::string head = "  " + std::string(option.name);
        if (!option.argument.empty()) {
            head += " " + std::string(option.argument);
        }
        // Two spaces at least between an option and its text; a longer one has its
        // text on the lines below.
        if (Columns(head) + 2 > kIndent) {
            out += head + '\n';
            head.clear();
        }
        for (const std::string& line : Wrap(option.description, kWidth - kIndent)) {
            head.resize(head.size() + kIndent - Columns(head), ' ');
            out += head + line + '\n';
            head.clear();
        }
    }
    return out;
}

std::string VersionText(const ProgramUsage& usage) {
    return std::string(usage.program) + " " + QUANTIRO_VERSION + "\n";
}

void WriteManualPage(std::ostream& out, const ProgramUsage& usage, std::string_view version) {
    std::string title(usage.program);
    for (char& c : title) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    out << ".TH " << Roff(title) << " " << usage.section << " \"\" \"quantiro " << version
        << "\" \""
        << (usage.section == 8 ? "Polecenia zarządzania systemem" : "Polecenia użytkownika")
        << "\"\n"
        << ".SH NAZWA\n"
        << Roff(usage.program) << " \\- " << usage.summary << "\n"
        << ".SH SKŁADNIA\n.B " << Roff(usage.program) << "\n"
        << Roff(usage.synopsis) << "\n"
        << ".SH OPIS\n"
        << Roff(usage.description) << "\n"
        << ".SH OPCJE\n";
    for (const OptionText& option : usage.options) {
        out << ".TP\n.B " << Roff(option.name);
        if (!option.argument.empty()) {
            out << " \\fI" << Roff(option.argument) << "\\fR";
        }
        out << "\n" << Roff(option.description) << "\n";
    }
    out << ".SH PLIKI\n";
    for (const NamedText& file : usage.files) {
        out << ".TP\n.I " << Roff(file.name) << "\n" << Roff(file.description) << "\n";
    }
    out << ".SH ŚRODOWISKO\n";
    for (const NamedText& variable : usage.environment) {
        out << ".TP\n.B " << Roff(variable.name) << "\n" << Roff(variable.description) << "\n";
    }
    out << ".SH \"KOD WYJŚCIA\"\n" << Roff(usage.exitStatus) << "\n";
    out << ".SH \"ZOBACZ TAKŻE\"\n";
    bool first = true;
    for (const ProgramUsage* other : {&kMeter, &kOptions, &kReports, &kMonitor, &kCollector}) {
        if (other != &usage) {
            out << (first ? "" : ",\n") << ".BR " << Roff(other->program) << " (" << other->section
                << ")";
            first = false;
        }
    }
    out << "\n";
    if (&usage == &kMeter) {
        out << ".PP\nProgramy rodziny są też w katalogu /usr/lib/quantiro pod nazwami, którymi "
               "uruchamia je miernik.\n";
    }
}

} // namespace quantiro::app
