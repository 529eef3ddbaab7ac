#include "options/OptionsCommandLine.h"

#include "options/NetworkOptions.h"
#include "options/OptionsCatalog.h"

#include <iomanip>

namespace quantiro::options {

namespace {

std::string Shown(const std::string& text) {
    return text.empty() ? "\"\"" : text;
}

std::string UnknownSetting(const std::string& name) {
    return "nieznane ustawienie: " + name + " (wszystkie wypisuje quantiro-options --list)";
}

std::string MissingValue(const std::string& name) {
    return name + ": brak wartości; podaj " + name + "=WARTOŚĆ";
}

// The value refused and, in `problem`, what it may be.
std::string BadValue(const std::string& name, const std::string& value,
                     const std::string& problem) {
    return name + ": niepoprawna wartość „" + value + "”. " + problem;
}

} // namespace

void PrintList(platform::SettingsStore& settings, std::ostream& out) {
    const Loaded loaded = Load(settings);
    for (const Setting& setting : Catalog()) {
        std::string current = Shown(loaded.values.at(std::string(setting.name)));
        if (loaded.marked.contains(setting.name)) {
            current += " (!)"; // the file held something that is no valid value
        }
        out << std::left << std::setw(23) << setting.name << ' ' << std::setw(11) << current << ' '
            << std::setw(7) << Shown(DefaultText(setting)) << ' ' << setting.meaning << '\n';
    }
    if (!loaded.marked.empty()) {
        out << "(!) w pliku ustawień była niepoprawna wartość; obowiązuje domyślna.\n";
    }
}

std::optional<Refusal> RefusalOf(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    const std::string& command = arguments[0];
    if (IsNetworkCommand(arguments)) {
        const auto parsed = ParseNetworkCommand(arguments);
        if (const auto* refusal = std::get_if<Refusal>(&parsed)) {
            return *refusal;
        }
        return std::nullopt;
    }
    if (command == "--list" && arguments.size() == 1) {
        return std::nullopt;
    }
    if (command == "--list") {
        return Refusal{.reason = "--list nie przyjmuje argumentów", .unknownCall = true};
    }
    if (command == "--get" && arguments.size() >= 2) {
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            if (!Find(arguments[i])) {
                return Refusal{.reason = UnknownSetting(arguments[i])};
            }
        }
        return std::nullopt;
    }
    if (command != "--set" || arguments.size() < 2) {
        return Refusal{.reason = "niepoprawne wywołanie", .unknownCall = true};
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& assignment = arguments[i];
        // "--set A=1 --set B=2" says the same as "--set A=1 B=2".
        if (assignment == "--set" && i + 1 < arguments.size()) {
            continue;
        }
        const std::size_t equals = assignment.find('=');
        const std::string name = assignment.substr(0, equals);
        const Setting* setting = Find(name);
        if (!setting) {
            return Refusal{.reason = UnknownSetting(name)};
        }
        if (equals == std::string::npos) {
            return Refusal{.reason = MissingValue(name)};
        }
        const std::string value = assignment.substr(equals + 1);
        if (const Parsed parsed = ParseTyped(*setting, value); !parsed.problem.empty()) {
            return Refusal{.reason = BadValue(name, value, parsed.problem)};
        }
    }
    return std::nullopt;
}

int Refuse(std::ostream& errors, const Refusal& refusal, std::string_view usage) {
    errors << "quantiro-options: " << refusal.reason << '\n';
    if (refusal.unknownCall) {
        errors << '\n' << usage;
    }
    return 2;
}

int RunCommandLine(const std::vector<std::string>& arguments, platform::SettingsStore& settings,
                   std::ostream& out, std::ostream& errors, std::string_view usage) {
    if (arguments.empty()) {
        out << usage;
        return 0;
    }
    if (const auto refusal = RefusalOf(arguments)) {
        return Refuse(errors, *refusal, usage);
    }
    if (arguments[0] == "--list") {
        PrintList(settings, out);
        return 0;
    }
    if (arguments[0] == "--get") {
        const Loaded loaded = Load(settings);
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            out << loaded.values.at(arguments[i]) << '\n';
        }
        return 0;
    }
    const Loaded loaded = Load(settings);
    Values edited = loaded.values;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& assignment = arguments[i];
        if (assignment == "--set") {
            continue;
        }
        const std::size_t equals = assignment.find('=');
        const std::string name = assignment.substr(0, equals);
        edited[name] = ParseTyped(*Find(name), assignment.substr(equals + 1)).text;
    }
    // The new values together with the rest, as the meter will read them.
    if (const std::vector<Problem> problems = Check(edited); !problems.empty()) {
        return Refuse(errors, {.reason = problems.front().name + ": " + problems.front().reason},
                      usage);
    }
    try {
        Apply(settings, loaded.values, edited);
    } catch (const platform::SettingsError& error) {
        errors << "quantiro-options: " << error.what() << '\n';
        return 1;
    }
    return 0;
}

} // namespace quantiro::options
