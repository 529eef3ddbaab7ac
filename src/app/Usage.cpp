#include "app/Usage.h"

#include <array>
#include <string>
#include <vector>

namespace quantiro::app {

namespace {

struct OptionText {
    std::string_view name;
    std::string_view argument;
    std::string_view description;
};

constexpr std::string_view kSummary = "miernik ruchu sieciowego";

constexpr std::string_view kDescription =
    "Pokazuje prędkość pobierania i wysyłania danych przez monitorowany interfejs sieciowy, "
    "liczy ruch każdej godziny, zapisuje go w bazie danych i sumuje ruch bieżącego miesiąca. "
    "Pracuje w oknie i w obszarze powiadomień, a bez ekranu graficznego w terminalu.";

constexpr std::array kOptions{
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

struct FileText {
    std::string_view path;
    std::string_view description;
};

constexpr std::array kFiles{
    FileText{"~/.config/Kestrova/Quantiro.conf", "Ustawienia programów rodziny."},
    FileText{"~/.local/share/Kestrova/Quantiro/qub.db", "Baza danych ruchu, rekord na godzinę."},
    FileText{"~/.cache/Kestrova/Quantiro/", "Pobrana lista komunikatów i ich strony."},
    FileText{"~/.config/autostart/quantiro.desktop", "Uruchamianie razem z sesją."},
    FileText{"/usr/lib/quantiro/", "Programy rodziny i domyślny plik quantiro.par."},
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

// Breaks `text` between words into lines of about `width` characters.
std::vector<std::string> Wrap(std::string_view text, std::size_t width) {
    std::vector<std::string> lines(1);
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = std::min(text.find(' ', from), text.size());
        const std::string_view word = text.substr(from, end - from);
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) {
            lines.emplace_back();
        }
        lines.back() += (lines.back().empty() ? "" : " ") + std::string(word);
        from = end + 1;
    }
    return lines;
}

} // namespace

std::string HelpText() {
    constexpr std::size_t kIndent = 22;
    std::string out =
        "Użycie: quantiro [OPCJA]...\nQuantiro, " + std::string(kSummary) + ".\n\nOpcje:\n";
    for (const OptionText& option : kOptions) {
        std::string head = "  " + std::string(option.name);
        if (!option.argument.empty()) {
            head += " " + std::string(option.argument);
        }
        head.resize(kIndent, ' ');
        for (const std::string& line : Wrap(option.description, 78 - kIndent)) {
            out += head + line + '\n';
            head.assign(kIndent, ' ');
        }
    }
    return out;
}

void WriteManualPage(std::ostream& out, std::string_view version) {
    out << ".TH QUANTIRO 1 \"\" \"quantiro " << version << "\" \"Polecenia użytkownika\"\n"
        << ".SH NAZWA\nquantiro \\- " << kSummary << "\n"
        << ".SH SKŁADNIA\n.B quantiro\n[\\fIOPCJA\\fR]...\n"
        << ".SH OPIS\n"
        << Roff(kDescription) << "\n"
        << ".SH OPCJE\n";
    for (const OptionText& option : kOptions) {
        out << ".TP\n.B " << Roff(option.name);
        if (!option.argument.empty()) {
            out << " \\fI" << Roff(option.argument) << "\\fR";
        }
        out << "\n" << Roff(option.description) << "\n";
    }
    out << ".SH PLIKI\n";
    for (const FileText& file : kFiles) {
        out << ".TP\n.I " << Roff(file.path) << "\n" << Roff(file.description) << "\n";
    }
    out << ".SH ŚRODOWISKO\n"
        << ".TP\n.B QUANTIRO_INTERFACE\nInterfejs mierzony zamiast interfejsu trasy domyślnej.\n"
        << ".TP\n.B XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR\n"
        << "Katalogi ustawień, danych, pobranych plików i blokady; domyślnie jak niżej.\n";
    out << ".SH \"KOD WYJŚCIA\"\n"
        << "0, gdy program zakończył pracę zwyczajnie; 1, gdy nie mógł zacząć pracy (na przykład "
           "z powodu nieczytelnej bazy danych); 2, gdy nie rozpoznał opcji.\n";
}

} // namespace quantiro::app
