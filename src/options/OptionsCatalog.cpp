#include "options/OptionsCatalog.h"

#include "common/StoredValues.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace quantiro::options {

namespace {

// The largest speed for which the bars' scale, counted in bytes, stays in 32 bits.
constexpr std::int64_t kFastestLink = 9'761'289;
constexpr std::int64_t kLargestLimit = 2'147'483'647;

constexpr std::array kShapes{Choice{0, "pełne okno"}, Choice{1, "małe okno"},
                             Choice{2, "poziomy pasek"}};
constexpr std::array kDirections{Choice{0, "odebrane"}, Choice{1, "wysłane"},
                                 Choice{2, "odebrane i wysłane"}};

constexpr std::array kSettings{
    Setting{"Size", Kind::Number, Page::Window, "&Kształt okna miernika:",
            "kształt okna: 0 pełne okno, 1 małe okno, 2 poziomy pasek", "0", 0, 2, kShapes},
    Setting{"OnTop", Kind::Flag, Page::Window, "Okno zawsze na &wierzchu",
            "okno zawsze na wierzchu", "true"},
    Setting{"Hide", Kind::Flag, Page::Window, "&Uruchamiaj ukryty", "uruchamiaj z ukrytym oknem",
            "false"},
    Setting{"UnloadInfo", Kind::Flag, Page::Window, "Pokazuj komunikat przy za&mykaniu okna",
            "komunikat przy zamykaniu okna", "true"},
    Setting{"MonitorShow", Kind::Flag, Page::Window, "Uruchamiaj mo&nitor razem z miernikiem",
            "monitor uruchamiany razem z miernikiem", "true"},
    Setting{"InfoFile",
            Kind::Flag,
            Page::Window,
            "Pokazuj po&dsumowanie przy uruchomieniu",
            "true: bez podsumowania miesiąca przy uruchomieniu",
            "false",
            0,
            0,
            {},
            false,
            true},
    Setting{"Interfejs",
            Kind::Text,
            Page::Connection,
            "Monitorowany &interfejs:",
            "monitorowany interfejs; pusty: interfejs trasy domyślnej",
            "",
            0,
            0,
            {},
            true},
    Setting{"Download", Kind::Number, Page::Connection, "Szybkość po&bierania (kbit/s):",
            "szybkość pobierania łącza w kbit/s", "512", 1, kFastestLink},
    Setting{"Upload", Kind::Number, Page::Connection, "Szybkość &wysyłania (kbit/s):",
            "szybkość wysyłania łącza w kbit/s", "128", 1, kFastestLink},
    Setting{"ExtError", Kind::Flag, Page::Connection, "Odrzucaj &nieprawdopodobne próbki",
            "odrzucanie próbek szybszych od łącza", "true"},
    Setting{"ExtErrorValue", Kind::Number, Page::Connection, "&Tolerancja (%):",
            "tolerancja odrzucania w procentach szybkości łącza", "130", 1, 1000},
    Setting{.name = "ZliczanieDokladne",
            .kind = Kind::Flag,
            .page = Page::Connection,
            .label = "Zliczaj &każdy kilobajt",
            .meaning = "true: do godzin trafia każdy kilobajt, także ruch poniżej 1 kB na 0,1 s",
            .defaultText = "false",
            .note = "Także drobny ruch w tle, jak liczy go operator; inaczej tylko próbki "
                    "powyżej 1 kB."},
    Setting{.name = "KatalogMetryk",
            .kind = Kind::Text,
            .page = Page::Connection,
            .label = "Katalog &metryk Prometheusa:",
            .meaning = "katalog pliku quantiro.prom dla node_exporter; pusty: bez metryk",
            .defaultText = "",
            .note = "Katalog, który czyta node_exporter (--collector.textfile.directory).",
            .directory = true},
    Setting{"OstrzezeniaEnabled", Kind::Flag, Page::Warnings, "Ostrzegaj o &limicie transferu",
            "ostrzeżenia o limicie transferu", "false"},
    Setting{"OstrzezeniaNiePokazuj", Kind::Flag, Page::Warnings, "Wstrzy&maj ostrzeżenia",
            "ostrzeżenia wstrzymane", "false"},
    Setting{"LimitMiesieczny", Kind::Number, Page::Warnings, "Limi&t okresu (MB):",
            "limit transferu okresu rozliczeniowego w MB; 0: brak", "0", 0, kLargestLimit},
    Setting{"LimitKierunek", Kind::Number, Page::Warnings, "&Do limitu liczą się:",
            "do limitu liczą się: 0 odebrane, 1 wysłane, 2 odebrane i wysłane", "2", 0, 2,
            kDirections},
    Setting{"LimitProg1", Kind::Number, Page::Warnings, "Pierwszy p&róg (%):",
            "pierwszy próg ostrzeżenia w procentach limitu; 0: wyłączony", "80", 0, 100},
    Setting{"LimitProg2", Kind::Number, Page::Warnings, "Drugi pró&g (%):",
            "drugi próg ostrzeżenia w procentach limitu; 0: wyłączony", "90", 0, 100},
    Setting{"LimitProg3", Kind::Number, Page::Warnings, "Trzec&i próg (%):",
            "trzeci próg ostrzeżenia w procentach limitu; 0: wyłączony", "100", 0, 100},
    Setting{"DzienRozliczeniowy", Kind::Number, Page::Warnings,
            "Dzień rozli&czeniowy:", "pierwszy dzień okresu rozliczeniowego, 1-31", "1", 1, 31},
};

constexpr std::array<std::string_view, 3> kThresholds{"LimitProg1", "LimitProg2", "LimitProg3"};

// Digits in groups of three, as the meter shows amounts: "9 761 289".
std::string Grouped(std::int64_t number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ' ';
        }
        grouped += digits[i];
    }
    return grouped;
}

} // namespace

