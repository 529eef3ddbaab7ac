#include "options/OptionsCommandLine.h"

#include "options/OptionsCatalog.h"

#include <iomanip>

namespace quantiro::options {

namespace {

std::string Shown(const std::string& text) {
    return text.empty() ? "\"\"" : text;
}

int Refuse(std::ostream& errors, const std::string& why) {
    errors << "quantiro-options: " << why << '\n';
    return 2;
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

std::optional<std::string> RefusalOf(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    const std::string& command = arguments[0];
    if (command == "--list") {
        return arguments.size() == 1
                   ? std::nullopt
                   : std::optional<std::string>("--list nie przyjmuje argumentów");
    }
    if (command == "--get" && arguments.size() >= 2) {
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            if (!Find(arguments[i])) {
                return "nieznane ustawienie: " + arguments[i];
            }
        }
        return std::nullopt;
    }
    if (command != "--set" || arguments.size() < 2) {
        return "niepoprawne wywołanie";
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
        if (equals == std::string::npos || !setting) {
            return "nieznane ustawienie: " + name;
        }
        if (const Parsed parsed = Parse(*setting, assignment.substr(equals + 1));
            !parsed.problem.empty()) {
            return name + ": " + parsed.problem;
        }
    }
    return std::nullopt;
}

int RunCommandLine(const std::vector<std::string>& arguments, platform::SettingsStore& settings,
                   std::ostream& out, std::ostream& errors, std::string_view usage) {
    if (arguments.empty()) {
        out << usage;
        return 0;
    }
    if (const auto refusal = RefusalOf(arguments)) {
        errors << "quantiro-options: " << *refusal << "\n\n" << usage;
        return 2;
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
        edited[name] = Parse(*Find(name), assignment.substr(equals + 1)).text;
    }
    // The new values together with the rest, as the meter will read them.
    if (const std::vector<Problem> problems = Check(edited); !problems.empty()) {
        return Refuse(errors, problems.front().name + ": " + problems.front().reason);
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
