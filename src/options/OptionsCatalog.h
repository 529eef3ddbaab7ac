#pragma once

#include "common/SettingsValues.h"
#include "platform/Settings.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Every setting of the family a user may change, what it means, and the values
// it may take. The window and the command line of the options program both work
// from this table, so they check and write exactly the same way.
namespace quantiro::options {

enum class Kind { Flag, Number, Text };
enum class Page { Window, Connection, Warnings };

struct Choice {
    std::int32_t value;
    std::string_view caption;
};

// One row of the table. The name, the kind and the default come from the settings
// value it is made from (Flag, Number or Text below), never typed here a second time.
struct Setting {
    std::string_view name = {};
    Kind kind = Kind::Flag;
    Page page = Page::Window;
    // The field's label in the window, "&" before its mnemonic.
    std::string_view label;
    // One line for the list printed on a terminal.
    std::string_view meaning;
    // The value's default, as the settings file would hold it.
    bool defaultFlag = false;
    std::int64_t defaultNumber = 0;
    std::string_view defaultString = {};
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    // Numbers picked from a list rather than typed.
    std::span<const Choice> choices = {};
    // Read by the meter only when it starts.
    bool atNextStart = false;
    // A flag whose field shows the opposite, positive meaning.
    bool shownInverted = false;
    // A line under the field in the window, for a setting whose label cannot say it all.
    std::string_view note = {};
    // A text that names a directory: empty, or a path from the root.
    bool directory = false;
    // A text of network prefixes (CIDR) separated by commas, or empty.
    bool prefixes = false;
};

constexpr Setting Flag(const values::BoolValue& value, Setting setting) {
    setting.name = value.name;
    setting.kind = Kind::Flag;
    setting.defaultFlag = value.defaultValue;
    return setting;
}
constexpr Setting Number(const values::LongValue& value, Setting setting) {
    setting.name = value.name;
    setting.kind = Kind::Number;
    setting.defaultNumber = value.defaultValue;
    return setting;
}
constexpr Setting Text(const values::TextValue& value, Setting setting) {
    setting.name = value.name;
    setting.kind = Kind::Text;
    setting.defaultString = value.defaultValue;
    return setting;
}

// As the settings file holds it: "true", "512", "".
std::string DefaultText(const Setting& setting);

std::span<const Setting> Catalog();
const Setting* Find(std::string_view name);

// Setting name -> value as text, the way the settings file holds it.
using Values = std::map<std::string, std::string, std::less<>>;

// The value as the file holds it ("true", "1000"), or why `text` cannot be one.
struct Parsed {
    std::string text;
    std::string problem;
};
Parsed Parse(const Setting& setting, std::string_view text);
// As a user types it on the command line: a flag also as tak or nie, in any case.
Parsed ParseTyped(const Setting& setting, std::string_view text);

struct Problem {
    std::string name;
    std::string reason;
};
// Each value alone, and the thresholds together: set ones must rise.
std::vector<Problem> Check(const Values& values);

// Every setting of the catalog; one the file holds out of range or of the wrong
// type comes back as its default and is listed in `marked`.
struct Loaded {
    Values values;
    std::set<std::string, std::less<>> marked;
};
Loaded Load(platform::SettingsStore& settings);

// Writes the values that differ from what was loaded, nothing else, and raises
// "WasChanged" when any did, so the running meter reloads. Returns their names.
std::vector<std::string> Apply(platform::SettingsStore& settings, const Values& loaded,
                               const Values& edited);

} // namespace quantiro::options
