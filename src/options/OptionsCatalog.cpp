#include "options/OptionsCatalog.h"

#include "common/NetworkPrefixes.h"
#include "common/StoredValues.h"

#include <algorithm>
#include <array>
#include <cctype>
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
    Number(values::kWindowVariant,
           {.page = Page::Window,
            .label = "&Kształt okna miernika:",
            .meaning = "kształt okna: 0 pełne okno, 1 małe okno, 2 poziomy pasek",
            .minimum = 0,
            .maximum = 2,
            .choices = kShapes}),
    Flag(values::kOnTop, {.page = Page::Window,
                          .label = "Okno zawsze na &wierzchu",
                          .meaning = "okno zawsze na wierzchu"}),
    Flag(values::kStartHidden, {.page = Page::Window,
                                .label = "&Uruchamiaj ukryty",
                                .meaning = "uruchamiaj z ukrytym oknem"}),
    Flag(values::kShowCloseNotice, {.page = Page::Window,
                                    .label = "Pokazuj komunikat przy za&mykaniu okna",
                                    .meaning = "komunikat przy zamykaniu okna"}),
    Flag(values::kStartMonitor, {.page = Page::Window,
                                 .label = "Uruchamiaj mo&nitor razem z miernikiem",
                                 .meaning = "monitor uruchamiany razem z miernikiem"}),
    Flag(values::kNoStartSummary, {.page = Page::Window,
                                   .label = "Pokazuj po&dsumowanie przy uruchomieniu",
                                   .meaning = "true: bez podsumowania miesiąca przy uruchomieniu",
                                   .shownInverted = true}),
    Text(values::kInterfaceName,
         {.page = Page::Connection,
          .label = "Monitorowany &interfejs:",
          .meaning = "monitorowany interfejs; pusty: interfejs trasy domyślnej",
          .atNextStart = true}),
    Number(values::kDownloadForScale, {.page = Page::Connection,
                                       .label = "Szybkość po&bierania (kbit/s):",
                                       .meaning = "szybkość pobierania łącza w kbit/s",
                                       .minimum = 1,
                                       .maximum = kFastestLink}),
    Number(values::kUploadForScale, {.page = Page::Connection,
                                     .label = "Szybkość &wysyłania (kbit/s):",
                                     .meaning = "szybkość wysyłania łącza w kbit/s",
                                     .minimum = 1,
                                     .maximum = kFastestLink}),
    Flag(values::kRateCheck, {.page = Page::Connection,
                              .label = "Odrzucaj &nieprawdopodobne próbki",
                              .meaning = "odrzucanie próbek szybszych od łącza"}),
    Number(values::kRateTolerancePercent,
           {.page = Page::Connection,
            .label = "&Tolerancja (%):",
            .meaning = "tolerancja odrzucania w procentach szybkości łącza",
            .minimum = 1,
            .maximum = 1000}),
    Flag(values::kExactCounting,
         {.page = Page::Connection,
          .label = "Zliczaj &każdy kilobajt",
          .meaning = "true: do godzin trafia każdy kilobajt, także ruch poniżej 1 kB na 0,1 s",
          .note = "Także drobny ruch w tle, jak liczy go operator (domyślnie); wyłączone: "
                  "tylko próbki powyżej 1 kB."}),
    Text(values::kMetricsDirectory,
         {.page = Page::Connection,
          .label = "Katalog &metryk Prometheusa:",
          .meaning = "katalog pliku quantiro.prom dla node_exporter; pusty: bez metryk",
          .note = "Katalog, który czyta node_exporter (--collector.textfile.directory).",
          .directory = true}),
    Flag(values::kInternetOnly,
         {.page = Page::Connection,
          .label = "Licz tylko ruch &internetowy",
          .meaning = "true: miesiąc, okres, limit i raporty liczą tylko ruch rozliczany przez "
                     "operatora, bez sieci lokalnej",
          .note = "Ruch z siecią lokalną (NAS, drukarka, telewizor) nie liczy się do limitu. "
                  "Wymaga usługi quantiro-collector; bez niej liczony jest cały ruch."}),
    Text(values::kLocalNetworks,
         {.page = Page::Connection,
          .label = "Własne sieci &lokalne:",
          .meaning = "sieci (CIDR, rozdzielone przecinkami) liczone jako lokalne obok "
                     "prywatnych i podłączonych bezpośrednio",
          .note = "Np. 203.0.113.0/24, 2001:db8:7::/48",
          .prefixes = true}),
    Flag(values::kWarningsEnabled, {.page = Page::Warnings,
                                    .label = "Ostrzegaj o &limicie transferu",
                                    .meaning = "ostrzeżenia o limicie transferu"}),
    Flag(values::kWarningsSuppressed, {.page = Page::Warnings,
                                       .label = "Wstrzy&maj ostrzeżenia",
                                       .meaning = "ostrzeżenia wstrzymane"}),
    Number(values::kPeriodLimit, {.page = Page::Warnings,
                                  .label = "Limi&t okresu (MB):",
                                  .meaning = "limit transferu okresu rozliczeniowego w MB; 0: brak",
                                  .minimum = 0,
                                  .maximum = kLargestLimit}),
    Number(values::kLimitDirection,
           {.page = Page::Warnings,
            .label = "&Do limitu liczą się:",
            .meaning = "do limitu liczą się: 0 odebrane, 1 wysłane, 2 odebrane i wysłane",
            .minimum = 0,
            .maximum = 2,
            .choices = kDirections}),
    Number(values::kLimitThreshold1,
           {.page = Page::Warnings,
            .label = "Pierwszy p&róg (%):",
            .meaning = "pierwszy próg ostrzeżenia w procentach limitu; 0: wyłączony",
            .minimum = 0,
            .maximum = 100}),
    Number(values::kLimitThreshold2,
           {.page = Page::Warnings,
            .label = "Drugi pró&g (%):",
            .meaning = "drugi próg ostrzeżenia w procentach limitu; 0: wyłączony",
            .minimum = 0,
            .maximum = 100}),
    Number(values::kLimitThreshold3,
           {.page = Page::Warnings,
            .label = "Trzec&i próg (%):",
            .meaning = "trzeci próg ostrzeżenia w procentach limitu; 0: wyłączony",
            .minimum = 0,
            .maximum = 100}),
    Number(values::kBillingDay, {.page = Page::Warnings,
                                 .label = "Dzień rozli&czeniowy:",
                                 .meaning = "pierwszy dzień okresu rozliczeniowego, 1-31",
                                 .minimum = 1,
                                 .maximum = 31}),
};

