#pragma once

#include "platform/Settings.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::options {

// quantiro-options on a terminal: --list, --get NAME..., --set NAME=VALUE... (also
// repeated: --set A=1 --set B=2). `usage` is printed without arguments and after
// a call it does not know. Returns the exit status: 0 done, 1 the settings could
// not be written, 2 the arguments or a value were refused (and nothing was written).
int RunCommandLine(const std::vector<std::string>& arguments, platform::SettingsStore& settings,
                   std::ostream& out, std::ostream& errors, std::string_view usage);

// Why `arguments` cannot be run, judged without the settings, so that a refused
// call writes nothing at all; nullopt when they can.
std::optional<std::string> RefusalOf(const std::vector<std::string>& arguments);

// Every setting: name, current value, default and meaning, one a line.
void PrintList(platform::SettingsStore& settings, std::ostream& out);

} // namespace quantiro::options
