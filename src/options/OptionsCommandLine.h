#pragma once

#include "platform/Registry.h"

#include <ostream>
#include <string>
#include <vector>

namespace quantiro::options {

// quantiro-options on a terminal: --list, --get NAME, --set NAME=VALUE..., --help.
// Returns the exit status: 0 done, 1 the settings could not be written, 2 the
// arguments or a value were refused (and nothing was written).
int RunCommandLine(const std::vector<std::string>& arguments,
                   platform::RegistrySettings& settings, std::ostream& out, std::ostream& errors);

// Every setting: name, current value, default and meaning, one a line.
void PrintList(platform::RegistrySettings& settings, std::ostream& out);

} // namespace quantiro::options