constexpr std::array kThresholds{values::kLimitThreshold1.name, values::kLimitThreshold2.name,
                                 values::kLimitThreshold3.name};

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

std::string DefaultText(const Setting& setting) {
    switch (setting.kind) {
    case Kind::Flag:
        return setting.defaultFlag ? "true" : "false";
    case Kind::Number:
        return std::to_string(setting.defaultNumber);
    case Kind::Text:
        break;
    }
    return std::string(setting.defaultString);
}

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
        if (setting.prefixes) {
            if (const auto parsed = prefixes::ParseList(text);
                const auto* problem = std::get_if<std::string>(&parsed)) {
                return {"", "Niepoprawna sieć: " + *problem + "."};
            }
        }
        return {std::string(text), ""};
    case Kind::Flag:
        // As the meter reads a stored flag: TRUE, 1 and 0 too.
        if (const auto flag = ParseStoredBool(std::string(text))) {
            return {*flag ? "true" : "false", ""};
        }
        return {"", "Oczekiwano tak albo nie (albo true/false, 1/0; wielkość liter bez "
                    "znaczenia)."};
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
        return {"", "Oczekiwano liczby całkowitej od " + Grouped(setting.minimum) + " do " +
                        Grouped(setting.maximum) + "."};
    }
    if (error != std::errc() || number < setting.minimum || number > setting.maximum) {
        return {"", "Dozwolone wartości: od " + Grouped(setting.minimum) + " do " +
                        Grouped(setting.maximum) + "."};
    }
    return {std::to_string(number), ""};
}

Parsed ParseTyped(const Setting& setting, std::string_view text) {
    if (setting.kind == Kind::Flag) {
        // The file keeps true and false; tak and nie are only what a Polish user types.
        std::string lower(text);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower == "tak" || lower == "nie") {
            return {lower == "tak" ? "true" : "false", ""};
        }
    }
    return Parse(setting, text);
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

Loaded Load(platform::SettingsStore& settings) {
    // A value that is not in the file reads as this, which no stored text can be.
    const std::string missing(1, '\0');
    Loaded loaded;
    for (const Setting& setting : kSettings) {
        const std::string stored = settings.ReadText(setting.name, missing);
        std::string text = DefaultText(setting);
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

std::vector<std::string> Apply(platform::SettingsStore& settings, const Values& loaded,
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