std::span<const Setting> Catalog() {
    return kSettings;
}

const Setting* Find(std::string_view name) {
    const auto found = std::find_if(kSettings.begin(), kSettings.end(),
                                    [&](const Setting& setting) { return setting.name == name; });
    return found == kSettings.end() ? nullptr : &*found;
}

Parsed Parse(const Setting& setting, std::string_view text) {
    switch (setting.kind) {
    case Kind::Text:
        if (text.find_first_of("\n\r") != std::string_view::npos) {
            return {"", "Nazwa nie może zawierać końca wiersza."};
        }
        if (setting.directory && !text.empty() && text.front() != '/') {
            return {"", "Podaj pełną ścieżkę katalogu (od /) albo zostaw pole puste."};
        }
        return {std::string(text), ""};
    case Kind::Flag:
        // As the meter reads a stored flag: TRUE, 1 and 0 too.
        if (const auto flag = ParseStoredBool(std::string(text))) {
            return {*flag ? "true" : "false", ""};
        }
        return {"", "Oczekiwano true albo false."};
    case Kind::Number:
        break;
    }
    // Digits may come grouped with spaces, as the meter shows them.
    std::string digits(text);
    std::erase(digits, ' ');
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || end != digits.data() + digits.size() ||
        error == std::errc::invalid_argument) {
        return {"", "Oczekiwano liczby całkowitej."};
    }
    if (error != std::errc() || number < setting.minimum || number > setting.maximum) {
        return {"", "Dozwolone wartości: od " + Grouped(setting.minimum) + " do " +
                        Grouped(setting.maximum) + "."};
    }
    return {std::to_string(number), ""};
}

std::vector<Problem> Check(const Values& values) {
    std::vector<Problem> problems;
    for (const auto& [name, text] : values) {
        const Setting* setting = Find(name);
        if (!setting) {
            problems.push_back({name, "Nieznane ustawienie."});
        } else if (Parsed parsed = Parse(*setting, text); !parsed.problem.empty()) {
            problems.push_back({name, std::move(parsed.problem)});
        }
    }
    // Thresholds that are set must rise, or a later one would never be reached first.
    std::int64_t previous = 0;
    for (const std::string_view name : kThresholds) {
        const auto found = values.find(name);
        if (found == values.end()) {
            continue;
        }
        const Parsed parsed = Parse(*Find(name), found->second);
        if (!parsed.problem.empty() || parsed.text == "0") {
            continue;
        }
        const std::int64_t threshold = std::stoll(parsed.text);
        if (threshold <= previous) {
            problems.push_back({std::string(name), "Próg musi być większy od poprzedniego (" +
                                                       std::to_string(previous) + " %)."});
        }
        previous = std::max(previous, threshold);
    }
    return problems;
}

Loaded Load(platform::RegistrySettings& settings) {
    // A value that is not in the file reads as this, which no stored text can be.
    const std::string missing(1, '\0');
    Loaded loaded;
    for (const Setting& setting : kSettings) {
        const std::string stored = settings.ReadText(setting.name, missing);
        std::string text(setting.defaultText);
        if (stored != missing) {
            Parsed parsed = Parse(setting, stored);
            if (parsed.problem.empty()) {
                text = std::move(parsed.text);
            } else {
                loaded.marked.emplace(setting.name);
            }
        }
        loaded.values.emplace(setting.name, std::move(text));
    }
    return loaded;
}

std::vector<std::string> Apply(platform::RegistrySettings& settings, const Values& loaded,
                               const Values& edited) {
    std::vector<std::string> written;
    for (const auto& [name, text] : edited) {
        const auto before = loaded.find(name);
        if (before != loaded.end() && before->second == text) {
            continue;
        }
        switch (Find(name)->kind) {
        case Kind::Flag:
            settings.WriteBool(name, text == "true");
            break;
        case Kind::Number:
            settings.WriteLong(name, static_cast<std::int32_t>(std::stoll(text)));
            break;
        case Kind::Text:
            settings.WriteText(name, text);
            break;
        }
        written.push_back(name);
    }
    if (!written.empty()) {
        platform::Write(settings, values::kSettingsChanged, true);
    }
    return written;
}

} // namespace quantiro::options
